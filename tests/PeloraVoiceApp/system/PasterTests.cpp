#include "PeloraVoiceApp/system/Paster.h"

#include <gtest/gtest.h>

#include <deque>
#include <unistd.h>

#include "engine/injection/TextInjectionError.h"
#include "tests/support/ManualMainThreadScheduler.h"

using namespace std::chrono_literals;
using pelora::ActiveApplicationSnapshot;
using pelora::InsertedTextCorrection;
using pelora::TextInjectionError;
using Outcome = pelora::TextInjectionOutcome;

namespace {

// Everything the orchestrator does to the desktop, in order, with the virtual time.
struct Desktop {
    ManualMainThreadScheduler scheduler;
    std::vector<std::string> log;
    void note(const std::string& what) {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(scheduler.now()).count();
        log.push_back(std::to_string(ms) + " " + what);
    }
    std::vector<std::string> actions() const {  // the log without times
        std::vector<std::string> out;
        for (const auto& entry : log) out.push_back(entry.substr(entry.find(' ') + 1));
        return out;
    }
};

struct FakeInjector final : InjectionBackend {
    Desktop& desktop;
    bool trusted = true;
    bool mayPost = true;
    std::deque<std::optional<TextInjectionError>> axResults;  // popped per call; empty: success
    bool menuPaste = true;
    std::optional<TextInjectionError> commandVError, typingError, shiftReturnError, shiftLeftError, deleteError;
    bool replaceAX = false;
    bool safeForKeyboard = true;
    std::function<void()> onPaste;  // the target fetching the clipboard
    explicit FakeInjector(Desktop& d) : desktop(d) {}

    bool accessibilityTrusted() override { return trusted; }
    bool mayPostEvents() override { return mayPost; }
    void requestAccessibility() override { desktop.note("prompt"); }
    void injectDirectAX(const std::string& text, std::optional<std::int32_t>, bool) override {
        desktop.note("ax " + text);
        if (axResults.empty()) return;
        auto result = axResults.front();
        axResults.pop_front();
        if (result) throw *result;
    }
    bool triggerMenuBarPaste(std::optional<std::int32_t>, const std::optional<std::string>&) override {
        desktop.note(menuPaste ? "menu paste" : "menu paste refused");
        if (menuPaste && onPaste) onPaste();
        return menuPaste;
    }
    bool canSafelyReplaceViaKeyboard(const std::string&, std::int32_t) override { return safeForKeyboard; }
    bool replaceRecentlyInsertedAX(const std::string&, const std::string& corrected, std::optional<std::int32_t>) override {
        desktop.note(std::string("ax replace ") + (replaceAX ? corrected : "refused"));
        return replaceAX;
    }
    void simulateCommandVPaste(bool terminalLike) override {
        desktop.note(terminalLike ? "control+shift+v" : "control+v");
        if (commandVError) throw *commandVError;
        if (onPaste) onPaste();
    }
    void simulateShiftReturnKey() override {
        desktop.note("shift+return");
        if (shiftReturnError) throw *shiftReturnError;
    }
    void simulateUnicodeTyping(const std::string& text) override {
        desktop.note("type " + text);
        if (typingError) throw *typingError;
    }
    void simulateShiftLeftSelection(int count) override {
        desktop.note("shift+left x" + std::to_string(count));
        if (shiftLeftError) throw *shiftLeftError;
    }
    void simulateDeleteKey() override {
        desktop.note("delete");
        if (deleteError) throw *deleteError;
    }
    void simulateRightKey() override { desktop.note("right"); }
};

struct FakeClipboard final : ClipboardAccess {
    Desktop& desktop;
    std::string text = "user's earlier clipboard";
    Snapshot saved = {{"text/html", "text/html", 8, "<b>earlier</b>"}};
    std::uint64_t changes = 0;
    std::uint64_t fetches = 0;
    int snapshots = 0;
    explicit FakeClipboard(Desktop& d) : desktop(d) {}

    std::uint64_t changeCount() override { return changes; }
    Snapshot snapshot() override {
        ++snapshots;
        return saved;
    }
    bool writeText(const std::string& t) override {
        desktop.note("clipboard " + t);
        text = t;
        ++changes;
        fetches = 0;
        return true;
    }
    bool restore(const Snapshot& s) override {
        desktop.note("restore");
        text = "(restored) " + s.front().bytes;
        ++changes;
        fetches = 0;
        return true;
    }
    std::uint64_t fetchCount() override { return fetches; }
    // Another application copies something.
    void copiedElsewhere(const std::string& t) {
        text = t;
        ++changes;
    }
};

struct FakeFront final : FrontApplicationSource {
    Desktop& desktop;
    std::optional<ActiveApplicationSnapshot> front;
    bool activationWorks = true;
    std::vector<std::int32_t> terminated;
    explicit FakeFront(Desktop& d) : desktop(d) {}

