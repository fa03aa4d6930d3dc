#include "tests/platform/synthkeys/PrivateXServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace pelora::synthkeys::testing {

PrivateXServer::PrivateXServer() {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
    const std::string writeFd = std::to_string(fds[1]);
    std::vector<std::string> args = {"Xvfb", "-displayfd", writeFd, "-nolisten", "tcp", "-noreset", "-screen", "0", "640x480x24"};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        throw std::runtime_error("cannot start Xvfb");
    }
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd fd{fds[0], POLLIN, 0};
        if (poll(&fd, 1, 200) <= 0) continue;
        char c = 0;
        if (read(fds[0], &c, 1) != 1) break;
        if (c == '\n') break;
        number += c;
    }
    close(fds[0]);
    if (number.empty()) {
        kill();
        throw std::runtime_error("Xvfb did not report its display");
    }
    display_ = ":" + number;
}

PrivateXServer::~PrivateXServer() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        usleep(50'000);
    }
    kill();
}

void PrivateXServer::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    // A killed server leaves its lock and socket behind.
    if (display_.size() > 1) {
        const std::string number = display_.substr(1);
        unlink(("/tmp/.X" + number + "-lock").c_str());
        unlink(("/tmp/.X11-unix/X" + number).c_str());
    }
}

}  // namespace pelora::synthkeys::testing
