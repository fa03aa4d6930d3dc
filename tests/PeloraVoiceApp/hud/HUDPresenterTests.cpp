#include "PeloraVoiceApp/hud/HUDPresenter.h"
#include "tests/support/ManualMainThreadScheduler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

// Records what the presenter asks of the window, in order.
class FakeHUDWindow final : public HUDWindow {
public:
    bool isOnScreen() const override { return onScreen; }
    void setIgnoresMouseEvents(bool ignores) override {
        ignoresMouse = ignores;
        calls.push_back(ignores ? "ignore" : "accept");
    }
    void placeAt(HUDPoint topLeft) override {
        origin = topLeft;
        calls.push_back("place");
    }
    void orderFront() override {
        onScreen = true;
        calls.push_back("front");
    }
    void orderOut() override {
        onScreen = false;
        calls.push_back("out");
    }

    bool onScreen = false;
    bool ignoresMouse = true;
    HUDPoint origin;
    std::vector<std::string> calls;
};

class HUDPresenterTest : public ::testing::Test {
public:
    HUDPresenterTest()
        : presenter(window, scheduler, [this](HUDSize size) {
              ++placements;
              lastSize = size;
              return HUDPoint{100.0 + placements, 200};
          }) {}

    void record(double seconds = 0.5, bool locked = false) {
        presenter.showRecording(seconds, 0.3f, "EG2", std::string("Editor"), locked);
    }
    void complete(bool direct) { presenter.showCompleted("テスト", 120, 12, "AX挿入", direct, "⌥⇧V"); }

    ManualMainThreadScheduler scheduler;
    FakeHUDWindow window;
    int placements = 0;
    HUDSize lastSize;
    HUDPresenter presenter;
};

TEST_F(HUDPresenterTest, RecordingIsPlacedOnceWhenItComesOnScreenThenOnlyUpdated) {
    record(0.05);
    EXPECT_EQ(window.calls, (std::vector<std::string>{"ignore", "place", "front"}));
    EXPECT_EQ(lastSize, (HUDSize{520, 68}));
    for (int i = 0; i < 50; ++i)
        record(0.05 * (i + 2));
    EXPECT_EQ(placements, 1);
    EXPECT_EQ(window.origin, (HUDPoint{101, 200}));
    const auto* mode = presenter.stateModel().mode().as<HUDMode::Recording>();
    ASSERT_NE(mode, nullptr);
    EXPECT_DOUBLE_EQ(mode->seconds, 0.05 * 51);
    EXPECT_EQ(mode->targetAppName, std::optional<std::string>("Editor"));
    EXPECT_EQ(presenter.stateModel().barLevels().size(), 16u);
    EXPECT_NEAR(presenter.stateModel().barLevels().back(), 0.42f, 1e-6);
    // Order front on every call, even when already up.
    EXPECT_EQ(std::count(window.calls.begin(), window.calls.end(), "front"), 51);
}

TEST_F(HUDPresenterTest, ARecordingIsPlacedAnewWhenThePillWentOffScreenBehindItsBack) {
    record();
    window.onScreen = false;  // unmapped by something else while the mode stayed recording
    record();
    EXPECT_EQ(placements, 2);
}

TEST_F(HUDPresenterTest, TranscribingAndCompletedKeepAVisiblePillWhereItIs) {
    record();
    presenter.showTranscribing("EG2", std::nullopt);
    complete(true);
    EXPECT_EQ(placements, 1);
    EXPECT_EQ(presenter.stateModel().mode(),
              HUDMode(HUDMode::Completed{"テスト", 120, 12, "AX挿入", true, "⌥⇧V"}));
}

TEST_F(HUDPresenterTest, TranscribingOrCompletedFromHiddenPlacesThePill) {
    presenter.showTranscribing("EG2", std::string("Editor"));
    EXPECT_EQ(placements, 1);
    presenter.hideHUD();
    complete(false);
    EXPECT_EQ(placements, 2);
}