    std::optional<ActiveApplicationSnapshot> frontmost() override { return front; }
    void watchActivations(Activation) override {}
    bool activate(std::int32_t pid) override {
        desktop.note("activate " + std::to_string(pid));
        if (activationWorks) pendingFront = pid;
        return true;
    }
    bool isTerminated(std::int32_t pid) override {
        return std::find(terminated.begin(), terminated.end(), pid) != terminated.end();
    }
    std::optional<std::int32_t> pendingFront;
};

const ActiveApplicationSnapshot editor{101, "org.gnome.TextEditor", "Text Editor"};
const ActiveApplicationSnapshot slack{102, "com.tinyspeck.slackmacgap", "Slack"};
const ActiveApplicationSnapshot terminal{103, "com.apple.terminal", "xterm"};
const ActiveApplicationSnapshot other{104, "org.example.Other", "Other"};
const ActiveApplicationSnapshot self{static_cast<std::int32_t>(getpid()), "ai.pelora.PeloraVoice2", "PeloraVoice 2"};

struct Bench {
    Desktop desktop;
    FakeInjector injector{desktop};
    FakeClipboard clipboard{desktop};
    FakeFront front{desktop};
    std::optional<ActiveApplicationSnapshot> lastExternal;
    bool ownViewFocused = false;
    bool ownViewAccepts = true;
    std::unique_ptr<Paster> paster;

    Bench() {
        paster = std::make_unique<Paster>(Paster::Dependencies{
            &desktop.scheduler, &injector, &clipboard, &front, [this] { return lastExternal; },
            [this] { return ownViewFocused; },
            [this](const std::string& text) {
                if (!ownViewFocused || !ownViewAccepts) return false;
                desktop.note("own view " + text);
                return true;
            },
            [this](const std::string&, const std::string& corrected) {
                if (!ownViewFocused || !ownViewAccepts) return false;
                desktop.note("own view replace " + corrected);
                return true;
            },
            [](std::function<void()> job) { job(); },  // workers run inline on the manual clock
        });
    }

    // Lets virtual time pass in small steps; an activation takes effect one step later.
    void advance(std::chrono::milliseconds total) {
        for (auto t = 0ms; t < total; t += 5ms) {
            desktop.scheduler.advance(5ms);
            if (front.pendingFront) {
                for (const auto* app : {&editor, &slack, &terminal, &other}) {
                    if (app->processIdentifier == *front.pendingFront) front.front = *app;
                }
                front.pendingFront.reset();
            }
        }
    }

    Outcome insert(const std::string& text, std::optional<ActiveApplicationSnapshot> target, bool restore = true,
                   bool allowDuplicates = false) {
        std::optional<Outcome> result;
        paster->injectIntoFocusedField(text, target, restore, allowDuplicates, [&](Outcome o) { result = o; });
        for (int i = 0; i < 2000 && !result; ++i) advance(5ms);
        EXPECT_TRUE(result.has_value()) << "the insertion never ended";
        return result.value_or(Outcome::skipped("never ended"));
    }

    bool correct(const std::string& original, const std::string& corrected,
                 std::optional<ActiveApplicationSnapshot> target, bool restore = true) {
        auto correction = InsertedTextCorrection::compute(original, corrected).value_or(InsertedTextCorrection{});
        std::optional<bool> result;
        paster->applyInPlaceCorrection(correction, original, corrected, target, restore, [&](bool r) { result = r; });
        for (int i = 0; i < 2000 && !result; ++i) advance(5ms);
        EXPECT_TRUE(result.has_value()) << "the correction never ended";
        return result.value_or(false);
    }
};

}  // namespace

