// The permission state kept current (at start, every 1.2 s, on activation, after each
// insertion), its notices, the repairs the permission card and sheet offer, and the
// earlier editions running beside this one.
#include "PeloraVoiceApp/controller/AppViewModel.h"

namespace pelora {

using P = AppViewModelProperty;

void AppViewModel::setStatusNotice(std::string_view text) {
    assign(statusNoticeMessage_, std::optional<std::string>(std::string(text)), P::statusNoticeMessage);
}

void AppViewModel::clearMicrophoneError() {
    if (errorMessage_ && errorMessage_->find("マイク") != std::string::npos)
        assign(errorMessage_, std::optional<std::string>(), P::errorMessage);
}

void AppViewModel::refreshPermissions() {
    const PermissionHealthStatus old = permissionHealth_;
    const PermissionHealthStatus now = c_.permissions.checkPermissionHealth();
    if (now != old) {
        assign(permissionHealth_, now, P::permissionHealth);
        const bool couldInject = old.accessibilityTrusted || old.postEventPermitted;
        const bool canInject = now.accessibilityTrusted || now.postEventPermitted;
        if (!couldInject && canInject) {
            setStatusNotice(accessibilityGrantedNotice);
            // Keys that could not be posted or grabbed before are configured again now.
            applyShortcutSettings();
        } else if (!old.microphoneAuthorized && now.microphoneAuthorized) {
            setStatusNotice(microphoneGrantedNotice);
            clearMicrophoneError();
        }
    }
    // Every tick, so that the earlier-edition banner comes and goes within one period.
    assign(conflictingLegacyApps_, c_.permissions.detectRunningLegacyPeloraApps(), P::conflictingLegacyApps);
}

void AppViewModel::checkConflictingLegacyApps() {
    assign(conflictingLegacyApps_, c_.permissions.detectRunningLegacyPeloraApps(), P::conflictingLegacyApps);
    if (!conflictingLegacyApps_.empty()) setStatusNotice(legacyEditionRunningNotice);
}

void AppViewModel::startPermissionMonitor() {
    const Liveness weak = liveness();
    permissionMonitorTimer_ = c_.scheduler.repeatEvery(permissionMonitorPeriod, [weak] {
        if (auto self = weak.lock()) (*self)->refreshPermissions();
    });
}

void AppViewModel::requestPermissions() {
    assign(permissionHealth_, c_.permissions.requestAllInjectionPermissions(), P::permissionHealth);
}

void AppViewModel::requestAndOpenAccessibility() {
    c_.permissions.requestAccessibilityAndOpenSettings();
    refreshPermissions();
}

void AppViewModel::resetAndRePromptAccessibility() {
    c_.permissions.resetAccessibilityPermissionAndPrompt();
    refreshPermissions();
    setStatusNotice(accessibilityResetNotice);
}

void AppViewModel::revealAppInFinder() { c_.permissions.revealAppInFinder(); }

void AppViewModel::openInputMonitoringSettings() { c_.permissions.openInputMonitoringSettings(); }

void AppViewModel::openMicrophoneSettings() {
    const MicrophoneAuthorizationStatus status = c_.recorder.authorizationStatus();
    if (status == MicrophoneAuthorizationStatus::authorized) {
        c_.permissions.openMicrophoneSettings();
        return;
    }
    const Liveness weak = liveness();
    c_.scheduler.post([weak, status] {
        auto self = weak.lock();
        if (!self) return;
        if (status == MicrophoneAuthorizationStatus::notDetermined) {
            (*self)->c_.recorder.requestPermission([weak](bool granted) {
                auto again = weak.lock();
                if (!again) return;
                (*again)->refreshPermissions();
                if (!granted) (*again)->c_.permissions.openMicrophoneSettings();
            });
            return;
        }
        (*self)->c_.permissions.resetMicrophonePermissionAndPrompt([weak](bool granted) {
            auto again = weak.lock();
            if (!again) return;
            (*again)->refreshPermissions();
            if (granted) {
                (*again)->setStatusNotice(microphoneRegrantedAfterResetNotice);
                (*again)->clearMicrophoneError();
            }
        });
    });
}

void AppViewModel::resetAndRePromptMicrophone() {
    const Liveness weak = liveness();
    c_.scheduler.post([weak] {
        auto self = weak.lock();
        if (!self) return;
        (*self)->c_.permissions.resetMicrophonePermissionAndPrompt([weak](bool granted) {
            auto again = weak.lock();
            if (!again) return;
            (*again)->refreshPermissions();
            if (granted) {
                (*again)->setStatusNotice(microphoneReregisteredNotice);
                (*again)->clearMicrophoneError();
            } else {
                (*again)->setStatusNotice(microphoneResetPendingNotice);
            }
        });
    });
}

void AppViewModel::terminateConflictingLegacyApps() {
    const Liveness weak = liveness();
    // The exits are awaited off the main thread; the list and the hot keys follow when they are in.
    c_.permissions.terminateRunningLegacyPeloraApps([weak](int exited) {
        auto self = weak.lock();
        if (!self) return;
        AppViewModel& model = **self;
        model.assign(model.conflictingLegacyApps_, model.c_.permissions.detectRunningLegacyPeloraApps(),
                     P::conflictingLegacyApps);
        if (exited <= 0) return;
        // The old edition's grab is gone: take the hot key again.
        model.applyShortcutSettings();
        model.setStatusNotice("✓ 旧バージョンの PeloraVoice (" + std::to_string(exited) + "件) を終了しました。再挿入キー (" +
                              model.reinsertBadge() + ") の二重ペースト競合が解消されました。");
    });
}

}  // namespace pelora