TEST_F(HUDPresenterTest, OnlyCompletedTakesClicks) {
    struct Step {
        const char* name;
        std::function<void(HUDPresenterTest&)> run;
        bool ignoresMouse;
    };
    const Step steps[] = {
        {"recording", [](HUDPresenterTest& t) { t.record(); }, true},
        {"locked recording", [](HUDPresenterTest& t) { t.record(1, true); }, true},
        {"transcribing", [](HUDPresenterTest& t) { t.presenter.showTranscribing("EG2", std::nullopt); }, true},
        {"completed", [](HUDPresenterTest& t) { t.complete(true); }, false},
        {"recording after a result", [](HUDPresenterTest& t) { t.record(); }, true},
        {"completed again", [](HUDPresenterTest& t) { t.complete(false); }, false},
        {"close button", [](HUDPresenterTest& t) { t.presenter.stateModel().onDismissRequested(); }, true},
        {"completed once more", [](HUDPresenterTest& t) { t.complete(false); }, false},
        {"hideHUD", [](HUDPresenterTest& t) { t.presenter.hideHUD(); }, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.run(*this);
        EXPECT_EQ(window.ignoresMouse, step.ignoresMouse);
    }
}

TEST_F(HUDPresenterTest, ResultHidesItselfAfterItsDelayUnlessAnotherOperationCameFirst) {
    struct Case {
        const char* name;
        bool direct;
        std::chrono::milliseconds hideAfter;
    };
    for (const Case& c : {Case{"direct insertion", true, 2600ms}, Case{"pasteboard", false, 4800ms}}) {
        SCOPED_TRACE(c.name);
        complete(c.direct);
        scheduler.advance(c.hideAfter - 1ms);
        EXPECT_TRUE(window.onScreen);
        EXPECT_FALSE(presenter.stateModel().mode().isHidden());
        scheduler.advance(1ms);
        EXPECT_FALSE(window.onScreen);
        EXPECT_TRUE(presenter.stateModel().mode().isHidden());
        EXPECT_TRUE(window.ignoresMouse);
        EXPECT_EQ(scheduler.pendingTimerCount(), 0u);
    }
}

TEST_F(HUDPresenterTest, EveryShowOrHideCancelsAPendingAutoHide) {
    struct Case {
        const char* name;
        std::function<void(HUDPresenterTest&)> interrupt;
        bool staysUp;
    };
    const Case cases[] = {
        {"a recording keeps the pill up", [](HUDPresenterTest& t) { t.record(); }, true},
        {"transcribing keeps the pill up", [](HUDPresenterTest& t) { t.presenter.showTranscribing("EG2", std::nullopt); }, true},
        {"hideHUD hides at once", [](HUDPresenterTest& t) { t.presenter.hideHUD(); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        complete(true);
        scheduler.advance(2s);
        c.interrupt(*this);
        EXPECT_EQ(scheduler.pendingTimerCount(), 0u);
        scheduler.advance(10s);
        EXPECT_EQ(window.onScreen, c.staysUp);
        presenter.hideHUD();
    }
}

TEST_F(HUDPresenterTest, ANewResultRestartsTheWaitWithItsOwnDelay) {
    complete(true);
    scheduler.advance(2s);
    complete(false);  // 4.8 s from now, not 0.6 s
    scheduler.advance(4s);
    EXPECT_TRUE(window.onScreen);
    scheduler.advance(800ms);
    EXPECT_FALSE(window.onScreen);
}

TEST_F(HUDPresenterTest, CloseButtonHidesLikeHideHUD) {
    complete(false);
    ASSERT_TRUE(presenter.stateModel().onDismissRequested);
    presenter.stateModel().onDismissRequested();
    EXPECT_TRUE(presenter.stateModel().mode().isHidden());
    EXPECT_FALSE(window.onScreen);
    EXPECT_TRUE(window.ignoresMouse);
    EXPECT_EQ(scheduler.pendingTimerCount(), 0u);
}

TEST_F(HUDPresenterTest, NothingIsLeftScheduledWhileHidden) {
    record();
    presenter.showTranscribing("EG2", std::nullopt);
    EXPECT_EQ(scheduler.pendingTimerCount(), 0u);
    complete(true);
    scheduler.advance(3s);
    EXPECT_EQ(scheduler.pendingTimerCount(), 0u);
}

TEST(HUDPresenterLifetimeTest, APendingHideDiesWithThePresenter) {
    ManualMainThreadScheduler scheduler;
    FakeHUDWindow window;
    {
        HUDPresenter presenter(window, scheduler, [](HUDSize) { return HUDPoint{}; });
        presenter.showCompleted("x", 1, 1, "s", true, "b");
        EXPECT_EQ(scheduler.pendingTimerCount(), 1u);
    }
    EXPECT_EQ(scheduler.pendingTimerCount(), 0u);
    scheduler.advance(10s);  // must not touch the destroyed presenter
}

} // namespace
