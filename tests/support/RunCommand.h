#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace pelora::testing {

struct CommandResult {
    int exitCode = -1;  // -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs a program directly (no shell) and collects its exit code and both output streams.
// `environment` entries are added to (or override) the test's own environment.
CommandResult runCommand(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& environment = {},
                         std::chrono::seconds timeout = std::chrono::seconds(120));

// Runs a program and fails the calling test (via exception) unless it exits with 0.
std::string runChecked(const std::vector<std::string>& argv);

}  // namespace pelora::testing
