#include "platform/processes/PinnedProcess.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <utility>

namespace pelora::processes {

namespace {

// Direct system calls: this C library's pidfd header lacks C linkage for C++.
int pidfdOpen(int pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }
int pidfdSendSignal(int fd, int signal) { return static_cast<int>(::syscall(SYS_pidfd_send_signal, fd, signal, nullptr, 0)); }

}  // namespace

std::optional<PinnedProcess> PinnedProcess::pin(int pid) {
    if (pid <= 0) return std::nullopt;
    const int fd = pidfdOpen(pid);
    if (fd < 0) return std::nullopt;
    return PinnedProcess(pid, fd);
}

PinnedProcess::~PinnedProcess() {
    if (fd_ >= 0) ::close(fd_);
}

PinnedProcess::PinnedProcess(PinnedProcess&& other) noexcept
    : pid_(other.pid_), fd_(std::exchange(other.fd_, -1)) {}

PinnedProcess& PinnedProcess::operator=(PinnedProcess&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        pid_ = other.pid_;
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

bool PinnedProcess::requestTermination() {
    return fd_ >= 0 && pidfdSendSignal(fd_, SIGTERM) == 0;
}

bool PinnedProcess::hasExited() const {
    if (fd_ < 0) return true;
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP)) != 0;
}

int PinnedProcess::waitForExits(const std::vector<PinnedProcess*>& processes, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        std::vector<pollfd> waiting;
        int exited = 0;
        for (auto* process : processes) {
            if (process->hasExited()) ++exited;
            else waiting.push_back({process->fd_, POLLIN, 0});
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (waiting.empty() || left.count() <= 0) return exited;
        ::poll(waiting.data(), waiting.size(), static_cast<int>(left.count()));
    }
}

}  // namespace pelora::processes
