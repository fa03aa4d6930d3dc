#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pelora::testing {

// A program started in the background for a test: its own process group, killed with
// the starting process if that dies (so a crashed test leaves no server behind), and
// stopped by its process id when the object goes.
class ChildProcess {
public:
    struct Options {
        std::vector<std::string> argv;
        // Added to (or, with nullopt, removed from) this process's environment.
        std::map<std::string, std::optional<std::string>> environment = {};
        // Standard output and error go here (appended); empty: inherited.
        std::filesystem::path log = {};
        // When set, standard output goes here instead (appended).
        std::filesystem::path output = {};
        // Given to the program as file descriptor 3 (for -displayfd, --print-address).
        int passedDescriptor = -1;
        std::filesystem::path workingDirectory = {};
    };

    // Throws std::runtime_error when the program cannot be started (not found, not executable).
    explicit ChildProcess(const Options& options);
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& name() const { return name_; }
    // False once it has exited (it is then reaped).
    bool running();
    // The wait status once it has exited.
    std::optional<int> waitStatus() const { return status_; }
    // Waits for it to exit by itself; false when it is still running after `timeout`.
    bool waitForExit(std::chrono::milliseconds timeout);
    // Sends a signal to its whole process group.
    void signal(int number);
    // SIGTERM to its process group, then SIGKILL after `grace`; reaps it. Safe to repeat.
    void stop(std::chrono::milliseconds grace = std::chrono::seconds(5));

private:
    pid_t pid_ = -1;
    std::string name_;
    std::optional<int> status_;
};

// Polls `condition` every 20 ms until it holds or `timeout` passes; returns the last result.
template <typename Condition>
bool waitUntil(std::chrono::milliseconds timeout, Condition condition);

// A short text describing a wait status ("exit 1", "signal 9").
std::string describeWaitStatus(int status);

}  // namespace pelora::testing

#include <thread>

template <typename Condition>
bool pelora::testing::waitUntil(std::chrono::milliseconds timeout, Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
