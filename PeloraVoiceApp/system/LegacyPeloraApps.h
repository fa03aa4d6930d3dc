#pragma once

#include "PeloraVoiceApp/system/LegacyPeloraAppInfo.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace pelora {

// Finds and closes earlier editions running in this desktop session: they would fight
// over the same global keys. Main thread; no state.
class LegacyPeloraApps {
public:
    // Where to look and who is asking (the real values by default; tests pass others).
    struct Scope {
        std::filesystem::path procRoot = "/proc";
        int ownPid;
        unsigned ownUid;
        std::string display;  // this session's $DISPLAY
        static Scope current();
    };

    // This user's processes on this display, not this one and not started from this
    // edition's desktop file, whose desktop-file id is "com.pelora.voice" or whose
    // executable is named exactly "PeloraVoice". In PID order.
    static std::vector<LegacyPeloraAppInfo> detect(const Scope& scope = Scope::current());
    // Asks each one found to quit (SIGTERM through a pidfd, after checking it is still
    // the process found), waits up to `wait` in all, and returns how many exited.
    static int terminate(const Scope& scope = Scope::current(),
                         std::chrono::milliseconds wait = std::chrono::milliseconds(1500));

    static constexpr const char* unnamedAppName = "PeloraVoice (旧バージョン)";
    static constexpr const char* legacyDesktopId = "com.pelora.voice";
    static constexpr const char* legacyExecutableName = "PeloraVoice";
};

}  // namespace pelora
