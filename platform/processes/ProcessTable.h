#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
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
//
// A table remembers what each process's environment said: a later scan reads it again
// only for a process it has not seen (its /proc entry is new) or that has run another
// program since (its executable changed). Thread-safe.
class ProcessTable {
public:
    // Decides from `pid`, `executable`, `display` and `launchedDesktopFile` alone whether
    // a process is worth the rest of its reads.
    using Candidate = std::function<bool(const ProcessInfo&)>;

    explicit ProcessTable(std::filesystem::path root = "/proc");
    ProcessTable(const ProcessTable&) = delete;
    ProcessTable& operator=(const ProcessTable&) = delete;

    // Processes of `uid` whose DISPLAY is `display` and that `candidate` accepts (all when
    // it is empty), in PID order. A session holds hundreds of processes: each is judged
    // from its environment and executable link, and only the accepted ones are read further.
    std::vector<ProcessInfo> sessionProcesses(unsigned uid, const std::string& display,
                                              const Candidate& candidate = {}) const;
    // Read afresh, whatever the table remembers.
    std::optional<ProcessInfo> process(int pid) const;

    // What one scan learnt from a process's environment, for the next.
    struct Remembered {
        std::uint64_t entryInode = 0;  // /proc/PID's inode: a reused PID gets a new entry
        std::string executable;
        bool environmentReadable = false;
        std::string display;
        std::string launchedDesktopFile;
    };

private:
    std::filesystem::path root_;
    mutable std::mutex mutex_;
    mutable std::unordered_map<int, Remembered> remembered_;
};

}  // namespace pelora::processes
