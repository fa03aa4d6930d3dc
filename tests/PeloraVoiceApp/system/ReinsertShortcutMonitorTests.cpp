#include "PeloraVoiceApp/system/ReinsertShortcutMonitor.h"
#include "tests/support/FakeKeyMonitor.h"
#include "tests/support/ManualMainThreadScheduler.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using pelora::ReinsertShortcutMonitor;
using pelora::ReinsertShortcutPreset;
using pelora::testing::FakeKeyMonitor;
namespace preset = pelora::reinsert_shortcut_preset;
namespace mod = pelora::keymonitor::modifier;

namespace {

class Harness {
public:
    explicit Harness(ReinsertShortcutPreset p = ReinsertShortcutPreset::optionShiftV)
        : start_(scheduler.now()), monitor_(p, keys, scheduler) {
        monitor_.onTrigger = [this] { triggers.push_back(elapsedMs()); };
    }
    long long elapsedMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(scheduler.now() - start_).count();
    }
    void moveTo(int ms) {
        const auto target = start_ + std::chrono::milliseconds(ms);
        if (target > scheduler.now()) scheduler.advance(target - scheduler.now());
    }
    // The grabbed combination of the current preset goes down or up at `ms`.
    bool key(bool pressed, int ms, bool repeat = false) {
        moveTo(ms);
        const auto p = monitor_.preset();
        const bool sent = keys.sendHotKey(preset::x11Keysym(p), preset::x11ModifierMask(p),
                                          {pressed, repeat, 7000 + static_cast<std::uint32_t>(ms)});
        scheduler.runPosted();
        return sent;
    }
    void tap(int at, int heldFor = 60) {
        key(true, at);
        key(false, at + heldFor);
    }

    FakeKeyMonitor keys;
    ManualMainThreadScheduler scheduler;
    MainThreadScheduler::Duration start_;
    ReinsertShortcutMonitor monitor_;
    std::vector<long long> triggers;
};

struct ModifierWait {
    const char* name;
    ReinsertShortcutPreset preset;
    unsigned heldModifiers;
    int releasedAt;  // ms after the key's release; -1: never
    long long expectedTrigger;  // ms after the key's release
};

const ModifierWait modifierWaits[] = {
    {"nothing held", ReinsertShortcutPreset::optionShiftV, 0, -1, 25},
    {"Alt and Shift let go after 0.1 s", ReinsertShortcutPreset::optionShiftV, mod::mod1 | mod::shift, 100, 130},
    {"Control and Shift let go after 0.4 s", ReinsertShortcutPreset::controlShiftP, mod::control | mod::shift, 400,
     265},
    {"Shift held throughout", ReinsertShortcutPreset::optionShiftP, mod::shift, -1, 265},
    {"Super is not waited for", ReinsertShortcutPreset::commandShiftU, mod::mod4, -1, 25},
    {"NumLock and CapsLock are not waited for", ReinsertShortcutPreset::optionShiftV, mod::mod2 | mod::lock, -1, 25},
};

class ReinsertModifierWait : public ::testing::TestWithParam<ModifierWait> {};

TEST_P(ReinsertModifierWait, TriggerComesOnceTheModifiersAreLetGo) {
    const auto& c = GetParam();
    Harness h(c.preset);
    h.monitor_.start();
    h.keys.modifiers = c.heldModifiers;
    h.key(true, 0);
    h.key(false, 100);
    EXPECT_TRUE(h.triggers.empty()) << "never at the release itself";
    MainThreadScheduler::Task letGo;
    if (c.releasedAt >= 0)
        letGo = h.scheduler.postAfter(std::chrono::milliseconds(c.releasedAt), [&] { h.keys.modifiers = 0; });
    h.moveTo(2000);
    EXPECT_EQ(h.triggers, (std::vector<long long>{100 + c.expectedTrigger})) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Table, ReinsertModifierWait, ::testing::ValuesIn(modifierWaits));

TEST(ReinsertShortcutMonitor, EachPresetGrabsItsCombinationAndAPresetChangeReleasesTheOld) {
    Harness h;
    h.monitor_.start();
    for (auto p : preset::allCases) {
        h.monitor_.setPreset(p);
        EXPECT_EQ(h.keys.grabbedKeys(),
                  (std::set<std::pair<std::uint32_t, unsigned>>{{preset::x11Keysym(p), preset::x11ModifierMask(p)}}))
            << preset::rawValue(p);
    }
    h.monitor_.stop();
    EXPECT_TRUE(h.keys.grabbedKeys().empty());
    h.monitor_.setPreset(ReinsertShortcutPreset::controlShiftP);
    EXPECT_TRUE(h.keys.grabbedKeys().empty()) << "a stopped monitor takes nothing";
    EXPECT_EQ(h.monitor_.preset(), ReinsertShortcutPreset::controlShiftP);
}

