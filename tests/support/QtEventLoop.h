#pragma once
// The Qt main loop driven from a test or a bench (Qt programs only; header-only, so the
// support library itself needs no Qt): the application object made once, the loop run until
// something holds or for a while.
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <chrono>
#include <functional>
#include <string>

namespace pelora::testing {

// Makes the process's QApplication under `name` unless one exists; it lives until exit.
inline void ensureApplication(const char* name) {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static std::string programName;
    programName = name;
    static char* argv[] = {programName.data(), nullptr};
    new QApplication(argc, argv);
}

// Runs the main loop until `done` holds or `limit` passes; returns `done()`.
inline bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limit.count()) QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    return done();
}

inline bool spinUntil(const std::function<bool()>& done, int limitMs) {
    return spinUntil(done, std::chrono::milliseconds(limitMs));
}

// Runs the main loop for `span`.
inline void spinFor(std::chrono::milliseconds span) {
    spinUntil([] { return false; }, span);
}

inline void spinFor(int ms) { spinFor(std::chrono::milliseconds(ms)); }

}  // namespace pelora::testing
