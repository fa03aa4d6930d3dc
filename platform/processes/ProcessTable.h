#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pelora::processes {

// What /proc tells about one process.
struct ProcessInfo {
    int pid = 0;
    unsigned uid = 0;                // real user
    std::string comm;                // the short name (/proc/PID/comm), may be empty
    std::string executable;          // /proc/PID/exe's target; empty when unreadable
    std::string display;             // $DISPLAY in its environment
    std::string launchedDesktopFile; // $GIO_LAUNCHED_DESKTOP_FILE: the desktop file it was started from
    std::uint64_t startTime = 0;     // clock ticks after boot; tells a reused PID apart
};

// The processes under a /proc root (another folder laid out the same way in tests).
// Entries that vanish while being read, or cannot be read, are left out.
class ProcessTable {
public:
    explicit ProcessTable(std::filesystem::path root = "/proc");

    // Processes of `uid` whose DISPLAY is `display`, in PID order.
    std::vector<ProcessInfo> sessionProcesses(unsigned uid, const std::string& display) const;
    std::optional<ProcessInfo> process(int pid) const;

private:
    std::optional<ProcessInfo> read(int pid, const std::optional<unsigned>& uid,
                                    const std::optional<std::string>& display) const;
    std::filesystem::path root_;
};

}  // namespace pelora::processes
