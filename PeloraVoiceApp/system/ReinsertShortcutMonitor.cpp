#include "PeloraVoiceApp/system/ReinsertShortcutMonitor.h"

#include <iostream>

namespace pelora {

ReinsertShortcutMonitor::ReinsertShortcutMonitor(ReinsertShortcutPreset preset, keymonitor::KeyMonitor& monitor,
                                                 MainThreadScheduler& scheduler)
    : preset_(preset), monitor_(monitor), scheduler_(scheduler), token_(std::make_shared<Token>()) {
    token_->owner = this;
}

ReinsertShortcutMonitor::~ReinsertShortcutMonitor() {
    grab_.reset();  // waits for a callback in flight
    token_->owner = nullptr;
}

void ReinsertShortcutMonitor::start() {
    stop();
    isRunning_ = true;
    pressSeen_ = false;
    std::weak_ptr<Token> weakToken = token_;
    MainThreadScheduler* scheduler = &scheduler_;
    auto outcome = monitor_.grabKey(reinsert_shortcut_preset::x11Keysym(preset_),
                                    reinsert_shortcut_preset::x11ModifierMask(preset_),
                                    [weakToken, scheduler](keymonitor::HotKeyEvent event) {
                                        scheduler->post([weakToken, event] {
                                            if (auto token = weakToken.lock(); token && token->owner)
                                                token->owner->handle(event);
                                        });
                                    });
    grab_ = std::move(outcome.grab);
    grabError_ = grab_ ? std::string() : outcome.error;
    if (!grab_) {
        std::clog << "PeloraVoice2: the reinsert shortcut " << reinsert_shortcut_preset::badgeLabel(preset_)
                  << " is not available system-wide: " << grabError_ << '\n';
    }
}

void ReinsertShortcutMonitor::stop() {
    isRunning_ = false;
    grab_.reset();
}

void ReinsertShortcutMonitor::setPreset(ReinsertShortcutPreset preset) {
    preset_ = preset;
    if (isRunning_) start();
}

void ReinsertShortcutMonitor::handle(keymonitor::HotKeyEvent event) {
    if (!grab_) return;  // queued before a stop or a preset change
    if (event.pressed) {
        pressSeen_ = true;
        return;
    }
    // Once per press: a release the server made up for a held key, or one of a press
    // made before the combination was taken, does not count.
    if (event.repeat || !pressSeen_) return;
    pressSeen_ = false;
    trigger(event.serverTime);
}

void ReinsertShortcutMonitor::trigger(std::uint32_t time) {
    if (lastTriggerTime_ && time - *lastTriggerTime_ <= debounceMs) return;
    lastTriggerTime_ = time;
    const auto wait = nextWait_++;
    waits_[wait];  // a slot that keeps the wait's timer; the monitor's end cancels it
    waitForModifiers(wait, 0);
}

void ReinsertShortcutMonitor::waitForModifiers(std::uint64_t wait, int pollsDone) {
    const unsigned held = monitor_.modifierState().value_or(0) & waitedModifiers;
    if (held != 0 && pollsDone < maxModifierPolls) {
        waits_[wait] = scheduler_.postAfter(modifierPollInterval, [this, wait, pollsDone] {
            waitForModifiers(wait, pollsDone + 1);
        });
        return;
    }
    waits_[wait] = scheduler_.postAfter(settleDelay, [this, wait] {
        auto done = waits_.extract(wait);  // the running task's handle goes with it
        if (onTrigger) onTrigger();
    });
}

}  // namespace pelora
