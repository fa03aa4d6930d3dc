#include "platform/processes/ProcessTable.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace pelora::processes {

namespace {

// Reads a small /proc file (relative to the root's descriptor) into `buffer`, which grows
// as needed and is reused from one file to the next; none when it cannot be read.
std::optional<std::string_view> slurp(int rootFd, const char* path, std::vector<char>& buffer) {
    const int fd = ::openat(rootFd, path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    if (buffer.size() < 16384) buffer.resize(16384);
    std::size_t used = 0;
    for (;;) {
        if (used == buffer.size()) buffer.resize(buffer.size() * 2);
        const ssize_t n = ::read(fd, buffer.data() + used, buffer.size() - used);
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        used += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return std::string_view(buffer.data(), used);
}

std::string_view environmentValue(std::string_view environ, std::string_view name) {
    std::size_t at = 0;
    while (at < environ.size()) {
        std::size_t end = environ.find('\0', at);
        if (end == std::string_view::npos) end = environ.size();
        const auto entry = environ.substr(at, end - at);
        if (entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 && entry[name.size()] == '=')
            return entry.substr(name.size() + 1);
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

// One pass over the table: the root's descriptor and buffers reused for every entry.
class Reader {
public:
    using Memory = std::unordered_map<int, ProcessTable::Remembered>;

    explicit Reader(int rootFd) : rootFd_(rootFd) {}

    // The cheap reads: the /proc entry's inode, the executable link and, unless an earlier
    // scan already read it for this very process and program, the environment (unreadable
    // for other users' processes, empty for kernel threads). None when the process left,
    // is unreadable or has another DISPLAY.
    // `entryInode` is what the directory listing gave for /proc/PID (procfs lists the
    // inode it made for the entry, so no further call is needed).
    std::optional<ProcessInfo> identify(int pid, std::uint64_t entryInode, const std::optional<std::string>& display,
                                        const Memory* before, Memory* after) {
        const ProcessTable::Remembered* known = nullptr;
        if (before) {
            const auto it = before->find(pid);
            if (it != before->end() && it->second.entryInode == entryInode) known = &it->second;
        }
        // Another user's process or a kernel thread stays one for its whole life.
        if (known && (!known->environmentReadable || (known->executable.empty() && known->display.empty()))) {
            if (after) after->emplace(pid, *known);
            return std::nullopt;
        }
        ProcessInfo info;
        info.pid = pid;
        char target[4096];
        const ssize_t n = ::readlinkat(rootFd_, path(pid, "exe"), target, sizeof target - 1);
        if (n > 0) info.executable.assign(target, static_cast<std::size_t>(n));
        ProcessTable::Remembered read;
        bool lasting = true;
        if (known && known->executable == info.executable) {
            read = *known;
        } else {
            read.entryInode = entryInode;
            read.executable = info.executable;
            if (const auto environ = slurp(rootFd_, path(pid, "environ"), buffer_)) {
                read.environmentReadable = true;
                read.display = environmentValue(*environ, "DISPLAY");
                read.launchedDesktopFile = environmentValue(*environ, "GIO_LAUNCHED_DESKTOP_FILE");
                // A program that is being started shows its new executable before its
                // environment: an empty one is read again next time (kernel threads aside).
                lasting = !environ->empty() || info.executable.empty();
            }
        }
        if (after && lasting) after->emplace(pid, read);
        if (!read.environmentReadable) return std::nullopt;
        if (display && read.display != *display) return std::nullopt;
        info.display = std::move(read.display);
        info.launchedDesktopFile = std::move(read.launchedDesktopFile);
        return info;
    }

    // The rest, for a process that passed: owner, short name, start time.
    bool complete(ProcessInfo& info, const std::optional<unsigned>& uid) {
        const auto status = slurp(rootFd_, path(info.pid, "status"), buffer_);
        if (!status) return false;
        const auto owner = realUid(*status);
        if (!owner || (uid && *owner != *uid)) return false;
        info.uid = *owner;
        const auto comm = slurp(rootFd_, path(info.pid, "comm"), buffer_);
        if (!comm) return false;  // vanished meanwhile
        info.comm = *comm;
        if (!info.comm.empty() && info.comm.back() == '\n') info.comm.pop_back();
        if (const auto stat = slurp(rootFd_, path(info.pid, "stat"), buffer_)) info.startTime = startTime(*stat);
        return true;
    }

private:
    const char* path(int pid, const char* name) {
        std::snprintf(path_, sizeof path_, "%d/%s", pid, name);
        return path_;
    }
    int rootFd_;
    char path_[64];
    std::vector<char> buffer_;
};

}  // namespace

ProcessTable::ProcessTable(std::filesystem::path root) : root_(std::move(root)) {}

std::vector<ProcessInfo> ProcessTable::sessionProcesses(unsigned uid, const std::string& display,
                                                        const Candidate& candidate) const {
    std::vector<ProcessInfo> found;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(root_.c_str()), &::closedir);
    if (!dir) return found;
    Reader reader(::dirfd(dir.get()));
    const std::optional<std::string> wantedDisplay = display;
    const std::optional<unsigned> wantedUid = uid;
    std::lock_guard lock(mutex_);
    Reader::Memory before = std::move(remembered_);
    remembered_.clear();  // what this scan sees, and nothing that has gone
    while (const dirent* entry = ::readdir(dir.get())) {
        const char* name = entry->d_name;
        if (name[0] < '1' || name[0] > '9') continue;  // ".", "self", "sys", ...
        int pid = 0;
        const auto [end, error] = std::from_chars(name, name + std::strlen(name), pid);
        if (error != std::errc() || *end != '\0' || pid <= 0) continue;
        auto info = reader.identify(pid, entry->d_ino, wantedDisplay, &before, &remembered_);
        if (!info || (candidate && !candidate(*info))) continue;
        if (reader.complete(*info, wantedUid)) found.push_back(std::move(*info));
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
    return found;
}

std::optional<ProcessInfo> ProcessTable::process(int pid) const {
    const int rootFd = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) return std::nullopt;
    Reader reader(rootFd);
    auto info = reader.identify(pid, 0, std::nullopt, nullptr, nullptr);
    if (info && !reader.complete(*info, std::nullopt)) info.reset();
    ::close(rootFd);
    return info;
}

}  // namespace pelora::processes
