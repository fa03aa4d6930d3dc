#include "PeloraVoiceApp/system/SessionPermissionSources.h"

#include "platform/accessibility/AccessibilityDesktop.h"
#include "platform/process/ProcessRunner.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace pelora {

namespace {

std::optional<std::string> findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "/usr/local/bin:/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const auto candidate = std::filesystem::path(folder) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
    return std::nullopt;
}

bool run(const std::vector<std::string>& argv, std::chrono::milliseconds limit) {
    const auto program = findProgram(argv.front());
    if (!program) return false;
    try {
        return process::ProcessRunner::run(*program, {argv.begin() + 1, argv.end()}, limit).succeeded();
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

PasterPermissions::Sources sessionPermissionSources(keymonitor::X11KeyMonitor& keys, audio::AudioService& audio) {
    PasterPermissions::Sources sources;
    sources.accessibilityTrusted = [] { return accessibility::atspiDesktop()->isTrusted(); };
    sources.syntheticEventsReach = [&keys] { return keys.syntheticEventsAvailable(); };
    sources.rawKeyEventsReach = [&keys] { return keys.rawKeyEventsAvailable(); };
    sources.microphoneAuthorized = [&audio] {
        const auto state = audio.sourceState();
        return state.serverReachable && state.hasUsableDefaultSource;
    };
    sources.requestAccessibility = [] { return accessibility::atspiDesktop()->requestAccess(); };
    // The sound service reconnects by itself; its kept state is read again by the caller.
    sources.reconnectAudio = [] {};
    sources.startDetached = [](const std::vector<std::string>& argv) {
        // setsid --fork: the program runs on in a session of its own and is never waited for.
        std::vector<std::string> detached{"setsid", "--fork"};
        detached.insert(detached.end(), argv.begin(), argv.end());
        return run(detached, std::chrono::milliseconds(2000));
    };
    sources.runBriefly = [](const std::vector<std::string>& argv) { return run(argv, std::chrono::milliseconds(3000)); };
    sources.programInstalled = [](const std::string& name) { return findProgram(name).has_value(); };
    sources.environment = [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    };
    std::error_code error;
    sources.executablePath = std::filesystem::read_symlink("/proc/self/exe", error).string();
    return sources;
}

}  // namespace pelora
