#include "PeloraVoiceApp/system/ActiveApplicationTracker.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <unistd.h>

#include "tests/support/ManualMainThreadScheduler.h"

using pelora::ActiveApplicationSnapshot;

namespace {

struct FakeSource final : FrontApplicationSource {
    std::optional<ActiveApplicationSnapshot>* front;
    Activation* watcher;
    FakeSource(std::optional<ActiveApplicationSnapshot>* f, Activation* w) : front(f), watcher(w) {}
    std::optional<ActiveApplicationSnapshot> frontmost() override { return *front; }
    void watchActivations(Activation onActivated) override { *watcher = std::move(onActivated); }
    bool activate(std::int32_t) override { return true; }
    bool isTerminated(std::int32_t) override { return false; }
};

const ActiveApplicationSnapshot editor{4242, "org.gnome.TextEditor", "Text Editor"};
const ActiveApplicationSnapshot browser{4343, "org.mozilla.firefox", "Firefox"};
const ActiveApplicationSnapshot self{static_cast<std::int32_t>(getpid()), "ai.pelora.PeloraVoice2", "PeloraVoice 2"};

struct Bench {
    ManualMainThreadScheduler scheduler;
    std::optional<ActiveApplicationSnapshot> front;
    FrontApplicationSource::Activation watcher;
    bool ownFieldFocused = false;
    std::unique_ptr<ActiveApplicationTracker> tracker;

    explicit Bench(std::optional<ActiveApplicationSnapshot> initial) : front(std::move(initial)) {
        tracker = std::make_unique<ActiveApplicationTracker>(std::make_unique<FakeSource>(&front, &watcher), scheduler,
                                                             [this] { return ownFieldFocused; });
    }
    // The desktop says another application came to the front (on its own thread).
    void activate(const std::optional<ActiveApplicationSnapshot>& app) {
        front = app;
        watcher(app);
        scheduler.runPosted();
    }
};

}  // namespace

TEST(ActiveApplicationTrackerTest, SelfApplicationByProcessOrBundleIdentifierInAnyCase) {
    struct Case {
        std::optional<ActiveApplicationSnapshot> snapshot;
        bool self;
    };
    const Case cases[] = {
        {std::nullopt, false},
        {self, true},
        {ActiveApplicationSnapshot{static_cast<std::int32_t>(getpid()), std::nullopt, std::nullopt}, true},
        {ActiveApplicationSnapshot{1, "AI.PELORA.peloravoice2", std::nullopt}, true},
        {ActiveApplicationSnapshot{1, "ai.pelora.PeloraVoice", std::nullopt}, false},
        {ActiveApplicationSnapshot{1, std::nullopt, "PeloraVoice 2"}, false},
        {editor, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.snapshot ? c.snapshot->displayLabel() : "none");
        EXPECT_EQ(ActiveApplicationTracker::isSelfApplication(c.snapshot), c.self);
    }
}

TEST(ActiveApplicationTrackerTest, RecordingTargetTable) {
    struct Case {
        const char* name;
        std::vector<ActiveApplicationSnapshot> seenBefore;  // activated in order before the start
        std::optional<ActiveApplicationSnapshot> front;
        bool ownFieldFocused;
        bool preferExternal;
        std::optional<ActiveApplicationSnapshot> target;
    };
    const Case cases[] = {
        {"only this application ever in front", {}, self, false, true, self},
        {"this application in front, an external one seen", {editor}, self, false, true, editor},
        {"this application's own field focused", {editor}, self, true, true, self},
        {"no preference for external", {editor}, self, false, false, self},
        {"an external application in front", {editor}, browser, false, true, browser},
        {"nothing in front", {editor}, std::nullopt, false, true, editor},
        {"nothing in front, nothing seen", {}, std::nullopt, false, true, std::nullopt},
        {"the latest external application wins", {editor, browser}, self, false, true, browser},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(std::nullopt);
        for (const auto& app : c.seenBefore) bench.activate(app);
        bench.front = c.front;
        bench.ownFieldFocused = c.ownFieldFocused;
        QSignalSpy targetChanged(bench.tracker.get(), &ActiveApplicationTracker::recordingTargetAppChanged);
        EXPECT_EQ(bench.tracker->captureTargetForRecordingStart(c.preferExternal), c.target);
        EXPECT_EQ(bench.tracker->recordingTargetApp(), c.target);
        EXPECT_EQ(targetChanged.count(), c.target ? 1 : 0);
    }
}

