#pragma once

#include <chrono>
#include <optional>
#include <vector>

namespace pelora::processes {

// One process held by a pidfd: signals reach that process even if its PID is reused
// after it ends.
class PinnedProcess {
public:
    // None when no such process runs (or it cannot be pinned).
    static std::optional<PinnedProcess> pin(int pid);
    ~PinnedProcess();
    PinnedProcess(PinnedProcess&& other) noexcept;
    PinnedProcess& operator=(PinnedProcess&& other) noexcept;
    PinnedProcess(const PinnedProcess&) = delete;
    PinnedProcess& operator=(const PinnedProcess&) = delete;

    int pid() const { return pid_; }
    // The polite request to quit (SIGTERM); false when refused or already gone.
    bool requestTermination();
    bool hasExited() const;

    // Waits until every process has exited or `limit` has passed in all; returns how many exited.
    static int waitForExits(const std::vector<PinnedProcess*>& processes, std::chrono::milliseconds limit);

private:
    PinnedProcess(int pid, int fd) : pid_(pid), fd_(fd) {}
    int pid_ = 0;
    int fd_ = -1;
};

}  // namespace pelora::processes
