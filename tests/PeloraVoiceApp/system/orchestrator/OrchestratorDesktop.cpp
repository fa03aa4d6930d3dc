#include "tests/PeloraVoiceApp/system/orchestrator/OrchestratorDesktop.h"

#include <QApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>
#include <unistd.h>

#include "PeloraVoiceApp/QtMainThreadScheduler.h"
#include "PeloraVoiceApp/system/OwnTextView.h"
#include "tests/support/RunCommand.h"

namespace orchestrator {

void ensureApplication() {
    static int argc = 1;
    static char name[] = "orchestrator-desktop-tests";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
}

bool spin(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limit.count()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void spinFor(std::chrono::milliseconds duration) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < duration.count()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

Delivery::Delivery() {
    ensureApplication();
    tracker = std::make_unique<ActiveApplicationTracker>(makeX11FrontApplicationSource(),
                                                         QtMainThreadScheduler::shared(),
                                                         hasFocusedInternalEditableTextView);
    injector = makeEngineInjectionBackend();
    clipboard = makeX11ClipboardAccess();
    ActiveApplicationTracker* t = tracker.get();
    paster = std::make_unique<Paster>(Paster::Dependencies{
        &QtMainThreadScheduler::shared(),
        injector.get(),
        clipboard.get(),
        &tracker->source(),
        [t] { return t->lastExternalApp(); },
        hasFocusedInternalEditableTextView,
        injectIntoInternalTextViewIfFocused,
        replaceInInternalTextViewIfFocused,
    });
}

Delivery::~Delivery() {
    // A restore still pending ends with the orchestrator; let posted work settle first.
    paster.reset();
    spinFor(50ms);
}

Snapshot Delivery::frontSnapshot(pid_t pid) {
    std::optional<Snapshot> front;
    EXPECT_TRUE(spin([&] {
        front = tracker->source().frontmost();
        return front && front->processIdentifier == pid;
    })) << "process " << pid << " never came to the front";
    return front.value_or(Snapshot{pid, std::nullopt, std::nullopt});
}

Outcome Delivery::insert(const std::string& text, const std::optional<Snapshot>& target, bool restore,
                         bool allowDuplicates) {
    std::optional<Outcome> outcome;
    paster->injectIntoFocusedField(text, target, restore, allowDuplicates, [&](Outcome o) { outcome = o; });
    EXPECT_TRUE(spin([&] { return outcome.has_value(); }, 60s)) << "the insertion never ended";
    return outcome.value_or(Outcome::skipped("never ended"));
}

bool Delivery::correct(const std::string& original, const std::string& corrected,
                       const std::optional<Snapshot>& target, bool restore) {
    auto correction =
        pelora::InsertedTextCorrection::compute(original, corrected).value_or(pelora::InsertedTextCorrection{});
    std::optional<bool> result;
    paster->applyInPlaceCorrection(correction, original, corrected, target, restore, [&](bool r) { result = r; });
    EXPECT_TRUE(spin([&] { return result.has_value(); }, 60s)) << "the correction never ended";
    return result.value_or(false);
}

std::optional<std::string> xclipRead(const std::string& target) {
    auto result = pelora::testing::runCommand({"xclip", "-o", "-selection", "clipboard", "-t", target}, {},
                                              std::chrono::seconds(20));
    if (result.exitCode != 0) return std::nullopt;
    return result.out;
}

std::unique_ptr<pelora::testing::ChildProcess> xclipOwn(const pelora::testing::TempDir& dir,
                                                        const std::string& target, const std::string& bytes) {
    static int counter = 0;
    auto file = dir / ("offer-" + std::to_string(counter++));
    pelora::testing::writeFile(file, bytes);
    return std::make_unique<pelora::testing::ChildProcess>(pelora::testing::ChildProcess::Options{
        {"xclip", "-quiet", "-i", "-selection", "clipboard", "-t", target, file.string()}, {}, "/dev/null"});
}

bool clipboardHolds(const std::string& target, const std::string& bytes, std::chrono::milliseconds limit) {
    // Our clipboard serves from a thread of its own, so reading here blocks nothing; the
    // main loop still turns between reads for a pending restore.
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        auto read = xclipRead(target);
        if (read && *read == bytes) return true;
        if (timer.elapsed() > limit.count()) return false;
        spinFor(100ms);
    }
}

bool activateOwnWindow(QWidget& window) {
    ensureApplication();
    window.show();
    window.raise();
    window.activateWindow();
    auto source = makeX11FrontApplicationSource();
    return spin([&] {
        if (QApplication::activeWindow() == &window) return true;
        source->activate(static_cast<std::int32_t>(getpid()));
        spinFor(100ms);
        return QApplication::activeWindow() == &window;
    });
}

}  // namespace orchestrator
