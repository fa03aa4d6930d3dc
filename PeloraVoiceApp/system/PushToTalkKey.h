#pragma once

#include "PeloraVoiceApp/MainThreadScheduler.h"
#include "PeloraVoiceApp/system/PTTShortcutKey.h"
#include "platform/keymonitor/KeyMonitor.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace pelora {

// Turns presses and releases of the push-to-talk key into "start recording" and "stop
// recording": hold to dictate, double-tap to lock hands-free until the next tap.
// Gestures are timed by the key events' own server times, so a main thread that is busy
// while the keys arrive still sees the gesture the user made. Main thread only.
class PushToTalkKey {
public:
    PushToTalkKey(PTTShortcutKey shortcut, keymonitor::KeyMonitor& monitor, MainThreadScheduler& scheduler);
    ~PushToTalkKey();
    PushToTalkKey(const PushToTalkKey&) = delete;
    PushToTalkKey& operator=(const PushToTalkKey&) = delete;

    // Starts watching the key unless it is watched already.
    void start();
    // Stops watching; clears the press and the lock without a callback.
    void stop();
    // Clears the press and the lock and drops a pending deferred stop, without a callback.
    void resetState();
    // Applies the settings; true when a press or lock in progress was dropped by it.
    bool updateConfiguration(PTTShortcutKey shortcut, bool doubleTapToggleEnabled, bool enabled);

    // Called with true when a double tap locked the recording hands-free.
    std::function<void(bool handsFree)> onStartRecording;
    std::function<void()> onStopRecording;

    PTTShortcutKey shortcut() const { return shortcut_; }
    bool doubleTapToggleEnabled() const { return doubleTapToggleEnabled_; }
    bool isPressed() const { return isPressed_; }
    bool isHandsFreeLocked() const { return isHandsFreeLocked_; }
    // Whether the key is being watched; false when the session refused (no display, no
    // raw key events, or a key X11 cannot see such as Fn). The next configuration retries.
    bool isMonitoring() const { return watch_ != nullptr; }

    // One transition of the watched key, on the main thread (the watch delivers here).
    void handle(keymonitor::KeyTransition transition);

    static constexpr std::uint32_t doubleTapIntervalMs = 350;
    static constexpr std::uint32_t quickTapThresholdMs = 220;
    static constexpr std::uint32_t lockReleaseIgnoreMs = 250;
    static constexpr std::uint32_t quickReleaseDelayMs = 260;

private:
    // Events of the watch, queued by the monitor's thread for the main thread.
    struct Inbox {
        std::mutex mutex;
        std::deque<keymonitor::KeyTransition> events;
        PushToTalkKey* owner = nullptr;  // main thread only
    };

    void install();
    void drain();
    void cancelDeferredStop();
    void fireDeferredStop();

    PTTShortcutKey shortcut_;
    keymonitor::KeyMonitor& monitor_;
    MainThreadScheduler& scheduler_;
    bool doubleTapToggleEnabled_ = true;
    bool isPressed_ = false;
    bool isHandsFreeLocked_ = false;
    std::optional<std::uint32_t> lastPressTime_;  // none until the first press
    std::uint32_t currentPressTime_ = 0;
    bool deferredStopPending_ = false;
    std::uint32_t deferredStopReleaseTime_ = 0;
    MainThreadScheduler::Task deferredStop_;
    std::shared_ptr<Inbox> inbox_;
    std::unique_ptr<keymonitor::Subscription> watch_;
};

}  // namespace pelora
