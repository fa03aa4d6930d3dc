#pragma once

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
};

}  // namespace pelora
