#include "platform/process/ProcessRunner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <system_error>
#include <vector>

namespace {

using pelora::process::ProcessRunner;
using Ending = ProcessRunner::Outcome::Ending;
using namespace std::chrono_literals;

struct Case {
    const char* script;  // run by /bin/sh -c
    std::chrono::milliseconds limit;
    Ending ending;
    int exitStatus;
};

std::ostream& operator<<(std::ostream& os, const Case& c) { return os << "sh -c '" << c.script << "'"; }

const Case cases[] = {
    {"exit 0", 10s, Ending::exited, 0},
    {"exit 3", 10s, Ending::exited, 3},
    {"echo noise; echo more >&2; exit 0", 10s, Ending::exited, 0},
    {"read line; exit 4", 10s, Ending::exited, 4},  // standard input is empty, not the caller's
    {"kill -9 $$", 10s, Ending::killedBySignal, -1},
    {"sleep 30", 200ms, Ending::timedOut, -1},
};

class ProcessRunnerCase : public ::testing::TestWithParam<Case> {};

TEST_P(ProcessRunnerCase, ReportsHowTheProgramEnded) {
    const Case& c = GetParam();
    const auto started = std::chrono::steady_clock::now();
    const ProcessRunner::Outcome outcome = ProcessRunner::run("/bin/sh", {"-c", c.script}, c.limit);
    EXPECT_EQ(outcome.ending, c.ending);
    EXPECT_EQ(outcome.exitStatus, c.exitStatus);
    EXPECT_EQ(outcome.succeeded(), c.ending == Ending::exited && c.exitStatus == 0);
    // A program past its limit is killed, not waited for.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
}

INSTANTIATE_TEST_SUITE_P(Scripts, ProcessRunnerCase, ::testing::ValuesIn(cases));

TEST(ProcessRunner, AProgramThatCannotStartThrows) {
    EXPECT_THROW(ProcessRunner::run("/nonexistent/program", {}, 1s), std::system_error);
}

}  // namespace
