#include "PeloraVoiceApp/controller/DesktopPermissionAccess.h"

namespace pelora {

DesktopPermissionAccess::DesktopPermissionAccess(PasterPermissions& permissions, MainThreadScheduler& scheduler,
                                                 LegacyPeloraApps::Scope scope, mainthread::WorkerSpawner spawnWorker)
    : permissions_(permissions), scheduler_(scheduler), scope_(std::move(scope)), spawnWorker_(std::move(spawnWorker)) {}

PermissionHealthStatus DesktopPermissionAccess::checkPermissionHealth() { return permissions_.checkPermissionHealth(); }

void DesktopPermissionAccess::resetMicrophonePermissionAndPrompt(std::function<void(bool)> answer) {
    answer(permissions_.resetMicrophonePermissionAndPrompt());
}

PermissionHealthStatus DesktopPermissionAccess::requestAllInjectionPermissions() {
    return permissions_.requestAllInjectionPermissions();
}

void DesktopPermissionAccess::requestAccessibilityAndOpenSettings() {
    permissions_.requestAccessibilityAndOpenSettings();
}

void DesktopPermissionAccess::resetAccessibilityPermissionAndPrompt() {
    permissions_.resetAccessibilityPermissionAndPrompt();
}

void DesktopPermissionAccess::openMicrophoneSettings() { permissions_.openMicrophoneSettings(); }

void DesktopPermissionAccess::openInputMonitoringSettings() { permissions_.openInputMonitoringSettings(); }

void DesktopPermissionAccess::revealAppInFinder() { permissions_.revealAppInFinder(); }

std::vector<LegacyPeloraAppInfo> DesktopPermissionAccess::detectRunningLegacyPeloraApps() {
    return LegacyPeloraApps::detect(scope_);
}

void DesktopPermissionAccess::terminateRunningLegacyPeloraApps(std::function<void(int)> done) {
    spawnWorker_([scope = scope_, scheduler = &scheduler_, done = std::move(done)]() mutable {
        const int exited = LegacyPeloraApps::terminate(scope);
        scheduler->post([done = std::move(done), exited] {
            if (done) done(exited);
        });
    });
}

}  // namespace pelora