TEST(PasterTest, InsertionExits) {
    struct Case {
        const char* name;
        std::function<void(Bench&)> setUp;
        std::string text;
        std::optional<ActiveApplicationSnapshot> target;
        bool restore;
        Outcome expected;
        std::string clipboardAfter;  // right after the call returns
        bool recorded;
    };
    const std::string earlier = "user's earlier clipboard";
    const Case cases[] = {
        {"empty text", [](Bench&) {}, "", editor, false, Outcome::copiedToClipboardFallback("空のテキスト"), earlier, false},
        {"own text view", [](Bench& b) { b.ownViewFocused = true; }, "自分へ", self, false,
         Outcome::injectedViaAX("PeloraVoice 2"), "自分へ", true},
        {"own view by default when no target", [](Bench& b) { b.ownViewFocused = true; }, "自分へ", std::nullopt, true,
         Outcome::injectedViaAX("PeloraVoice 2"), earlier, true},
        {"no effective target", [](Bench& b) { b.front.front = self; }, "宛先なし", std::nullopt, true,
         Outcome::copiedToClipboardFallback("入力先アプリが選択されていません"), "宛先なし", false},
        {"self target without own view goes to the last external application",
         [](Bench& b) { b.front.front = self; b.lastExternal = editor; }, "外へ", self, true,
         Outcome::injectedViaAX("Text Editor"), earlier, true},
        {"neither accessibility nor key posting",
         [](Bench& b) { b.injector.trusted = false; b.injector.mayPost = false; }, "権限なし", editor, true,
         Outcome::copiedToClipboardFallback("アクセシビリティ権限を許可してください"), "権限なし", false},
        {"accessibility insert", [](Bench&) {}, "直接", editor, false, Outcome::injectedViaAX("Text Editor"), "直接", true},
        {"accessibility insert, restore asked: clipboard untouched", [](Bench&) {}, "直接", editor, true,
         Outcome::injectedViaAX("Text Editor"), earlier, true},
        {"accessibility insert succeeds on the retry",
         [](Bench& b) { b.injector.axResults = {TextInjectionError::noActiveTextField(), std::nullopt}; }, "再試行",
         editor, true, Outcome::injectedViaAX("Text Editor"), earlier, true},
        {"duplicate at the caret",
         [](Bench& b) { b.injector.axResults = {TextInjectionError::duplicateSuppressed()}; }, "重複", editor, false,
         Outcome::skipped("カーソル位置に同一テキストが既に存在します"), "重複", false},
        {"accessibility fails twice: menu paste",
         [](Bench& b) {
             b.injector.axResults = {TextInjectionError::noActiveTextField(), TextInjectionError::noActiveTextField()};
         },
         "貼り付け", editor, false, Outcome::injectedViaMenuPaste("Text Editor"), "貼り付け", true},
        {"only key posting allowed: clipboard route", [](Bench& b) { b.injector.trusted = false; }, "キーだけ", editor,
         false, Outcome::injectedViaMenuPaste("Text Editor"), "キーだけ", true},
        {"clipboard-first application", [](Bench&) {}, "スラック", slack, false, Outcome::injectedViaMenuPaste("Slack"),
         "スラック", true},
        {"typing route", [](Bench&) {}, "端末", terminal, false, Outcome::injectedViaUnicodeTyping("xterm"), "端末", true},
        {"typing route, target never comes to the front", [](Bench& b) { b.front.activationWorks = false; }, "端末",
         terminal, true, Outcome::copiedToClipboardFallback("xterm を前面に切り替えられませんでした"), "端末", false},
        {"typing fails: Control+Shift+V into the terminal",
         [](Bench& b) { b.injector.typingError = TextInjectionError::injectionFailed("x"); }, "端末", terminal, false,
         Outcome::injectedViaCommandV("xterm"), "端末", true},
        {"a quit target with nothing else", [](Bench& b) { b.front.terminated = {other.processIdentifier}; }, "終了",
         other, true, Outcome::copiedToClipboardFallback("入力先アプリが選択されていません"), "終了", false},
        {"a quit target that is also the last external application, this application in front",
         [](Bench& b) {
             b.front.terminated = {other.processIdentifier};
             b.front.front = self;
             b.lastExternal = other;
         },
         "終了", other, true, Outcome::copiedToClipboardFallback("入力先アプリが選択されていません"), "終了", false},
        {"a quit target with another application in front",
         [](Bench& b) { b.front.terminated = {other.processIdentifier}; b.front.front = editor; }, "終了", other, true,
         Outcome::injectedViaAX("Text Editor"), "user's earlier clipboard", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        c.setUp(bench);
        Outcome outcome = bench.insert(c.text, c.target, c.restore);
        EXPECT_EQ(outcome, c.expected) << outcome.summaryBadge();
        EXPECT_EQ(bench.clipboard.text, c.clipboardAfter);
        EXPECT_FALSE(bench.paster->isInjecting());
        // The duplicate window shows whether the insertion was recorded.
        if (!c.text.empty()) {
            Outcome again = bench.insert(c.text, c.target, c.restore);
            EXPECT_EQ(again == Outcome::skipped("重複挿入をスキップしました"), c.recorded) << again.summaryBadge();
        }
    }
}

TEST(PasterTest, PermissionPromptOncePerCallAndTheTargetIsActivatedFirst) {
    Bench bench;
    bench.injector.trusted = bench.injector.mayPost = false;
    bench.front.front = other;
    bench.insert("a", editor);
    bench.insert("b", editor);
    auto actions = bench.desktop.actions();
    EXPECT_EQ(std::count(actions.begin(), actions.end(), "prompt"), 2);
    EXPECT_EQ(actions.front(), "activate 101");
}

TEST(PasterTest, DuplicateWindowAndBusyGate) {
    Bench bench;
    bench.front.front = editor;
    EXPECT_EQ(bench.insert("同じ", editor), Outcome::injectedViaAX("Text Editor"));
    EXPECT_EQ(bench.insert("同じ", editor), Outcome::skipped("重複挿入をスキップしました"));
    EXPECT_EQ(bench.insert("同じ", editor, true, /*allowDuplicates*/ true), Outcome::injectedViaAX("Text Editor"));
    bench.advance(300ms);
    EXPECT_EQ(bench.insert("同じ", editor), Outcome::injectedViaAX("Text Editor"));

    // A second insertion while the first waits for its target to come forward (160 ms)
    // waits three times 40 ms and gives up.
    bench.front.front = other;
    bench.front.activationWorks = false;
    std::optional<Outcome> first, second;
    bench.paster->injectIntoFocusedField("一つ目", editor, true, false, [&](Outcome o) { first = o; });
    bench.paster->injectIntoFocusedField("二つ目", editor, true, false, [&](Outcome o) { second = o; });
    bench.advance(130ms);
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(*second, Outcome::skipped("前のテキスト挿入が処理中です"));
    EXPECT_FALSE(first.has_value());
    bench.advance(2s);
    EXPECT_TRUE(first.has_value());
}

TEST(PasterTest, MultiLinePasteSequences) {
    struct Case {
        std::string text;
        std::vector<std::string> keys;  // pastes and Shift+Return, in order
        Outcome expected;
    };
    const Case cases[] = {
        {"A\nB", {"clipboard A", "menu paste", "shift+return", "clipboard B", "menu paste"},
         Outcome::injectedViaMenuPaste("Slack")},
        {"A\n\nB", {"clipboard A", "menu paste", "shift+return", "shift+return", "clipboard B", "menu paste"},
         Outcome::injectedViaMenuPaste("Slack")},
        {"A\n", {"clipboard A", "menu paste", "shift+return"}, Outcome::injectedViaMenuPaste("Slack")},
        {"\n\n", {"shift+return", "shift+return"}, Outcome::injectedViaCommandV("Slack")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Bench bench;
        bench.front.front = slack;
        bench.injector.onPaste = [&] { bench.clipboard.fetches = 1; };
        EXPECT_EQ(bench.insert(c.text, slack), c.expected);
        auto actions = bench.desktop.actions();
        std::vector<std::string> keys;
        for (const auto& a : actions) {
            if (a.starts_with("clipboard ") || a == "menu paste" || a == "shift+return") keys.push_back(a);
        }
        ASSERT_FALSE(keys.empty());
        EXPECT_EQ(keys.back(), "clipboard " + c.text) << "the whole text is left on the clipboard until the restore";
        keys.pop_back();
        EXPECT_EQ(keys, c.keys);
        bench.advance(700ms);
        EXPECT_EQ(bench.clipboard.text, "(restored) <b>earlier</b>");
    }
}

TEST(PasterTest, TerminalsPasteWithControlShiftVThenTheMenuBeforeTyping) {
    Bench bench;
    bench.front.front = terminal;
    bench.injector.typingError = TextInjectionError::injectionFailed("typing");
    bench.injector.commandVError = TextInjectionError::postEventNotPermitted();
    EXPECT_EQ(bench.insert("ls", terminal, false), Outcome::injectedViaMenuPaste("xterm"));
    auto actions = bench.desktop.actions();
    std::vector<std::string> expected = {"type ls", "clipboard ls", "control+shift+v", "menu paste"};
    std::vector<std::string> got;
    for (const auto& a : actions) {
        if (a != "clipboard ls" || got.size() == 1) got.push_back(a);
    }
    EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + 4), expected);
}

