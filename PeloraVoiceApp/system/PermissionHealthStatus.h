#pragma once

namespace pelora {

// What dictation may do in this session right now.
struct PermissionHealthStatus {
    bool accessibilityTrusted = false;  // the accessibility bus answers and IsEnabled is true
    bool postEventPermitted = false;    // synthetic keys (XTest) reach a display
    bool listenEventPermitted = false;  // global keys are seen (XInput 2.2 raw events)
    bool microphoneAuthorized = false;  // a sound server with a real default source

    bool postEventAccess() const { return postEventPermitted; }
    bool listenEventAccess() const { return listenEventPermitted; }
    bool canInjectReliably() const { return accessibilityTrusted || postEventPermitted; }
    bool canInjectIntoExternalApps() const { return canInjectReliably(); }

    friend bool operator==(const PermissionHealthStatus&, const PermissionHealthStatus&) = default;
};

}  // namespace pelora
