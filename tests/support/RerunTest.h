#pragma once

#include <map>
#include <string>
#include <vector>

namespace pelora::testing {

// Runs the current test once more, alone, in a fresh process of this test program that
// is started through `launcher` (a command that runs its remaining arguments, such as
// {"dbus-run-session", "--"}; empty for none) with `environment` added. Use it for tests
// that need a process-wide setting of their own (a private D-Bus session, environment
// variables read once):
//
//     if (pelora::testing::rerunCurrentTestIn(launcher, environment)) return;
//     ... the test body, which runs in the fresh process ...
//
// In the test's own process it waits for the fresh one, fails the test (showing that
// process' output) unless the test passed there, and returns true. In the fresh process
// it returns false.
bool rerunCurrentTestIn(const std::vector<std::string>& launcher, const std::map<std::string, std::string>& environment);

// True inside the fresh process started by rerunCurrentTestIn.
bool isRerunOfCurrentTest();

}  // namespace pelora::testing
