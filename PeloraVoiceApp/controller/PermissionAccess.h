#pragma once

#include "PeloraVoiceApp/system/PermissionHealthStatus.h"

#include <functional>

namespace pelora {

// Reading the permissions and repairing a refused microphone. Main thread only.
class PermissionAccess {
public:
    virtual ~PermissionAccess() = default;
    virtual PermissionHealthStatus checkPermissionHealth() = 0;
    // Resets the refused access and asks again; `answer` runs on the main thread.
    virtual void resetMicrophonePermissionAndPrompt(std::function<void(bool granted)> answer) = 0;
};

}  // namespace pelora
