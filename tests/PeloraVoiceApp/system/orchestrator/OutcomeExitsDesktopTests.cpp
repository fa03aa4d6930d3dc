// The insertion's early exits on the real desktop: each gives its outcome, leaves the
// target field and the clipboard as it says, and never takes long.
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "PeloraVoiceApp/QtMainThreadScheduler.h"
#include "PeloraVoiceApp/system/OwnTextView.h"
#include "tests/PeloraVoiceApp/system/orchestrator/OrchestratorDesktop.h"
#include "tests/support/RunCommand.h"
#include "tests/support/SessionAccessibility.h"
#include "tests/support/TargetApplication.h"

using namespace orchestrator;
using pelora::testing::accessibilityEnabled;
using pelora::testing::ChildProcess;
using pelora::testing::runCommand;
using pelora::testing::setAccessibilityEnabled;
using pelora::testing::TargetApplication;
using pelora::testing::TempDir;

namespace {

// The engine's injector on a display that takes no synthetic keys (no XTest).
class WithoutKeyPosting final : public InjectionBackend {
public:
    explicit WithoutKeyPosting(InjectionBackend& real) : real_(real) {}
    bool accessibilityTrusted() override { return real_.accessibilityTrusted(); }
    bool mayPostEvents() override { return false; }
    void requestAccessibility() override { real_.requestAccessibility(); }
    void injectDirectAX(const std::string& text, std::optional<std::int32_t> pid, bool allowDuplicates) override {
        real_.injectDirectAX(text, pid, allowDuplicates);
    }
    bool triggerMenuBarPaste(std::optional<std::int32_t> pid, const std::optional<std::string>& id) override {
        return real_.triggerMenuBarPaste(pid, id);
    }
    bool canSafelyReplaceViaKeyboard(const std::string& text, std::int32_t pid) override {
        return real_.canSafelyReplaceViaKeyboard(text, pid);
    }
    bool replaceRecentlyInsertedAX(const std::string& original, const std::string& corrected,
                                   std::optional<std::int32_t> pid) override {
        return real_.replaceRecentlyInsertedAX(original, corrected, pid);
    }
    void simulateCommandVPaste(bool) override { refuse(); }
    void simulateShiftReturnKey() override { refuse(); }
    void simulateUnicodeTyping(const std::string&) override { refuse(); }
    void simulateShiftLeftSelection(int) override { refuse(); }
    void simulateDeleteKey() override { refuse(); }
    void simulateRightKey() override { refuse(); }

private:
    static void refuse() { throw std::runtime_error("no synthetic keys on this display"); }
    InjectionBackend& real_;
};

}  // namespace

