#include "PeloraVoiceApp/system/PushToTalkKey.h"
#include "tests/support/FakeKeyMonitor.h"
#include "tests/support/ManualMainThreadScheduler.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using pelora::PTTShortcutKey;
using pelora::PushToTalkKey;
using pelora::testing::FakeKeyMonitor;

namespace {

// Holds posted work while "blocked", as a main thread stuck in other work would; timers
// still come due when the clock moves, so they may run before the held work.
class BlockableScheduler final : public MainThreadScheduler {
public:
    void post(std::function<void()> work) override {
        if (blocked) held_.push_back(std::move(work));
        else inner.post(std::move(work));
    }
    Task postAfter(Duration delay, std::function<void()> work) override { return inner.postAfter(delay, std::move(work)); }
    Task repeatEvery(Duration interval, std::function<void()> work) override {
        return inner.repeatEvery(interval, std::move(work));
    }
    Duration now() const override { return inner.now(); }
    void unblock() {
        blocked = false;
        while (!held_.empty()) {
            inner.post(std::move(held_.front()));
            held_.pop_front();
        }
        inner.runPosted();
    }

    ManualMainThreadScheduler inner;
    bool blocked = false;

private:
    std::deque<std::function<void()>> held_;
};

// Drives one watcher in virtual time: event times are milliseconds from the start plus a
// server-clock offset; the scheduler's clock moves in step.
class Harness {
public:
    explicit Harness(std::uint32_t serverOffset, PTTShortcutKey key = PTTShortcutKey::rightOption)
        : offset_(serverOffset), start_(scheduler.now()), watcher(key, monitor, scheduler) {
        watcher.onStartRecording = [this](bool handsFree) {
            log.push_back(std::string(handsFree ? "start(locked)" : "start") + "@" + std::to_string(elapsedMs()));
        };
        watcher.onStopRecording = [this] { log.push_back("stop@" + std::to_string(elapsedMs())); };
    }

    long long elapsedMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(scheduler.now() - start_).count();
    }
    void moveTo(int ms) {
        const auto target = start_ + std::chrono::milliseconds(ms);
        if (target > scheduler.now()) scheduler.inner.advance(target - scheduler.now());
    }
    // The key goes down or up at `ms`; the event reaches the main thread at once unless blocked.
    void key(const std::string& name, bool pressed, int ms) {
        moveTo(ms);
        monitor.send(name, {pressed, offset_ + static_cast<std::uint32_t>(ms)});
        if (!scheduler.blocked) scheduler.inner.runPosted();
    }
    void press(int ms) { key("RALT", true, ms); }
    void release(int ms) { key("RALT", false, ms); }

    FakeKeyMonitor monitor;
    BlockableScheduler scheduler;
    std::uint32_t offset_;
    MainThreadScheduler::Duration start_;
    PushToTalkKey watcher;
    std::vector<std::string> log;
};

struct Gesture {
    const char* name;
    bool doubleTap;
    std::vector<std::pair<char, int>> keys;  // 'P' press or 'R' release at ms
    int until;
    std::vector<std::string> expected;
    bool lockedAtEnd;
};

const Gesture gestures[] = {
    {"hold then release", true, {{'P', 0}, {'R', 300}}, 2000, {"start@0", "stop@300"}, false},
    {"held exactly 220 ms is no quick tap", true, {{'P', 0}, {'R', 220}}, 2000, {"start@0", "stop@220"}, false},
    {"quick tap stops 260 ms after the release", true, {{'P', 0}, {'R', 100}}, 2000, {"start@0", "stop@360"}, false},
    {"double tap locks", true, {{'P', 0}, {'R', 100}, {'P', 300}, {'R', 400}}, 3000,
     {"start@0", "start(locked)@300"}, true},
    {"second press exactly 350 ms after the first locks", true, {{'P', 0}, {'R', 100}, {'P', 350}, {'R', 400}}, 3000,
     {"start@0", "start(locked)@350"}, true},
    {"a tap while locked stops at its release", true,
     {{'P', 0}, {'R', 100}, {'P', 300}, {'R', 400}, {'P', 1000}, {'R', 1100}}, 3000,
     {"start@0", "start(locked)@300", "stop@1100"}, false},
    {"a long second press locks and its release unlocks", true, {{'P', 0}, {'R', 100}, {'P', 300}, {'R', 600}}, 3000,
     {"start@0", "start(locked)@300", "stop@600"}, false},
    {"a later second press before the deferred stop starts again", true,
     {{'P', 0}, {'R', 200}, {'P', 400}, {'R', 700}}, 3000, {"start@0", "start@400", "stop@700"}, false},
    {"a press after the deferred stop starts a new recording", true, {{'P', 0}, {'R', 50}, {'P', 400}, {'R', 700}},
     3000, {"start@0", "stop@310", "start@400", "stop@700"}, false},
    {"without double tap every release stops at once", false, {{'P', 0}, {'R', 100}, {'P', 300}, {'R', 400}}, 3000,
     {"start@0", "stop@100", "start@300", "stop@400"}, false},
    {"a repeated press of the held key counts once", true, {{'P', 0}, {'P', 100}, {'P', 200}, {'R', 500}}, 2000,
     {"start@0", "stop@500"}, false},
    {"a release without a press is ignored", true, {{'R', 0}, {'P', 500}, {'R', 900}}, 2000,
     {"start@500", "stop@900"}, false},
};