TEST(ReinsertShortcutMonitor, AHeldKeyTriggersOnceAtItsRelease) {
    Harness h;
    h.monitor_.start();
    h.key(true, 0);
    for (int t = 500; t < 1500; t += 40) h.key(true, t, /*repeat=*/true);
    h.key(false, 1500);
    h.moveTo(4000);
    EXPECT_EQ(h.triggers, (std::vector<long long>{1525}));
}

TEST(ReinsertShortcutMonitor, RepeatedReleasesOfAHeldKeyDoNotTrigger) {
    // Without detectable repeats the server sends press/release pairs while the key is held.
    Harness h;
    h.monitor_.start();
    h.key(true, 0);
    for (int t = 500; t < 1500; t += 60) {
        h.key(false, t, /*repeat=*/true);
        h.key(true, t, /*repeat=*/true);
    }
    h.key(false, 1500);
    h.moveTo(4000);
    EXPECT_EQ(h.triggers, (std::vector<long long>{1525}));
}

TEST(ReinsertShortcutMonitor, TriggersAtMostOncePerQuarterSecond) {
    struct Case {
        int secondReleaseAfter;
        std::size_t expectedTriggers;
    };
    for (auto c : {Case{250, 1}, Case{251, 2}, Case{100, 1}}) {
        Harness h;
        h.monitor_.start();
        h.tap(0, 50);
        h.tap(50 + c.secondReleaseAfter - 10, 10);
        h.moveTo(3000);
        EXPECT_EQ(h.triggers.size(), c.expectedTriggers) << c.secondReleaseAfter << " ms apart";
    }
}

TEST(ReinsertShortcutMonitor, AReleaseWithoutItsPressDoesNotTrigger) {
    Harness h;
    h.monitor_.start();
    h.key(false, 0);
    h.moveTo(1000);
    EXPECT_TRUE(h.triggers.empty());
}

TEST(ReinsertShortcutMonitor, ATriggerAcceptedBeforeStopStillArrives) {
    Harness h;
    h.monitor_.start();
    h.keys.modifiers = mod::shift;
    h.tap(0);
    h.monitor_.stop();
    h.moveTo(1000);
    EXPECT_EQ(h.triggers, (std::vector<long long>{60 + 265}));
}

TEST(ReinsertShortcutMonitor, EventsQueuedBeforeStopAreDropped) {
    Harness h;
    h.monitor_.start();
    const auto p = h.monitor_.preset();
    h.keys.sendHotKey(preset::x11Keysym(p), preset::x11ModifierMask(p), {true, false, 1});
    h.keys.sendHotKey(preset::x11Keysym(p), preset::x11ModifierMask(p), {false, false, 2});
    h.monitor_.stop();
    h.scheduler.runPosted();
    h.moveTo(1000);
    EXPECT_TRUE(h.triggers.empty());
}

TEST(ReinsertShortcutMonitor, ARefusedCombinationIsRecordedNotThrown) {
    Harness h;
    h.keys.refuseGrabsWith = "another client holds it";
    EXPECT_NO_THROW(h.monitor_.start());
    EXPECT_TRUE(h.monitor_.isRunning());
    EXPECT_FALSE(h.monitor_.isGrabbed());
    EXPECT_EQ(h.monitor_.grabError(), "another client holds it");
    h.keys.refuseGrabsWith.reset();
    h.monitor_.start();
    EXPECT_TRUE(h.monitor_.isGrabbed());
    EXPECT_EQ(h.monitor_.grabError(), "");
}

TEST(ReinsertShortcutMonitor, ADestroyedMonitorCallsNothing) {
    FakeKeyMonitor keys;
    ManualMainThreadScheduler scheduler;
    int calls = 0;
    {
        ReinsertShortcutMonitor monitor(ReinsertShortcutPreset::optionShiftV, keys, scheduler);
        monitor.onTrigger = [&] { ++calls; };
        monitor.start();
        const auto p = monitor.preset();
        keys.sendHotKey(preset::x11Keysym(p), preset::x11ModifierMask(p), {true, false, 1});
        keys.sendHotKey(preset::x11Keysym(p), preset::x11ModifierMask(p), {false, false, 2});
        scheduler.runPosted();  // the wait has begun
        keys.sendHotKey(preset::x11Keysym(p), preset::x11ModifierMask(p), {true, false, 900});
    }
    scheduler.runPosted();
    scheduler.advance(1s);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(keys.grabbedKeys().empty());
}

}  // namespace
