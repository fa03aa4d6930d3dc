#include "platform/processes/ProcessTable.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <string_view>

namespace pelora::processes {

namespace {

// Reads a small /proc file whole; none when it cannot be opened.
std::optional<std::string> slurp(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        text.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

std::string environmentValue(std::string_view environ, std::string_view name) {
    std::size_t at = 0;
    while (at < environ.size()) {
        std::size_t end = environ.find('\0', at);
        if (end == std::string_view::npos) end = environ.size();
        const auto entry = environ.substr(at, end - at);
        if (entry.size() > name.size() && entry.substr(0, name.size()) == name && entry[name.size()] == '=')
            return std::string(entry.substr(name.size() + 1));
        at = end + 1;
    }
    return {};
}

std::optional<unsigned> realUid(std::string_view status) {
    const auto at = status.find("\nUid:");
    if (at == std::string_view::npos) return std::nullopt;
    auto rest = status.substr(at + 5);
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
    unsigned uid = 0;
    if (std::from_chars(rest.data(), rest.data() + rest.size(), uid).ec != std::errc()) return std::nullopt;
    return uid;
}

// Field 22 of /proc/PID/stat; the command name in field 2 may hold spaces and parentheses.
std::uint64_t startTime(std::string_view stat) {
    const auto close = stat.rfind(')');
    if (close == std::string_view::npos) return 0;
    auto rest = stat.substr(close + 1);
    for (int field = 3; field < 22; ++field) {
        const auto space = rest.find(' ', 1);
        if (space == std::string_view::npos) return 0;
        rest = rest.substr(space);
    }
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    std::uint64_t value = 0;
    std::from_chars(rest.data(), rest.data() + rest.size(), value);
    return value;
}

}  // namespace

ProcessTable::ProcessTable(std::filesystem::path root) : root_(std::move(root)) {}

std::optional<ProcessInfo> ProcessTable::read(int pid, const std::optional<unsigned>& uid,
                                              const std::optional<std::string>& display) const {
    const std::string base = root_.string() + "/" + std::to_string(pid) + "/";
    ProcessInfo info;
    info.pid = pid;
    // The environment first: it is unreadable for other users' processes, and DISPLAY
    // leaves out most of the rest cheaply.
    const auto environ = slurp(base + "environ");
    if (!environ) return std::nullopt;
    info.display = environmentValue(*environ, "DISPLAY");
    if (display && info.display != *display) return std::nullopt;
    const auto status = slurp(base + "status");
    if (!status) return std::nullopt;
    const auto owner = realUid(*status);
    if (!owner || (uid && *owner != *uid)) return std::nullopt;
    info.uid = *owner;
    info.launchedDesktopFile = environmentValue(*environ, "GIO_LAUNCHED_DESKTOP_FILE");
    if (auto comm = slurp(base + "comm")) {
        info.comm = std::move(*comm);
        if (!info.comm.empty() && info.comm.back() == '\n') info.comm.pop_back();
    } else {
        return std::nullopt;  // vanished meanwhile
    }
    char target[4096];
    const ssize_t n = ::readlink((base + "exe").c_str(), target, sizeof target - 1);
    if (n > 0) info.executable.assign(target, static_cast<std::size_t>(n));
    if (auto stat = slurp(base + "stat")) info.startTime = startTime(*stat);
    return info;
}

std::vector<ProcessInfo> ProcessTable::sessionProcesses(unsigned uid, const std::string& display) const {
    std::vector<ProcessInfo> found;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(root_.c_str()), &::closedir);
    if (!dir) return found;
    while (const dirent* entry = ::readdir(dir.get())) {
        int pid = 0;
        const char* name = entry->d_name;
        const auto [end, error] = std::from_chars(name, name + std::strlen(name), pid);
        if (error != std::errc() || *end != '\0' || pid <= 0) continue;
        if (auto info = read(pid, uid, display)) found.push_back(std::move(*info));
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
    return found;
}

std::optional<ProcessInfo> ProcessTable::process(int pid) const { return read(pid, std::nullopt, std::nullopt); }

}  // namespace pelora::processes
