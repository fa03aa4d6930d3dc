#pragma once

namespace pelora {

// The four permissions a dictation needs, as last read from the desktop.
struct PermissionHealthStatus {
    bool accessibilityTrusted = false;
    bool postEventPermitted = false;
    bool listenEventPermitted = false;
    bool microphoneAuthorized = false;

    friend bool operator==(const PermissionHealthStatus&, const PermissionHealthStatus&) = default;
};

}  // namespace pelora
