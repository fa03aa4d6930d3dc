#include "PeloraVoiceApp/system/LegacyPeloraApps.h"

#include "PeloraVoiceApp/AppIdentity.h"
#include "platform/processes/PinnedProcess.h"
#include "platform/processes/ProcessTable.h"

#include <unistd.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

namespace pelora {

namespace {

// The desktop-file id of a desktop file's path: its name without ".desktop".
std::string_view desktopId(std::string_view path) {
    std::string_view name = path.substr(path.rfind('/') + 1);  // npos + 1 == 0: the whole path
    constexpr std::string_view suffix = ".desktop";
    if (name.size() > suffix.size() && name.ends_with(suffix)) name.remove_suffix(suffix.size());
    return name;
}

std::string_view fileName(std::string_view path) { return path.substr(path.rfind('/') + 1); }

// Judged from what identifies a process cheaply (its environment and executable link):
// most of a session's processes are left before anything else of theirs is read.
bool isLegacyEdition(const processes::ProcessInfo& process, const LegacyPeloraApps::Scope& scope) {
    if (process.pid == scope.ownPid) return false;
    const std::string_view id = desktopId(process.launchedDesktopFile);
    if (id == AppIdentity::bundleIdentifier) return false;  // another copy of this edition
    return id == LegacyPeloraApps::legacyDesktopId ||
           (!process.executable.empty() && fileName(process.executable) == LegacyPeloraApps::legacyExecutableName);
}

LegacyPeloraAppInfo describe(const processes::ProcessInfo& process) {
    LegacyPeloraAppInfo info;
    info.pid = process.pid;
    info.appName = process.comm.empty() ? LegacyPeloraApps::unnamedAppName : process.comm;
    if (const auto id = desktopId(process.launchedDesktopFile); !id.empty()) info.bundleIdentifier = std::string(id);
    if (!process.executable.empty()) info.bundlePath = process.executable;
    return info;
}

std::vector<processes::ProcessInfo> legacyProcesses(const processes::ProcessTable& table,
                                                    const LegacyPeloraApps::Scope& scope) {
    return table.sessionProcesses(scope.ownUid, scope.display,
                                  [&scope](const processes::ProcessInfo& p) { return isLegacyEdition(p, scope); });
}

// Detection runs with every permission check: one table per /proc root for the life of
// the process, so that each scan reads the environment only of processes new to it.
processes::ProcessTable& rememberingTable(const std::filesystem::path& root) {
    static std::mutex mutex;
    static std::map<std::filesystem::path, std::unique_ptr<processes::ProcessTable>> tables;
    std::lock_guard lock(mutex);
    auto& table = tables[root];
    if (!table) table = std::make_unique<processes::ProcessTable>(root);
    return *table;
}

}  // namespace

LegacyPeloraApps::Scope LegacyPeloraApps::Scope::current() {
    const char* display = std::getenv("DISPLAY");
    return Scope{"/proc", static_cast<int>(::getpid()), static_cast<unsigned>(::getuid()), display ? display : ""};
}

std::vector<LegacyPeloraAppInfo> LegacyPeloraApps::detect(const Scope& scope) {
    std::vector<LegacyPeloraAppInfo> found;
    const processes::ProcessTable& table = rememberingTable(scope.procRoot);
    for (const auto& process : legacyProcesses(table, scope)) found.push_back(describe(process));
    return found;
}

int LegacyPeloraApps::terminate(const Scope& scope, std::chrono::milliseconds wait) {
    // Read afresh: what is signalled is judged on what each process says now.
    processes::ProcessTable table(scope.procRoot);
    std::vector<processes::PinnedProcess> asked;
    for (const auto& process : legacyProcesses(table, scope)) {
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
