#pragma once

#include "PeloraVoiceApp/system/PTTShortcutKey.h"

#include <functional>

namespace pelora {

// The push-to-talk key as the controller uses it. Main thread only.
class PushToTalkWatcher {
public:
    virtual ~PushToTalkWatcher() = default;
    // Handlers run on the main thread; empty handlers detach.
    virtual void setHandlers(std::function<void(bool handsFree)> onStartRecording,
                             std::function<void()> onStopRecording) = 0;
    virtual void resetState() = 0;
    virtual bool isPressed() const = 0;
    // Watches `shortcut` (or nothing when not `enabled`); true when the change dropped a key
    // press or a hands-free lock that was in progress.
    virtual bool updateConfiguration(PTTShortcutKey shortcut, bool doubleTapToggleEnabled, bool enabled) = 0;
};

}  // namespace pelora
