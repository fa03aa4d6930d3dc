#include "engine/japanese/MirkHealthGate.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace pelora {
namespace {

using namespace std::chrono_literals;
using Clock = MirkHealthGate::Clock;

struct Step {
    enum Kind { failure, success, advance, check } kind;
    Clock::duration duration = {};
    bool canAttempt = false;
};
const Step F{Step::failure};
const Step S{Step::success};
Step waitFor(Clock::duration d) { return {Step::advance, d}; }
const Step allowed{Step::check, {}, true};
const Step refused{Step::check, {}, false};

TEST(MirkHealthGate, OpensAfterTwoFailuresInARowForThirtySecondsAfterTheLatest) {
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"a new gate lets calls through", {allowed, allowed}},
        {"one failure keeps it closed", {F, allowed}},
        {"a second failure in a row opens it for 30 s",
         {F, F, refused, waitFor(29999ms), refused, waitFor(1ms), allowed}},
        {"failure, success, failure keeps it closed", {F, S, F, allowed, allowed}},
        {"a success closes an open gate at once", {F, F, refused, S, allowed, F, allowed}},
        {"each further failure moves the end to 30 s after it",
         {F, F, waitFor(20s), F, waitFor(29s), refused, waitFor(1s), allowed}},
        {"the first check after the period starts the count afresh",
         {F, F, waitFor(30s), allowed, F, allowed, F, refused}},
        {"without a check after the period, the count goes on", {F, F, waitFor(31s), F, refused}},
        {"failures far apart still count as in a row", {F, waitFor(1h), F, refused}},
    };
    for (const auto& c : cases) {
        Clock::time_point now{};
        MirkHealthGate gate([&now] { return now; });
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            const Step& step = c.steps[i];
            switch (step.kind) {
                case Step::failure: gate.recordFailure(); break;
                case Step::success: gate.recordSuccess(); break;
                case Step::advance: now += step.duration; break;
                case Step::check: EXPECT_EQ(gate.canAttempt(), step.canAttempt) << c.name << ", step " << i; break;
            }
        }
    }
}

TEST(MirkHealthGate, RecordsTheFailureCountAndTheEndOfTheOpenPeriod) {
    Clock::time_point now{};
    MirkHealthGate gate([&now] { return now; });
    gate.recordFailure();
    EXPECT_EQ(gate.consecutiveFailures(), 1);
    EXPECT_EQ(gate.openUntil(), std::nullopt);
    now += 5s;
    gate.recordFailure();
    EXPECT_EQ(gate.consecutiveFailures(), 2);
    EXPECT_EQ(gate.openUntil(), Clock::time_point{} + 35s);
    now += 35s;
    EXPECT_TRUE(gate.canAttempt());
    EXPECT_EQ(gate.consecutiveFailures(), 0);
    EXPECT_EQ(gate.openUntil(), std::nullopt);
}

TEST(MirkHealthGate, OneSharedGateSerialisesConcurrentCalls) {
    EXPECT_EQ(&MirkHealthGate::shared(), &MirkHealthGate::shared());
    Clock::time_point now{};
    MirkHealthGate gate([&now] { return now; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&gate] {
            for (int i = 0; i < 500; ++i) {
                gate.recordFailure();
                gate.canAttempt();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(gate.consecutiveFailures(), 8 * 500);
    EXPECT_FALSE(gate.canAttempt());
}

}  // namespace
}  // namespace pelora
