// Reinsertion: which text goes in, what each outcome leaves behind (sounds included), the
// hot-key, pill and window paths, and the derived properties the windows bind.
#include "tests/PeloraVoiceApp/controller/ControllerFakes.h"

#include "PeloraVoiceApp/controller/AppViewModelQtAdapter.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace pelora;
using namespace pelora::controller_testing;
using namespace std::chrono_literals;

namespace {

const std::string nothingText = "再挿入できる文字起こし履歴がまだありません";

TranscriptionResult resultWith(std::string text, double audioSeconds = 3, double processingMs = 600) {
    TranscriptionResult result;
    result.text = std::move(text);
    result.telemetry.audioDurationSeconds = audioSeconds;
    result.telemetry.totalProcessingMs = processingMs;
    return result;
}

class Reinsertion : public ControllerFixture {
public:
    // A result delivered without insertion (as a file's is).
    void deliver(AppViewModel& vm, std::string text, double audioSeconds = 3, double processingMs = 600) {
        vm.completeTranscription(resultWith(std::move(text), audioSeconds, processingMs), "テスト", std::nullopt,
                                 std::nullopt, false);
        scheduler.runPosted();
    }
    void pressHotKey() { reinsertShortcut.onTrigger(); }
    void pressPillButton() { overlay.onReinsertRequested(); }
    const HistoryEntry& entryWithText(AppViewModel& vm, const std::string& text) {
        for (const HistoryEntry& entry : vm.history())
            if (entry.result.text == text) return entry;
        throw std::runtime_error("no entry " + text);
    }
};

TEST_F(Reinsertion, TheTextIsTheFirstNonEmptyOfLastCurrentAndNewest) {
    struct Case {
        const char* name;
        std::function<void(Reinsertion&, AppViewModel&)> arrange;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"nothing yet", [](Reinsertion&, AppViewModel&) {}, std::nullopt},
        {"the last text first",
         [](Reinsertion& t, AppViewModel& vm) {
             t.deliver(vm, "A");
             vm.setLastInjectedText("L");
         },
         "L"},
        {"then the current result, not the newest entry",
         [](Reinsertion& t, AppViewModel& vm) {
             t.deliver(vm, "A");
             t.deliver(vm, "B");
             vm.selectHistoryEntry(t.entryWithText(vm, "A"));
             vm.setLastInjectedText("");
         },
         "A"},
        {"then the newest entry",
         [](Reinsertion& t, AppViewModel& vm) {
             t.deliver(vm, "");
             t.deliver(vm, "C");
             vm.selectHistoryEntry(t.entryWithText(vm, ""));
         },
         "C"},
        {"an empty newest entry hides older ones",
         [](Reinsertion& t, AppViewModel& vm) {
             t.deliver(vm, "B");
             t.deliver(vm, "");
             vm.setLastInjectedText("");
         },
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppViewModel& vm = make();
        c.arrange(*this, vm);
        EXPECT_EQ(vm.availableReinsertText(), c.expected);
        paster.insertions.clear();
        cues.played.clear();
        overlay.calls.clear();
        const auto outcomeBefore = vm.lastInjectionOutcome();
        std::optional<std::optional<TextInjectionOutcome>> answered;
        vm.performReinsertLastTranscription(false, [&](std::optional<TextInjectionOutcome> o) { answered = o; });
        ASSERT_TRUE(answered.has_value());
        if (c.expected) {
            ASSERT_EQ(paster.insertions.size(), 1u);
            EXPECT_EQ(paster.insertions[0].text, *c.expected);
            EXPECT_TRUE(answered->has_value());
        } else {
            EXPECT_TRUE(paster.insertions.empty());
            EXPECT_EQ(*answered, std::nullopt);
            EXPECT_EQ(vm.errorMessage(), nothingText);
            EXPECT_EQ(cues.played, std::vector<std::string>{"Basso"});
            EXPECT_TRUE(overlay.calls.empty()) << "the pill stays as it was";
            EXPECT_EQ(vm.lastInjectionOutcome(), outcomeBefore);
        }
    }
}

TEST_F(Reinsertion, EachOutcomeLeavesItsTraces) {
    using O = TextInjectionOutcome;
    struct Case {
        const char* name;
        O outcome;
        bool delivered;  // not skipped: text, sound and pill follow
        const char* sound;
        bool direct;
    };
    const Case cases[] = {
        {"accessibility", O::injectedViaAX("Notes"), true, "Pop", true},
        {"menu paste", O::injectedViaMenuPaste("Notes"), true, "Pop", true},
        {"Control+V", O::injectedViaCommandV("Notes"), true, "Pop", true},
        {"typing", O::injectedViaUnicodeTyping("Notes"), true, "Pop", true},
        {"left on the clipboard", O::copiedToClipboardFallback("空のテキスト"), true, "Basso", false},
        {"skipped", O::skipped("別の挿入が実行中"), false, nullptr, false},
    };
    for (bool sounds : {true, false}) {
        for (bool copyOnComplete : {true, false}) {
            for (const Case& c : cases) {
                SCOPED_TRACE(std::string(c.name) + (sounds ? ", sounds" : ", silent") +
                             (copyOnComplete ? ", copy" : ", restore"));
                AppViewModel& vm = make();
                vm.setSoundFeedbackEnabled(sounds);
                vm.setCopyToClipboardOnComplete(copyOnComplete);
                deliver(vm, "今日の議事録", 3, 600);
                vm.setLastInjectedText("前回の文");
                paster.outcome = c.outcome;
                paster.insertions.clear();
                cues.played.clear();
                overlay.calls.clear();
                const int checks = permissions.checks;
                const std::string session = vm.activeTranscriptionSessionID();

                vm.performReinsertSpecificText("再挿入する文", true);
                ASSERT_EQ(paster.insertions.size(), 1u);
                EXPECT_EQ(paster.insertions[0].target, targetCapture.reinsertTarget);
                EXPECT_EQ(targetCapture.reinsertFromMainWindowAsked.back(), true);
                EXPECT_EQ(paster.insertions[0].restoreClipboard, !copyOnComplete);
                EXPECT_TRUE(paster.insertions[0].allowDuplicates);
                EXPECT_NE(vm.activeTranscriptionSessionID(), session) << "a new session ends a running pass";
                EXPECT_EQ(vm.lastInjectionOutcome(), c.outcome);
                EXPECT_EQ(permissions.checks, checks + 1);
                EXPECT_EQ(vm.lastTranscribedText(), c.delivered ? "再挿入する文" : "前回の文");
                const std::vector<std::string> expectedSounds =
                    sounds && c.sound ? std::vector<std::string>{c.sound} : std::vector<std::string>{};
                EXPECT_EQ(cues.played, expectedSounds);
                if (!c.delivered) {
                    EXPECT_TRUE(overlay.calls.empty());
                    continue;
                }
                ASSERT_EQ(overlay.calls.size(), 1u);
                const auto& shown = overlay.calls[0];
                EXPECT_EQ(shown.mode, "completed");
                EXPECT_EQ(shown.text, "再挿入する文");
                EXPECT_EQ(shown.latencyMs, 600);
                EXPECT_DOUBLE_EQ(shown.rtfx, 5.0) << "the current result's figures";
                EXPECT_EQ(shown.summary, c.outcome.summaryBadge());
                EXPECT_EQ(shown.directInsert, c.direct);
                EXPECT_EQ(shown.badge, "⌥⇧V");
            }
        }
    }
    paster.outcome = TextInjectionOutcome::injectedViaAX("Editor");
}

TEST_F(Reinsertion, FiguresAreZeroWithoutACurrentResultOrProcessingTime) {
    for (bool withResult : {false, true}) {
        AppViewModel& vm = make();
        if (withResult) deliver(vm, "x", 3, 0);
        overlay.calls.clear();
        vm.performReinsertSpecificText("文", false);
        ASSERT_EQ(overlay.calls.size(), 1u);
        EXPECT_EQ(overlay.calls[0].latencyMs, 0);
        EXPECT_EQ(overlay.calls[0].rtfx, 0);
    }
}

TEST_F(Reinsertion, HotKeyPillAndWindowPathsStartFromTheMainLoop) {
    struct Case {
        const char* name;
        std::function<void(Reinsertion&, AppViewModel&)> trigger;
        bool posted;              // nothing happens before the main loop runs
        bool fromMainWindow;      // what the tracker is asked
        std::string text;
    };
    const Case cases[] = {
        {"hot key", [](Reinsertion& t, AppViewModel&) { t.pressHotKey(); }, true, false, "直前の文"},
        {"pill button", [](Reinsertion& t, AppViewModel&) { t.pressPillButton(); }, false, false,
         "直前の文"},
        {"window and menus", [](Reinsertion&, AppViewModel& vm) { vm.reinsertLastTranscription(true); }, true, true,
         "直前の文"},
        {"a history row", [](Reinsertion&, AppViewModel& vm) { vm.reinsertSpecificText("古い文", true); }, true, true,
         "古い文"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppViewModel& vm = make();
        vm.setLastInjectedText("直前の文");
        paster.insertions.clear();
        targetCapture.reinsertFromMainWindowAsked.clear();
        c.trigger(*this, vm);
        EXPECT_EQ(paster.insertions.size(), c.posted ? 0u : 1u);
        scheduler.runPosted();
        ASSERT_EQ(paster.insertions.size(), 1u);
        EXPECT_EQ(paster.insertions[0].text, c.text);
        EXPECT_EQ(targetCapture.reinsertFromMainWindowAsked, std::vector<bool>{c.fromMainWindow});
    }

    // Triggered, then the controller is gone before the main loop runs: nothing.
    AppViewModel& vm = make();
    vm.setLastInjectedText("直前の文");
    paster.insertions.clear();
    auto trigger = reinsertShortcut.onTrigger;
    trigger();
    vm.reinsertLastTranscription(true);
    model.reset();
    scheduler.runPosted();
    EXPECT_TRUE(paster.insertions.empty());
}

TEST_F(Reinsertion, AnAnswerAfterTheControllerIsGoneChangesNothing) {
    AppViewModel& vm = make();
    paster.outcome.reset();  // answered by the test
    bool answered = false;
    vm.performReinsertSpecificText("文", false, [&](std::optional<TextInjectionOutcome>) { answered = true; });
    ASSERT_EQ(paster.insertions.size(), 1u);
    model.reset();
    cues.played.clear();
    paster.insertions[0].done(TextInjectionOutcome::injectedViaAX("Notes"));
    EXPECT_FALSE(answered);
    EXPECT_TRUE(cues.played.empty());
    paster.outcome = TextInjectionOutcome::injectedViaAX("Editor");
}

TEST_F(Reinsertion, NoErrorIsClearedByAReinsertion) {
    AppViewModel& vm = make();
    vm.performReinsertLastTranscription(false);
    ASSERT_EQ(vm.errorMessage(), nothingText);
    vm.setLastInjectedText("文");
    vm.performReinsertLastTranscription(false);
    EXPECT_EQ(paster.insertions.size(), 1u);
    EXPECT_EQ(vm.errorMessage(), nothingText);
}

TEST_F(Reinsertion, LastTargetAppNamePrefersTheLastExternalApplication) {
    const ActiveApplicationSnapshot terminal{77, std::string("org.example.Terminal"), std::string("Terminal")};
    struct Case {
        const char* name;
        std::optional<ActiveApplicationSnapshot> lastExternal;
        bool recorded;  // a recording captured the fake's target ("Editor")
        std::string expected;
    };
    const Case cases[] = {
        {"none seen", std::nullopt, false, ""},
        {"only a captured target", std::nullopt, true, "Editor"},
        {"the last external application first", terminal, true, "Terminal"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        lastExternalApp.current = c.lastExternal;
        AppViewModel& vm = make();
        if (c.recorded) vm.toggleManualRecording();
        EXPECT_EQ(vm.lastTargetAppName(), c.expected);
    }
    lastExternalApp.current.reset();
}

// The adapter tells the windows when a derived value may have changed.
TEST_F(Reinsertion, AdapterSignalsDerivedValuesWhenASourceChanges) {
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "reinsert-tests";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }
    AppViewModel& vm = make();
    AppViewModelQtAdapter adapter(vm);
    QSignalSpy available(&adapter, &AppViewModelQtAdapter::availableReinsertTextChanged);
    QSignalSpy injected(&adapter, &AppViewModelQtAdapter::lastInjectedTextChanged);
    QSignalSpy targetName(&adapter, &AppViewModelQtAdapter::lastTargetAppNameChanged);

    adapter.setLastInjectedText(QStringLiteral("手で直した文"));
    EXPECT_EQ(vm.lastTranscribedText(), "手で直した文");
    EXPECT_EQ(adapter.availableReinsertText().toString(), QStringLiteral("手で直した文"));
    EXPECT_EQ(available.count(), 1);
    EXPECT_EQ(injected.count(), 1);
    deliver(vm, "");  // the current result and the history change, the last text stays
    EXPECT_GE(available.count(), 3);
    EXPECT_EQ(injected.count(), 1);
    EXPECT_EQ(targetName.count(), 0);
    lastExternalApp.change(ActiveApplicationSnapshot{77, std::string("org.example.Terminal"), std::string("Terminal")});
    EXPECT_EQ(targetName.count(), 1);
    EXPECT_EQ(adapter.lastTargetAppName(), QStringLiteral("Terminal"));
}

}  // namespace
