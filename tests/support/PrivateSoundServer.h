#pragma once

#include "tests/support/ChildProcess.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace pelora::testing {

// The start-up script of a test sound server listening on `socket` for anonymous clients:
// null sinks "speaker" (the default sink) and "micfeed", and "virtmic", the default source,
// hearing what is played into "micfeed". "virtmic" behaves like a microphone that is always
// on: a recording gets its first samples within a few milliseconds.
std::string soundServerScript(const std::filesystem::path& socket);

// A sound server of one test's own, shaped like the private desktop's (null sinks
// "speaker" and "micfeed", "virtmic" the default source hearing "micfeed"), for tests that
// kill, stop or restart it. Point PULSE_SERVER at `address()` before a client connects.
class PrivateSoundServer {
public:
    // Starts it and waits until it answers; throws std::runtime_error with its log if not.
    PrivateSoundServer();
    ~PrivateSoundServer();
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    const std::string& address() const { return address_; }
    pid_t pid() const { return server_ ? server_->pid() : -1; }

    // Gone at once (SIGKILL), as a crash; reaped.
    void kill();
    // Asleep (SIGSTOP) and awake again (SIGCONT): the socket stays, nothing answers.
    void pause();
    void resume();
    // Started again on the same socket after kill(); waits until it answers.
    void start();

    // A client program run against this server (pactl, paplay).
    CommandResult run(const std::vector<std::string>& argv) const;

private:
    TempDir root_;
    std::string address_;
    std::map<std::string, std::string> clientEnvironment_;
    std::unique_ptr<ChildProcess> server_;
};

}  // namespace pelora::testing
