#pragma once

#include "PeloraVoiceApp/system/PermissionHealthStatus.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace pelora {

// The insertion orchestrator's permission half: reads what dictation may do, and the
// repairs the application offers. Reading never waits: a worker keeps the answers of the
// slow sources (the accessibility bus, the X server) current, the microphone's comes from
// the sound server's kept state. Linux keeps no per-application permission database, so
// the resets do the rest of their work (request, re-read, settings program) and nothing
// else. Main thread, except the worker.
class PasterPermissions {
public:
    struct Sources {
        std::function<bool()> accessibilityTrusted;   // may block briefly
        std::function<bool()> syntheticEventsReach;   // XTest on a reachable display; may block
        std::function<bool()> rawKeyEventsReach;      // XInput 2.2 there; may block
        std::function<bool()> microphoneAuthorized;   // kept state; never blocks
        std::function<bool()> requestAccessibility;   // sets IsEnabled; true when accepted
        std::function<void()> reconnectAudio;         // the sound server read again
        // Starts a program detached (never waited for); false when it could not start.
        std::function<bool(const std::vector<std::string>&)> startDetached;
        // Runs a program to its end within a few seconds; true when it exited with 0.
        std::function<bool(const std::vector<std::string>&)> runBriefly;
        std::function<bool(const std::string&)> programInstalled;
        std::function<std::optional<std::string>(const char*)> environment;
        std::string executablePath;  // this program, for revealAppInFinder
    };

    explicit PasterPermissions(Sources sources,
                               std::chrono::milliseconds refreshPeriod = std::chrono::milliseconds(500));
    ~PasterPermissions();
    PasterPermissions(const PasterPermissions&) = delete;
    PasterPermissions& operator=(const PasterPermissions&) = delete;

    // The four flags as last read; no prompt, no wait. On Wayland both key flags are false.
    PermissionHealthStatus checkPermissionHealth() const;
    // Reads the slow sources now (on the calling thread) and keeps the answers.
    PermissionHealthStatus refreshNow();

    bool isAccessibilityTrusted(bool prompt);
    // Switches accessibility on where it is off; the other permissions have no request.
    PermissionHealthStatus requestAllInjectionPermissions();
    void requestAccessibilityAndOpenSettings();
    void openAccessibilitySettings();
    void openMicrophoneSettings();
    // No desktop program manages global keys: nothing opens.
    void openInputMonitoringSettings();
    void resetAccessibilityPermissionAndPrompt();
    // Reconnects to the sound server and answers whether the microphone is usable now;
    // opens the sound settings program when it is not.
    bool resetMicrophonePermissionAndPrompt();
    // Shows this program's file in the file manager, else opens its folder.
    void revealAppInFinder();

private:
    struct Slow {
        bool accessibility = false;
        bool synthetic = false;
        bool raw = false;
    };
    Slow readSlow() const;
    bool onWayland() const;
    void openFirstInstalled(const std::vector<std::vector<std::string>>& programs);

    Sources sources_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    Slow slow_;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace pelora
