#include "PeloraVoiceApp/system/LegacyPeloraApps.h"

#include "PeloraVoiceApp/AppIdentity.h"
#include "platform/processes/PinnedProcess.h"
#include "platform/processes/ProcessTable.h"

#include <unistd.h>

#include <cstdlib>
#include <optional>

namespace pelora {

namespace {

// The desktop-file id of a desktop file's path: its name without ".desktop".
std::string desktopId(const std::string& path) {
    std::string name = std::filesystem::path(path).filename().string();
    constexpr std::string_view suffix = ".desktop";
    if (name.size() > suffix.size() && name.ends_with(suffix)) name.resize(name.size() - suffix.size());
    return name;
}

std::optional<LegacyPeloraAppInfo> legacyEdition(const processes::ProcessInfo& process, const LegacyPeloraApps::Scope& scope) {
    if (process.pid == scope.ownPid) return std::nullopt;
    const std::string id = process.launchedDesktopFile.empty() ? std::string() : desktopId(process.launchedDesktopFile);
    if (id == AppIdentity::bundleIdentifier) return std::nullopt;  // another copy of this edition
    const bool byId = id == LegacyPeloraApps::legacyDesktopId;
    const bool byExecutable = !process.executable.empty() &&
                              std::filesystem::path(process.executable).filename() == LegacyPeloraApps::legacyExecutableName;
    if (!byId && !byExecutable) return std::nullopt;
    LegacyPeloraAppInfo info;
    info.pid = process.pid;
    info.appName = process.comm.empty() ? LegacyPeloraApps::unnamedAppName : process.comm;
    if (!id.empty()) info.bundleIdentifier = id;
    if (!process.executable.empty()) info.bundlePath = process.executable;
    return info;
}

}  // namespace

LegacyPeloraApps::Scope LegacyPeloraApps::Scope::current() {
    const char* display = std::getenv("DISPLAY");
    return Scope{"/proc", static_cast<int>(::getpid()), static_cast<unsigned>(::getuid()), display ? display : ""};
}

std::vector<LegacyPeloraAppInfo> LegacyPeloraApps::detect(const Scope& scope) {
    std::vector<LegacyPeloraAppInfo> found;
    processes::ProcessTable table(scope.procRoot);
    for (const auto& process : table.sessionProcesses(scope.ownUid, scope.display)) {
        if (auto info = legacyEdition(process, scope)) found.push_back(std::move(*info));
    }
    return found;
}

int LegacyPeloraApps::terminate(const Scope& scope, std::chrono::milliseconds wait) {
    processes::ProcessTable table(scope.procRoot);
    std::vector<processes::PinnedProcess> asked;
    for (const auto& process : table.sessionProcesses(scope.ownUid, scope.display)) {
        if (!legacyEdition(process, scope)) continue;
        auto pinned = processes::PinnedProcess::pin(process.pid);
        if (!pinned) continue;  // gone already
        // Pinned now; make sure the PID still names the process that was found.
        const auto again = table.process(process.pid);
        if (!again || again->startTime != process.startTime || again->executable != process.executable) continue;
        if (pinned->requestTermination()) asked.push_back(std::move(*pinned));
    }
    std::vector<processes::PinnedProcess*> pointers;
    for (auto& p : asked) pointers.push_back(&p);
    // Counting only exits lets the caller take the hot key back once it is free.
    return processes::PinnedProcess::waitForExits(pointers, wait);
}

}  // namespace pelora