TEST(OutcomeExitsDesktopTest, EachEarlyExitGivesItsOutcomeAndLeavesFieldAndClipboardAsItSays) {
    TempDir dir;
    Delivery delivery;
    auto app = TargetApplication::qt({{"--line", "前置き重複"}});
    app.activate();
    const Snapshot target = delivery.frontSnapshot(app.pid());
    const std::string label = target.displayLabel();
    auto owner = xclipOwn(dir, "UTF8_STRING", "ユーザーのクリップボード");
    ASSERT_TRUE(clipboardHolds("UTF8_STRING", "ユーザーのクリップボード"));

    {
        SCOPED_TRACE("empty text");
        EXPECT_EQ(delivery.insert("", target, false), Outcome::copiedToClipboardFallback("空のテキスト"));
        EXPECT_EQ(xclipRead("UTF8_STRING"), "ユーザーのクリップボード") << "the clipboard is not touched";
        EXPECT_FALSE(delivery.paster->isInjecting());
    }
    {
        SCOPED_TRACE("the text already stands at the caret");
        EXPECT_EQ(delivery.insert("重複", target, true),
                  Outcome::skipped("カーソル位置に同一テキストが既に存在します"));
        EXPECT_EQ(xclipRead("UTF8_STRING"), "ユーザーのクリップボード") << "restore asked: the clipboard is kept";
    }
    {
        SCOPED_TRACE("the same text again within 0.28 s");
        ASSERT_EQ(delivery.insert("一度だけ", target, true), Outcome::injectedViaAX(label));
        EXPECT_EQ(delivery.insert("一度だけ", target, true), Outcome::skipped("重複挿入をスキップしました"));
        EXPECT_TRUE(app.waitForField("line", "前置き重複一度だけ"));
    }
    {
        SCOPED_TRACE("an insertion while another is still running");
        // Three lines pasted into a clipboard-first application take well over 120 ms.
        auto slack = TargetApplication::qt({{"--focus", "rich", "--rich-html", ""}, {}, "slack"});
        slack.activate();
        const Snapshot slow = delivery.frontSnapshot(slack.pid());
        std::optional<Outcome> first, second;
        delivery.paster->injectIntoFocusedField("一行目\n二行目\n三行目", slow, true, false,
                                                [&](Outcome o) { first = o; });
        delivery.paster->injectIntoFocusedField("割り込み", slow, true, false, [&](Outcome o) { second = o; });
        ASSERT_TRUE(spin([&] { return first && second; }, 60s));
        EXPECT_EQ(*second, Outcome::skipped("前のテキスト挿入が処理中です"));
        EXPECT_TRUE(first->isDirectInsert()) << first->summaryBadge();
        EXPECT_TRUE(slack.waitForState([](const nlohmann::json& state) {
            const std::string rich = state.value("rich", "");
            return rich.find("三行目") != std::string::npos && rich.find("割り込み") == std::string::npos;
        }));
        ASSERT_TRUE(clipboardHolds("UTF8_STRING", "ユーザーのクリップボード")) << "the restore follows";
        app.activate();
    }
    {
        SCOPED_TRACE("a key-typed application that cannot come to the front");
        // A process without a window: it exists, but nothing can activate it.
        ChildProcess windowless(ChildProcess::Options{{"sleep", "600"}});
        const Snapshot terminal{static_cast<std::int32_t>(windowless.pid()), "org.gnome.Terminal", "Terminal"};
        EXPECT_EQ(delivery.insert("端末へ", terminal, true),
                  Outcome::copiedToClipboardFallback("Terminal を前面に切り替えられませんでした"));
        EXPECT_TRUE(clipboardHolds("UTF8_STRING", "端末へ")) << "the text waits on the clipboard";
        windowless.stop();
        app.activate();
    }
    {
        SCOPED_TRACE("neither accessibility nor synthetic keys");
        WithoutKeyPosting keyless(*delivery.injector);
        ActiveApplicationTracker* tracker = delivery.tracker.get();
        Paster paster(Paster::Dependencies{&QtMainThreadScheduler::shared(), &keyless, delivery.clipboard.get(),
                                           &tracker->source(), [tracker] { return tracker->lastExternalApp(); },
                                           hasFocusedInternalEditableTextView, injectIntoInternalTextViewIfFocused,
                                           replaceInInternalTextViewIfFocused});
        setAccessibilityEnabled(false);
        ASSERT_TRUE(spin([&] { return !keyless.accessibilityTrusted(); }, 10s));
        std::optional<Outcome> outcome;
        paster.injectIntoFocusedField("権限なし", target, true, false, [&](Outcome o) { outcome = o; });
        ASSERT_TRUE(spin([&] { return outcome.has_value(); }, 30s));
        EXPECT_EQ(*outcome, Outcome::copiedToClipboardFallback("アクセシビリティ権限を許可してください"));
        EXPECT_TRUE(clipboardHolds("UTF8_STRING", "権限なし"));
        EXPECT_TRUE(accessibilityEnabled()) << "the prompt switches the session's accessibility on";
        setAccessibilityEnabled(true);
        EXPECT_TRUE(app.waitForField("line", "前置き重複一度だけ")) << "the field is not touched";
    }
    owner->stop();
}