class PushToTalkGestures : public ::testing::TestWithParam<std::tuple<Gesture, std::uint32_t>> {};

TEST_P(PushToTalkGestures, CallbacksFollowTheGesture) {
    const auto& [gesture, offset] = GetParam();
    Harness h(offset);
    h.watcher.updateConfiguration(PTTShortcutKey::rightOption, gesture.doubleTap, true);
    for (auto [what, ms] : gesture.keys) what == 'P' ? h.press(ms) : h.release(ms);
    h.moveTo(gesture.until);
    EXPECT_EQ(h.log, gesture.expected) << gesture.name << ", server clock from " << offset;
    EXPECT_EQ(h.watcher.isHandsFreeLocked(), gesture.lockedAtEnd) << gesture.name;
    EXPECT_FALSE(h.watcher.isPressed()) << gesture.name;
}

// Server clocks: a freshly started X server (the first press must still never lock) and one
// about to wrap round 2^32 ms in the middle of the gesture.
INSTANTIATE_TEST_SUITE_P(Table, PushToTalkGestures,
                         ::testing::Combine(::testing::ValuesIn(gestures), ::testing::Values(5u, 0xFFFFFF80u)));

TEST(PushToTalkKey, DoubleTapSeenLateByABusyMainThreadStillLocks) {
    // The main thread is stuck from 150 ms to 550 ms; the deferred stop is due at 360 ms
    // and the second press (at 300 ms) waits in the queue meanwhile.
    Harness h(1000);
    h.watcher.start();
    h.press(0);
    h.release(100);
    h.scheduler.blocked = true;
    h.press(300);
    h.release(380);
    h.moveTo(550);
    h.scheduler.unblock();
    h.moveTo(3000);
    EXPECT_EQ(h.log, (std::vector<std::string>{"start@0", "start(locked)@360"}));
    EXPECT_TRUE(h.watcher.isHandsFreeLocked());
}

TEST(PushToTalkKey, QueuedPressAfterTheStopWasDueStopsFirst) {
    Harness h(1000);
    h.watcher.start();
    h.press(0);
    h.release(50);  // stop due at 310
    // The main thread is stuck from 60 ms on: the timer has not had its turn when the
    // press made at 400 ms is handled, which must still come after the stop.
    h.scheduler.blocked = true;
    h.monitor.send("RALT", {true, 1000 + 400});
    h.scheduler.unblock();
    h.moveTo(3000);
    EXPECT_EQ(h.log, (std::vector<std::string>{"start@0", "stop@50", "start@50"}));
    EXPECT_TRUE(h.watcher.isPressed());
}

TEST(PushToTalkKey, OtherKeysAreNotWatched) {
    Harness h(1000);
    h.watcher.start();
    EXPECT_EQ(h.monitor.watchedKeys(), (std::multiset<std::string>{"RALT"}));
    h.key("LALT", true, 0);
    h.key("LALT", false, 100);
    h.moveTo(1000);
    EXPECT_TRUE(h.log.empty());
}

struct Reconfiguration {
    const char* name;
    bool holdFirst;  // true: key held; false: locked hands-free
    PTTShortcutKey newKey;
    bool doubleTap;
    bool enabled;
    bool expectedResult;
    std::multiset<std::string> expectedWatches;
    bool stateKept;
};