TEST(ActiveApplicationTrackerTest, ReinsertTargetTable) {
    struct Case {
        const char* name;
        std::vector<ActiveApplicationSnapshot> seenBefore;
        std::optional<ActiveApplicationSnapshot> front;
        bool ownFieldFocused;
        bool fromMainWindowButton;
        std::optional<ActiveApplicationSnapshot> target;
    };
    const Case cases[] = {
        {"button, no own field: the last external application", {editor}, self, false, true, editor},
        {"button, own field focused: this application", {editor}, self, true, true, self},
        {"button, nothing external seen", {}, self, false, true, self},
        {"hot key, external in front", {editor}, browser, false, false, browser},
        {"hot key, this application without own field", {editor}, self, false, false, editor},
        {"hot key, this application with own field", {editor}, self, true, false, self},
        {"hot key, nothing in front", {editor}, std::nullopt, false, false, editor},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(std::nullopt);
        for (const auto& app : c.seenBefore) bench.activate(app);
        bench.front = c.front;
        bench.ownFieldFocused = c.ownFieldFocused;
        auto before = bench.tracker->recordingTargetApp();
        EXPECT_EQ(bench.tracker->resolveTargetForReinsert(c.fromMainWindowButton), c.target);
        EXPECT_EQ(bench.tracker->recordingTargetApp(), before) << "a reinsertion stores nothing";
    }
}

TEST(ActiveApplicationTrackerTest, ActivatingThisApplicationKeepsTheLastExternalOne) {
    Bench bench(editor);
    EXPECT_EQ(bench.tracker->currentFrontmost(), editor) << "the front application is read at start";
    EXPECT_EQ(bench.tracker->lastExternalApp(), editor);
    QSignalSpy frontChanged(bench.tracker.get(), &ActiveApplicationTracker::currentFrontmostChanged);
    QSignalSpy externalChanged(bench.tracker.get(), &ActiveApplicationTracker::lastExternalAppChanged);

    bench.activate(self);
    EXPECT_EQ(bench.tracker->currentFrontmost(), self);
    EXPECT_EQ(bench.tracker->lastExternalApp(), editor);
    EXPECT_EQ(frontChanged.count(), 1);
    EXPECT_EQ(externalChanged.count(), 0);
    EXPECT_EQ(bench.tracker->property("currentFrontmost").value<ActiveApplicationSnapshot>(), self);

    // A notice without an application re-reads the front one.
    bench.front = browser;
    bench.watcher(std::nullopt);
    EXPECT_EQ(bench.tracker->currentFrontmost(), self) << "notices are applied on the main thread";
    bench.scheduler.runPosted();
    EXPECT_EQ(bench.tracker->currentFrontmost(), browser);
    EXPECT_EQ(bench.tracker->lastExternalApp(), browser);
    EXPECT_EQ(externalChanged.count(), 1);

    // Nothing in front never clears what was seen.
    bench.activate(std::nullopt);
    EXPECT_EQ(bench.tracker->currentFrontmost(), browser);
    EXPECT_EQ(bench.tracker->lastExternalApp(), browser);
}

TEST(ActiveApplicationTrackerTest, ANoticeArrivingAfterTheTrackerIsGoneDoesNothing) {
    Bench bench(editor);
    auto watcher = bench.watcher;
    bench.tracker.reset();
    watcher(browser);
    bench.scheduler.runPosted();  // must not touch the destroyed tracker
    SUCCEED();
}

TEST(ActiveApplicationTrackerTest, AnActivationBeforeTheNoticesStartIsNotLost) {
    // The desktop brings another application to the front after the tracker's first read
    // but before its notices run: no notice will ever tell of it.
    struct LateSource final : FrontApplicationSource {
        std::optional<ActiveApplicationSnapshot> front = editor;
        Activation watcher;
        std::optional<ActiveApplicationSnapshot> frontmost() override { return front; }
        void watchActivations(Activation onActivated) override {
            if (onActivated && !watcher) front = browser;
            watcher = std::move(onActivated);
        }
        bool activate(std::int32_t) override { return true; }
        bool isTerminated(std::int32_t) override { return false; }
    };
    ManualMainThreadScheduler scheduler;
    ActiveApplicationTracker tracker(std::make_unique<LateSource>(), scheduler, [] { return false; });
    scheduler.runPosted();
    EXPECT_EQ(tracker.currentFrontmost(), browser);
    EXPECT_EQ(tracker.lastExternalApp(), browser);
}
