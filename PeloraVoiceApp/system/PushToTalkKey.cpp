#include "PeloraVoiceApp/system/PushToTalkKey.h"

#include <chrono>

namespace pelora {

namespace {

// Milliseconds from `earlier` to `later` on the server's wrapping 32-bit clock.
std::uint32_t elapsed(std::uint32_t earlier, std::uint32_t later) { return later - earlier; }

}  // namespace

PushToTalkKey::PushToTalkKey(PTTShortcutKey shortcut, keymonitor::KeyMonitor& monitor, MainThreadScheduler& scheduler)
    : shortcut_(shortcut), monitor_(monitor), scheduler_(scheduler), inbox_(std::make_shared<Inbox>()) {
    inbox_->owner = this;
}

PushToTalkKey::~PushToTalkKey() {
    // Ending the watch waits for a callback in flight; queued drains then find no owner.
    watch_.reset();
    inbox_->owner = nullptr;
}

void PushToTalkKey::start() {
    if (!watch_) install();
}

void PushToTalkKey::stop() {
    cancelDeferredStop();
    watch_.reset();
    isPressed_ = false;
    isHandsFreeLocked_ = false;
}

void PushToTalkKey::resetState() {
    cancelDeferredStop();
    isPressed_ = false;
    isHandsFreeLocked_ = false;
}

bool PushToTalkKey::updateConfiguration(PTTShortcutKey shortcut, bool doubleTapToggleEnabled, bool enabled) {
    const bool wasActive = isPressed_ || isHandsFreeLocked_;
    const bool sameKey = shortcut == shortcut_;
    doubleTapToggleEnabled_ = doubleTapToggleEnabled;
    if (enabled) {
        if (!sameKey) {
            shortcut_ = shortcut;
            if (wasActive) resetState();
        }
        // A watch follows one physical key, so a new key needs a new watch.
        if (!watch_ || !sameKey) install();
        return wasActive && !sameKey;
    }
    stop();
    shortcut_ = shortcut;
    return wasActive;
}

void PushToTalkKey::install() {
    watch_.reset();
    {
        // Transitions of the key watched before must not count for the new one.
        std::lock_guard lock(inbox_->mutex);
        inbox_->events.clear();
    }
    const auto keyName = ptt_shortcut_key::xkbKeyName(shortcut_);
    if (!keyName) return;  // refused: X11 never sees this key
    std::weak_ptr<Inbox> weakInbox = inbox_;
    MainThreadScheduler* scheduler = &scheduler_;
    watch_ = monitor_.watchKey(*keyName, [weakInbox, scheduler](keymonitor::KeyTransition transition) {
        auto inbox = weakInbox.lock();
        if (!inbox) return;
        {
            std::lock_guard lock(inbox->mutex);
            inbox->events.push_back(transition);
        }
        scheduler->post([weakInbox] {
            if (auto inbox = weakInbox.lock(); inbox && inbox->owner) inbox->owner->drain();
        });
    });
}

void PushToTalkKey::drain() {
    for (;;) {
        keymonitor::KeyTransition next;
        {
            std::lock_guard lock(inbox_->mutex);
            if (inbox_->events.empty()) return;
            next = inbox_->events.front();
            inbox_->events.pop_front();
        }
        handle(next);
    }
}

void PushToTalkKey::cancelDeferredStop() {
    deferredStopPending_ = false;
    deferredStop_.cancel();
}

void PushToTalkKey::fireDeferredStop() {
    cancelDeferredStop();
    if (isHandsFreeLocked_ || isPressed_) return;
    if (onStopRecording) onStopRecording();
}

void PushToTalkKey::handle(keymonitor::KeyTransition transition) {
    const std::uint32_t now = transition.serverTime;
    // The deferred stop was due before this event happened: it comes first, whatever
    // order a busy main thread sees the timer and the event in.
    if (deferredStopPending_ && elapsed(deferredStopReleaseTime_, now) >= quickReleaseDelayMs) fireDeferredStop();

    if (transition.pressed) {
        if (isPressed_) return;  // repeated press of a held key
        isPressed_ = true;
        currentPressTime_ = now;
        cancelDeferredStop();
        if (isHandsFreeLocked_) return;  // this press only prepares the release that unlocks
        const auto previous = lastPressTime_;
        lastPressTime_ = now;
        if (doubleTapToggleEnabled_ && previous && elapsed(*previous, now) <= doubleTapIntervalMs) {
            isHandsFreeLocked_ = true;
            if (onStartRecording) onStartRecording(true);
        } else {
            if (onStartRecording) onStartRecording(false);
        }
        return;
    }

    if (!isPressed_) return;
    isPressed_ = false;
    const std::uint32_t held = elapsed(currentPressTime_, now);
    if (isHandsFreeLocked_) {
        // The release of the tap that engaged the lock.
        if (held < quickTapThresholdMs && lastPressTime_ && elapsed(*lastPressTime_, now) < lockReleaseIgnoreMs) return;
        isHandsFreeLocked_ = false;
        if (onStopRecording) onStopRecording();
    } else if (doubleTapToggleEnabled_ && held < quickTapThresholdMs) {
        cancelDeferredStop();
        deferredStopPending_ = true;
        deferredStopReleaseTime_ = now;
        deferredStop_ = scheduler_.postAfter(std::chrono::milliseconds(quickReleaseDelayMs), [this] {
            // A press that happened before the stop was due may still wait in the queue.
            drain();
            if (deferredStopPending_) fireDeferredStop();
        });
    } else {
        if (onStopRecording) onStopRecording();
    }
}

}  // namespace pelora
