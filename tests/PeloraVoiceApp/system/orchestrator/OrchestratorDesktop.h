#pragma once

#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "PeloraVoiceApp/system/ActiveApplicationTracker.h"
#include "PeloraVoiceApp/system/Paster.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

// What the orchestrator's desktop tests share: Qt's main loop in this process, a real
// tracker and orchestrator over the X11 desktop, the engine's injector and the X11
// clipboard, and xclip as an independent clipboard owner and reader.
namespace orchestrator {

using namespace std::chrono_literals;
using Snapshot = pelora::ActiveApplicationSnapshot;
using Outcome = pelora::TextInjectionOutcome;

// Creates the QApplication once.
void ensureApplication();

// Runs the main loop until `done` holds; false after `limit`.
bool spin(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s);
// Runs the main loop for `duration`.
void spinFor(std::chrono::milliseconds duration);

// A tracker and an orchestrator of their own for one test, wired as the application's.
struct Delivery {
    Delivery();
    ~Delivery();
    std::unique_ptr<ActiveApplicationTracker> tracker;
    std::unique_ptr<InjectionBackend> injector;
    std::unique_ptr<ClipboardAccess> clipboard;
    std::unique_ptr<Paster> paster;

    // The tracker's view of `pid` once it is in front (waits for it).
    Snapshot frontSnapshot(pid_t pid);
    Outcome insert(const std::string& text, const std::optional<Snapshot>& target, bool restore,
                   bool allowDuplicates = false);
    bool correct(const std::string& original, const std::string& corrected, const std::optional<Snapshot>& target,
                 bool restore);
};

// xclip: what any other application would read, byte for byte.
std::optional<std::string> xclipRead(const std::string& target);
// An xclip process owning the clipboard with one target until another owner takes it.
std::unique_ptr<pelora::testing::ChildProcess> xclipOwn(const pelora::testing::TempDir& dir, const std::string& target,
                                                        const std::string& bytes);
// Polls until xclip reads exactly `bytes` for `target`.
bool clipboardHolds(const std::string& target, const std::string& bytes, std::chrono::milliseconds limit = 20s);

// Brings a window of this process to the front (EWMH activation) and waits until Qt
// calls it active.
bool activateOwnWindow(QWidget& window);

}  // namespace orchestrator
