#include "PeloraVoiceApp/hud/HUDStateModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(HUDStateModelTest, StartsHiddenWithSixteenFloorBars) {
    HUDStateModel model;
    EXPECT_TRUE(model.mode().isHidden());
    EXPECT_EQ(model.barLevels(), std::vector<float>(16, 0.1f));
    EXPECT_FALSE(model.onReinsertRequested);
    EXPECT_FALSE(model.onCopyRequested);
    EXPECT_FALSE(model.onDismissRequested);
}

TEST(HUDStateModelTest, PushLevelAppendsTheScaledClampedLevel) {
    struct Case {
        float level;
        float appended;
    };
    const Case cases[] = {
        {0.0f, 0.1f}, {0.5f, 0.7f}, {0.8f, 1.0f}, {0.05f, 0.1f}, {0.0714f, 0.1f}, {0.2f, 0.28f},
        {3.0f, 1.0f}, {-1.0f, 0.1f}, {std::numeric_limits<float>::infinity(), 1.0f},
        {std::numeric_limits<float>::quiet_NaN(), 0.1f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "level " << c.level);
        HUDStateModel model;
        model.pushLevel(0.3f);  // a bar that must move one place towards the front
        model.pushLevel(c.level);
        ASSERT_EQ(model.barLevels().size(), 16u);
        EXPECT_NEAR(model.barLevels().back(), c.appended, 1e-6);
        EXPECT_NEAR(model.barLevels()[14], 0.42f, 1e-6);
        EXPECT_FLOAT_EQ(model.barLevels()[0], 0.1f);
    }
}

TEST(HUDStateModelTest, KeepsSixteenBarsOldestFirstAfterAnyNumberOfPushes) {
    HUDStateModel model;
    for (int i = 1; i <= 100; ++i) {
        model.pushLevel(static_cast<float>(i % 10) / 10.0f);
        ASSERT_EQ(model.barLevels().size(), 16u) << "after " << i << " pushes";
    }
    // Newest last: pushes 100, 99, 98, 97 gave 0.0, 0.9, 0.8 and 0.7.
    EXPECT_FLOAT_EQ(model.barLevels()[15], 0.1f);
    EXPECT_FLOAT_EQ(model.barLevels()[14], 1.0f);
    EXPECT_FLOAT_EQ(model.barLevels()[13], 1.0f);
    EXPECT_NEAR(model.barLevels()[12], 0.7f * 1.4f, 1e-6);
}

TEST(HUDStateModelTest, PushLevelOnAnEmptyMeterStartsIt) {
    HUDStateModel model;
    model.setBarLevels({});
    model.pushLevel(0.5f);
    EXPECT_EQ(model.barLevels().size(), 1u);
}

TEST(HUDStateModelTest, ObserversHearEachAssignmentOnceAndReadTheNewValue) {
    HUDStateModel model;
    int notices = 0;
    float seenNewest = 0;
    const auto id = model.observe([&] {
        ++notices;
        seenNewest = model.barLevels().back();
    });
    model.pushLevel(0.5f);
    EXPECT_EQ(notices, 1);  // one change for the whole shift
    EXPECT_NEAR(seenNewest, 0.7f, 1e-6);
    model.setMode(HUDMode::Transcribing{"EG2", std::nullopt});
    EXPECT_EQ(notices, 2);
    model.unobserve(id);
    model.setMode(HUDMode::Hidden{});
    EXPECT_EQ(notices, 2);
}

TEST(HUDModeTest, ModesAreEqualOnlyWhenCaseAndEveryPayloadFieldAreEqual) {
    const HUDMode::Recording recording{1.5, 0.25f, "EG2", std::string("Editor"), false};
    const HUDMode::Completed completed{"こんにちは", 120, 12, "AX挿入", true, "⌥⇧V"};
    auto changed = [](auto value, auto edit) {
        edit(value);
        return HUDMode(value);
    };
    struct Case {
        const char* name;
        HUDMode a;
        HUDMode b;
        bool equal;
    };
    const Case cases[] = {
        {"same recording", recording, recording, true},
        {"seconds differ", recording, changed(recording, [](auto& r) { r.seconds = 1.6; }), false},
        {"level differs", recording, changed(recording, [](auto& r) { r.level = 0.3f; }), false},
        {"badge differs", recording, changed(recording, [](auto& r) { r.engineBadge = "JA"; }), false},
        {"no target vs target", recording, changed(recording, [](auto& r) { r.targetAppName.reset(); }), false},
        {"empty target vs none", changed(recording, [](auto& r) { r.targetAppName = ""; }),
         changed(recording, [](auto& r) { r.targetAppName.reset(); }), false},
        {"lock differs", recording, changed(recording, [](auto& r) { r.isHandsFreeLocked = true; }), false},
        {"same transcribing", HUDMode::Transcribing{"EG2", "A"}, HUDMode::Transcribing{"EG2", "A"}, true},
        {"transcribing target differs", HUDMode::Transcribing{"EG2", "A"}, HUDMode::Transcribing{"EG2", "B"}, false},
        {"same completed", completed, completed, true},
        {"text differs", completed, changed(completed, [](auto& c) { c.text = "x"; }), false},
        {"latency differs", completed, changed(completed, [](auto& c) { c.latencyMs = 121; }), false},
        {"rtfx differs", completed, changed(completed, [](auto& c) { c.rtfx = 11; }), false},
        {"summary differs", completed, changed(completed, [](auto& c) { c.outcomeSummary = "x"; }), false},
        {"direct differs", completed, changed(completed, [](auto& c) { c.isDirectInsert = false; }), false},
        {"reinsert badge differs", completed, changed(completed, [](auto& c) { c.reinsertBadge = "x"; }), false},
        {"hidden", HUDMode::Hidden{}, HUDMode(), true},
        {"hidden vs transcribing", HUDMode(), HUDMode::Transcribing{}, false},
        {"recording vs completed", recording, completed, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.a == c.b, c.equal);
        EXPECT_EQ(c.b == c.a, c.equal);
    }
}

} // namespace
