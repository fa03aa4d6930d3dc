#pragma once

#include "PeloraVoiceApp/MainThreadScheduler.h"
#include "engine/injection/ReinsertShortcutPreset.h"
#include "platform/keymonitor/KeyMonitor.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace pelora {

// The global hot key that inserts the last dictated text again. The preset's combination
// is taken from every other window while running; a release of it, once per press, starts
// a short wait for Shift, Control and Alt to be let go and then calls `onTrigger`.
// Main thread only.
class ReinsertShortcutMonitor {
public:
    ReinsertShortcutMonitor(ReinsertShortcutPreset preset, keymonitor::KeyMonitor& monitor,
                            MainThreadScheduler& scheduler);
    ~ReinsertShortcutMonitor();
    ReinsertShortcutMonitor(const ReinsertShortcutMonitor&) = delete;
    ReinsertShortcutMonitor& operator=(const ReinsertShortcutMonitor&) = delete;

    // (Re)takes the current preset's combination, releasing any earlier one first.
    void start();
    // Releases the combination. A trigger already waiting still calls `onTrigger`.
    void stop();

    ReinsertShortcutPreset preset() const { return preset_; }
    // While running this is a restart with the new combination; while stopped it only stores it.
    void setPreset(ReinsertShortcutPreset preset);

    std::function<void()> onTrigger;

    bool isRunning() const { return isRunning_; }
    // Whether the combination is held now; false while stopped or when it was refused.
    bool isGrabbed() const { return grab_ != nullptr; }
    // Why the last start could not take the combination (another client holds it, no
    // display); empty when it took. Callers get no error: this is for reading and the log.
    const std::string& grabError() const { return grabError_; }

    // One event of the grabbed combination, on the main thread (the grab delivers here).
    void handle(keymonitor::HotKeyEvent event);

    static constexpr std::uint32_t debounceMs = 250;
    static constexpr int maxModifierPolls = 16;
    static constexpr std::chrono::milliseconds modifierPollInterval{15};
    static constexpr std::chrono::milliseconds settleDelay{25};
    // Shift, Control and Alt: keys that would turn the inserted text into shortcuts.
    static constexpr unsigned waitedModifiers =
        keymonitor::modifier::shift | keymonitor::modifier::control | keymonitor::modifier::mod1;

private:
    struct Token {
        ReinsertShortcutMonitor* owner = nullptr;  // main thread only
    };

    void trigger(std::uint32_t time);
    void waitForModifiers(std::uint64_t wait, int pollsDone);

    ReinsertShortcutPreset preset_;
    keymonitor::KeyMonitor& monitor_;
    MainThreadScheduler& scheduler_;
    bool isRunning_ = false;
    bool pressSeen_ = false;
    std::optional<std::uint32_t> lastTriggerTime_;
    std::string grabError_;
    std::uint64_t nextWait_ = 0;
    std::map<std::uint64_t, MainThreadScheduler::Task> waits_;
    std::shared_ptr<Token> token_;
    std::unique_ptr<keymonitor::Subscription> grab_;
};

}  // namespace pelora