TEST(PasterTest, FocusLeavingMidPasteStopsWithTheWholeTextOnTheClipboard) {
    Bench bench;
    bench.front.front = slack;
    int pastes = 0;
    bench.injector.onPaste = [&] {
        bench.clipboard.fetches = 1;
        if (++pastes == 1) bench.front.front = other;  // the user switches away after line one
    };
    EXPECT_EQ(bench.insert("一行目\n二行目", slack, true),
              Outcome::copiedToClipboardFallback("Slack からフォーカスが移動しました"));
    EXPECT_EQ(bench.clipboard.text, "一行目\n二行目");
    bench.advance(4s);
    EXPECT_EQ(bench.clipboard.text, "一行目\n二行目") << "no restore after a fallback";
}

TEST(PasterTest, RestoreTable) {
    struct Case {
        const char* name;
        std::function<void(Bench&)> afterPaste;
        std::chrono::milliseconds fetchAfter;  // when the target fetches the pasted text
        std::chrono::milliseconds wait;
        std::string clipboard;
    };
    const Case cases[] = {
        {"restored 0.65 s after a prompt fetch", [](Bench&) {}, 0ms, 700ms, "(restored) <b>earlier</b>"},
        {"not before 0.65 s", [](Bench&) {}, 0ms, 600ms, "スラック"},
        {"a slow target: restored only after its fetch", [](Bench&) {}, 1500ms, 1400ms, "スラック"},
        {"a slow target: then restored", [](Bench&) {}, 1500ms, 1600ms, "(restored) <b>earlier</b>"},
        {"a target that never fetches: restored after 3 s", [](Bench&) {}, 10s, 3100ms, "(restored) <b>earlier</b>"},
        {"another application copied meanwhile", [](Bench& b) { b.clipboard.copiedElsewhere("他のコピー"); }, 0ms, 1s,
         "他のコピー"},
        {"copyOnly cancels", [](Bench& b) { b.paster->copyOnly("コピーだけ"); }, 0ms, 1s, "コピーだけ"},
        {"copyOnly of an empty text cancels nothing", [](Bench& b) { b.paster->copyOnly(""); }, 0ms, 1s,
         "(restored) <b>earlier</b>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        bench.front.front = slack;
        bool fetchPending = false;
        bench.injector.onPaste = [&] { fetchPending = true; };
        std::optional<Outcome> outcome;
        bench.paster->injectIntoFocusedField("スラック", slack, true, false, [&](Outcome o) { outcome = o; });
        auto start = bench.desktop.scheduler.now();
        while (!outcome) bench.advance(5ms);
        auto pastedAt = bench.desktop.scheduler.now();
        c.afterPaste(bench);
        while (bench.desktop.scheduler.now() - pastedAt < c.wait) {
            if (fetchPending && bench.desktop.scheduler.now() - pastedAt >= c.fetchAfter) {
                bench.clipboard.fetches = 1;
                fetchPending = false;
            }
            bench.advance(5ms);
        }
        (void)start;
        EXPECT_EQ(bench.clipboard.text, c.clipboard);
    }
}

TEST(PasterTest, MultiLinePasteWaitsForEachLineToBeFetched) {
    Bench bench;
    bench.front.front = slack;
    int pastes = 0;
    bench.injector.onPaste = [&] { ++pastes; };
    std::optional<Outcome> outcome;
    bench.paster->injectIntoFocusedField("A\nB", slack, false, false, [&](Outcome o) { outcome = o; });
    bench.advance(500ms);
    EXPECT_EQ(pastes, 1);
    EXPECT_EQ(bench.clipboard.text, "A") << "line B waits while the target has not fetched line A";
    bench.clipboard.fetches = 1;
    bench.advance(200ms);
    EXPECT_EQ(pastes, 2);
    bench.advance(2s);  // B is never fetched: the bound lets the paste end anyway
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(*outcome, Outcome::injectedViaMenuPaste("Slack"));
}

TEST(PasterTest, NewInsertionCancelsThePendingRestore) {
    Bench bench;
    bench.front.front = slack;
    bench.injector.onPaste = [&] { bench.clipboard.fetches = 1; };
    bench.insert("一つ目", slack, true);
    EXPECT_TRUE(bench.paster->hasPendingClipboardRestore());
    bench.insert("二つ目", slack, false);
    bench.advance(4s);
    EXPECT_EQ(bench.clipboard.text, "二つ目");
}

TEST(PasterTest, InPlaceCorrectionTable) {
    struct Case {
        const char* name;
        std::function<void(Bench&)> setUp;
        std::string original, corrected;
        std::optional<ActiveApplicationSnapshot> target;
        bool restore;
        bool replaced;
        std::vector<std::string> keys;  // key and replace actions, in order
        std::string clipboard;
    };
    const std::string earlier = "user's earlier clipboard";
    const Case cases[] = {
        {"equal texts", [](Bench&) {}, "同じ", "同じ", editor, false, false, {}, earlier},
        {"accessibility replace", [](Bench& b) { b.injector.replaceAX = true; }, "思考錯誤", "試行錯誤", editor, false,
         true, {"ax replace 試行錯誤"}, "試行錯誤"},
        {"keyboard replace with a suffix", [](Bench&) {}, "思考錯誤です", "試行錯誤です", editor, true, true,
         {"ax replace refused", "shift+left x6", "clipboard 試行錯誤です", "menu paste"}, "試行錯誤です"},
        {"keyboard replace deleting a tail", [](Bench&) {}, "はいはい", "はい", editor, false, true,
         {"ax replace refused", "shift+left x2", "delete"}, "はい"},
        {"typing-route application", [](Bench&) {}, "思考", "試行", terminal, false, false, {}, "試行"},
        {"not frontmost any more", [](Bench& b) { b.front.front = other; }, "思考", "試行", editor, false, false, {},
         "試行"},
        {"not safe for keys", [](Bench& b) { b.injector.safeForKeyboard = false; }, "思考", "試行", editor, true, false,
         {"ax replace refused"}, earlier},
        {"own text view", [](Bench& b) { b.ownViewFocused = true; }, "思考", "試行", self, false, true,
         {"own view replace 試行"}, "試行"},
        {"own text view refusing", [](Bench& b) { b.ownViewFocused = true; b.ownViewAccepts = false; }, "思考", "試行",
         self, true, false, {}, earlier},
        // A failure after the selection collapses it, so the next keystroke can't delete the text.
        {"delete fails after the selection",
         [](Bench& b) { b.injector.deleteError = TextInjectionError::injectionFailed("x"); }, "はいはい", "はい", editor,
         true, false, {"ax replace refused", "shift+left x2", "delete", "right"}, earlier},
        {"paste fails after the selection",
         [](Bench& b) {
             b.injector.menuPaste = false;
             b.injector.commandVError = TextInjectionError::postEventNotPermitted();
             b.injector.typingError = TextInjectionError::postEventNotPermitted();
             b.injector.axResults = {TextInjectionError::noActiveTextField()};
         },
         "思考錯誤です", "試行錯誤です", editor, false, false,
         {"ax replace refused", "shift+left x6", "clipboard 試行錯誤です", "menu paste refused", "control+v",
          "type 試行錯誤です", "ax 試行錯誤です", "right"},
         "試行錯誤です"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        bench.front.front = c.target && c.target != self ? c.target : std::optional(editor);
        c.setUp(bench);
        EXPECT_EQ(bench.correct(c.original, c.corrected, c.target, c.restore), c.replaced);
        std::vector<std::string> keys = bench.desktop.actions();
        // Without a restore the corrected text is left on the clipboard at the end.
        if (!c.restore && !keys.empty() && keys.back() == "clipboard " + c.corrected) keys.pop_back();
        EXPECT_EQ(keys, c.keys);
        EXPECT_EQ(bench.clipboard.text.starts_with("(restored)") ? earlier : bench.clipboard.text, c.clipboard);
        EXPECT_FALSE(bench.paster->isInjecting());
    }
}

TEST(PasterTest, CorrectionWaitsOnceForARunningInsertion) {
    Bench bench;
    bench.front.front = other;
    bench.front.activationWorks = false;
    bench.paster->injectIntoFocusedField("挿入中", editor, true, false, [](Outcome) {});
    std::optional<bool> corrected;
    bench.paster->applyInPlaceCorrection(*InsertedTextCorrection::compute("思考", "試行"), "思考", "試行", editor, true,
                                         [&](bool r) { corrected = r; });
    bench.advance(85ms);
    ASSERT_TRUE(corrected.has_value());
    EXPECT_FALSE(*corrected);
}
