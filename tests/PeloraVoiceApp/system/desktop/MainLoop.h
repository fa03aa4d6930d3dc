#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <functional>

// The one Qt application of this test program and its main loop, spun by hand.
namespace main_loop {

inline QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "system-desktop-tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Spins the main loop until `done` or the limit.
inline bool spinUntil(const std::function<bool()>& done, int limitMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < limitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return done();
}

inline void spinFor(int ms) { spinUntil([] { return false; }, ms); }

}  // namespace main_loop