const Reconfiguration reconfigurations[] = {
    {"key changed while held", true, PTTShortcutKey::rightControl, true, true, true, {"RCTL"}, false},
    {"key changed while locked", false, PTTShortcutKey::leftOption, true, true, true, {"LALT"}, false},
    {"only the double tap changed while held", true, PTTShortcutKey::rightOption, false, true, false, {"RALT"}, true},
    {"disabled while held", true, PTTShortcutKey::rightOption, true, false, true, {}, false},
    {"disabled and key changed while locked", false, PTTShortcutKey::rightCommand, true, false, true, {}, false},
    {"changed to Fn, which X11 never reports", true, PTTShortcutKey::fnKey, true, true, true, {}, false},
};

class PushToTalkReconfiguration : public ::testing::TestWithParam<Reconfiguration> {};

TEST_P(PushToTalkReconfiguration, DropsTheStateWithoutACallback) {
    const auto& c = GetParam();
    Harness h(1000);
    EXPECT_FALSE(h.watcher.updateConfiguration(PTTShortcutKey::rightOption, true, true));
    if (c.holdFirst) {
        h.press(0);
    } else {
        h.press(0), h.release(50), h.press(200), h.release(250);
    }
    const auto logBefore = h.log;
    EXPECT_EQ(h.watcher.updateConfiguration(c.newKey, c.doubleTap, c.enabled), c.expectedResult) << c.name;
    h.moveTo(2000);
    EXPECT_EQ(h.log, logBefore) << c.name;
    EXPECT_EQ(h.monitor.watchedKeys(), c.expectedWatches) << c.name;
    EXPECT_EQ(h.watcher.shortcut(), c.newKey) << c.name;
    EXPECT_EQ(h.watcher.isPressed() || h.watcher.isHandsFreeLocked(), c.stateKept) << c.name;
    EXPECT_EQ(h.watcher.isMonitoring(), !c.expectedWatches.empty()) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Table, PushToTalkReconfiguration, ::testing::ValuesIn(reconfigurations));

TEST(PushToTalkKey, ARefusedWatchIsTriedAgainByTheNextEnablingConfiguration) {
    Harness h(1000);
    h.monitor.refuseWatches = true;
    h.watcher.updateConfiguration(PTTShortcutKey::rightOption, true, true);
    EXPECT_FALSE(h.watcher.isMonitoring());
    h.monitor.refuseWatches = false;
    h.watcher.updateConfiguration(PTTShortcutKey::rightOption, true, true);
    EXPECT_TRUE(h.watcher.isMonitoring());
    h.watcher.updateConfiguration(PTTShortcutKey::rightOption, false, true);
    EXPECT_EQ(h.monitor.watchRequests, 2) << "a watch in place is kept";
    h.watcher.start();
    EXPECT_EQ(h.monitor.watchRequests, 2);
}

TEST(PushToTalkKey, ResetOrStopDuringTheQuickTapWaitCancelsTheDeferredStop) {
    for (bool useStop : {false, true}) {
        Harness h(1000);
        h.watcher.start();
        h.press(0);
        h.release(100);
        useStop ? h.watcher.stop() : h.watcher.resetState();
        h.moveTo(1000);
        EXPECT_EQ(h.log, (std::vector<std::string>{"start@0"})) << (useStop ? "stop()" : "resetState()");
        EXPECT_EQ(h.scheduler.inner.pendingTimerCount(), 0u);
        EXPECT_EQ(h.watcher.isMonitoring(), !useStop);
    }
}

TEST(PushToTalkKey, EventsOfAnEarlierKeyDoNotCountForTheNewOne) {
    Harness h(1000);
    h.watcher.start();
    h.scheduler.blocked = true;
    h.press(0);  // queued for the right Option key
    h.watcher.updateConfiguration(PTTShortcutKey::rightControl, true, true);
    h.scheduler.unblock();
    h.moveTo(1000);
    EXPECT_TRUE(h.log.empty());
    EXPECT_FALSE(h.watcher.isPressed());
}

TEST(PushToTalkKey, WorkQueuedForADestroyedWatcherDoesNothing) {
    FakeKeyMonitor monitor;
    ManualMainThreadScheduler scheduler;
    int calls = 0;
    {
        PushToTalkKey watcher(PTTShortcutKey::rightOption, monitor, scheduler);
        watcher.onStartRecording = [&](bool) { ++calls; };
        watcher.start();
        monitor.send("RALT", {true, 10});
    }
    scheduler.runPosted();
    scheduler.advance(1s);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(monitor.watchedKeys().empty());
}

}  // namespace
