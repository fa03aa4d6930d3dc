#pragma once

#include "PeloraVoiceApp/MainThreadAsync.h"
#include "PeloraVoiceApp/MainThreadScheduler.h"
#include "PeloraVoiceApp/controller/PermissionAccess.h"
#include "PeloraVoiceApp/system/LegacyPeloraApps.h"
#include "PeloraVoiceApp/system/PasterPermissions.h"

namespace pelora {

// The desktop's permission reads and repairs (the session's accessibility bus, the X
// server, the sound server) and the earlier editions found in /proc. Termination waits for
// the exits on a worker, so the main loop never stalls on a process that is slow to quit.
class DesktopPermissionAccess final : public PermissionAccess {
public:
    DesktopPermissionAccess(PasterPermissions& permissions, MainThreadScheduler& scheduler,
                            LegacyPeloraApps::Scope scope = LegacyPeloraApps::Scope::current(),
                            mainthread::WorkerSpawner spawnWorker = mainthread::spawnThread);

    PermissionHealthStatus checkPermissionHealth() override;
    void resetMicrophonePermissionAndPrompt(std::function<void(bool)> answer) override;
    PermissionHealthStatus requestAllInjectionPermissions() override;
    void requestAccessibilityAndOpenSettings() override;
    void resetAccessibilityPermissionAndPrompt() override;
    void openMicrophoneSettings() override;
    void openInputMonitoringSettings() override;
    void revealAppInFinder() override;
    std::vector<LegacyPeloraAppInfo> detectRunningLegacyPeloraApps() override;
    void terminateRunningLegacyPeloraApps(std::function<void(int)> done) override;

private:
    PasterPermissions& permissions_;
    MainThreadScheduler& scheduler_;
    LegacyPeloraApps::Scope scope_;
    mainthread::WorkerSpawner spawnWorker_;
};

}  // namespace pelora
