#pragma once

#include "PeloraVoiceApp/system/LegacyPeloraAppInfo.h"
#include "PeloraVoiceApp/system/PermissionHealthStatus.h"

#include <functional>
#include <vector>

namespace pelora {

// Reading the permissions, the repairs the application offers, and the earlier editions
// running beside it. Main thread only; the reads answer from kept state and never wait.
class PermissionAccess {
public:
    virtual ~PermissionAccess() = default;
    virtual PermissionHealthStatus checkPermissionHealth() = 0;
    // Resets the refused access and asks again; `answer` runs on the main thread.
    virtual void resetMicrophonePermissionAndPrompt(std::function<void(bool granted)> answer) = 0;

    // Asks for every missing permission and answers the state afterwards.
    virtual PermissionHealthStatus requestAllInjectionPermissions() = 0;
    // The accessibility prompt, then the desktop's accessibility settings.
    virtual void requestAccessibilityAndOpenSettings() = 0;
    virtual void resetAccessibilityPermissionAndPrompt() = 0;
    virtual void openMicrophoneSettings() = 0;
    virtual void openInputMonitoringSettings() = 0;
    virtual void revealAppInFinder() = 0;

    // Earlier editions running in this session, in PID order; cheap enough for every tick.
    virtual std::vector<LegacyPeloraAppInfo> detectRunningLegacyPeloraApps() = 0;
    // Asks them to quit and waits off the main thread for their exits; `done` receives how
    // many exited, on the main thread.
    virtual void terminateRunningLegacyPeloraApps(std::function<void(int exited)> done) = 0;
};

}  // namespace pelora
