#include "platform/process/ProcessRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <thread>

extern char** environ;

namespace pelora::process {

namespace {

struct SpawnFileActions {
    posix_spawn_file_actions_t actions;
    SpawnFileActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnFileActions() { posix_spawn_file_actions_destroy(&actions); }
};

struct FileDescriptor {
    int fd = -1;
    ~FileDescriptor() {
        if (fd >= 0) close(fd);
    }
};

using Clock = std::chrono::steady_clock;

ProcessRunner::Outcome outcomeOf(int status) {
    ProcessRunner::Outcome outcome;
    if (WIFEXITED(status)) {
        outcome.ending = ProcessRunner::Outcome::Ending::exited;
        outcome.exitStatus = WEXITSTATUS(status);
    } else {
        outcome.ending = ProcessRunner::Outcome::Ending::killedBySignal;
    }
    return outcome;
}

// Reaps the child when it has ended; false while it still runs.
bool tryReap(pid_t pid, int& status) {
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return true;
        if (r == 0) return false;
        if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "waitpid");
    }
}

void reap(pid_t pid, int& status) {
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "waitpid");
    }
}

// Waits until the child ends or the deadline passes; true when it ended.
bool waitUntil(pid_t pid, Clock::time_point deadline, int& status) {
    FileDescriptor pidfd{static_cast<int>(syscall(SYS_pidfd_open, pid, 0))};
    for (;;) {
        if (tryReap(pid, status)) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        if (pidfd.fd >= 0) {
            // The pidfd turns readable when the child exits: no polling interval needed.
            pollfd p{pidfd.fd, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000))) < 0 && errno != EINTR) {
                throw std::system_error(errno, std::generic_category(), "poll");
            }
        } else {
            // Kernels without pidfd: check often enough that short programs return promptly.
            std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(10)));
        }
    }
}

}  // namespace

ProcessRunner::Outcome ProcessRunner::run(const std::string& program, const std::vector<std::string>& arguments,
                                          std::chrono::milliseconds timeLimit) {
    SpawnFileActions files;
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        const int flags = fd == STDIN_FILENO ? O_RDONLY : O_WRONLY;
        if (int rc = posix_spawn_file_actions_addopen(&files.actions, fd, "/dev/null", flags, 0); rc != 0) {
            throw std::system_error(rc, std::generic_category(), "posix_spawn_file_actions_addopen");
        }
    }
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    const auto deadline = Clock::now() + timeLimit;
    pid_t pid = -1;
    if (int rc = posix_spawn(&pid, program.c_str(), &files.actions, nullptr, argv.data(), environ); rc != 0) {
        throw std::system_error(rc, std::generic_category(), "cannot start " + program);
    }

    int status = 0;
    bool ended = false;
    try {
        ended = waitUntil(pid, deadline, status);
    } catch (...) {
        // Never leave a child behind, whatever went wrong while waiting for it.
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        throw;
    }
    if (ended) return outcomeOf(status);
    kill(pid, SIGKILL);
    reap(pid, status);
    Outcome outcome;
    outcome.ending = Outcome::Ending::timedOut;
    return outcome;
}

}  // namespace pelora::process
