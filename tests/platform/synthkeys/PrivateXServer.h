#pragma once

#include <sys/types.h>

#include <string>

namespace pelora::synthkeys::testing {

// An Xvfb of the test's own on a free display number, stopped (by process id) when the
// object goes away.
class PrivateXServer {
public:
    PrivateXServer();
    ~PrivateXServer();
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;

    const std::string& display() const { return display_; }  // ":N"
    // Ends the server at once, as a crash would.
    void kill();

private:
    pid_t pid_ = -1;
    std::string display_;
};

}  // namespace pelora::synthkeys::testing
