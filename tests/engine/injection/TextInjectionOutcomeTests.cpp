#include "engine/injection/TextInjectionOutcome.h"

#include <gtest/gtest.h>

#include "engine/injection/TextInjectionError.h"
#include "engine/injection/TextInjectionRoute.h"

namespace pelora {
namespace {

using Outcome = TextInjectionOutcome;

TEST(TextInjectionOutcome, BadgesAndDirectInsertPerCase) {
    struct Case {
        Outcome outcome;
        bool direct;
        const char* badge;
    };
    const Case cases[] = {
        {Outcome::injectedViaAX("Firefox"), true, "✅ Firefox に直接挿入 (AX)"},
        {Outcome::injectedViaMenuPaste("テキストエディター"), true, "✅ テキストエディター に挿入 (メニューペースト)"},
        {Outcome::injectedViaCommandV("Slack"), true, "✅ Slack に挿入 (Ctrl+V)"},
        {Outcome::injectedViaUnicodeTyping("XTerm"), true, "✅ XTerm に挿入 (キー入力)"},
        {Outcome::copiedToClipboardFallback("入力欄なし"), false, "📋 コピー済み (入力欄なし)"},
        {Outcome::skipped("空の結果"), false, "⏭ スキップ (空の結果)"},
        // Plain concatenation: an empty payload leaves the blanks side by side.
        {Outcome::injectedViaAX(""), true, "✅  に直接挿入 (AX)"},
        {Outcome::skipped(""), false, "⏭ スキップ ()"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.outcome.isDirectInsert(), c.direct) << c.badge;
        EXPECT_EQ(c.outcome.summaryBadge(), c.badge);
    }
}

TEST(TextInjectionOutcome, EqualityComparesCaseAndPayload) {
    EXPECT_EQ(Outcome::injectedViaAX("a"), Outcome::injectedViaAX("a"));
    EXPECT_NE(Outcome::injectedViaAX("a"), Outcome::injectedViaAX("b"));
    EXPECT_NE(Outcome::injectedViaAX("a"), Outcome::injectedViaCommandV("a"));
    EXPECT_NE(Outcome::copiedToClipboardFallback("r"), Outcome::skipped("r"));
}

TEST(TextInjectionError, DescriptionsPerCase) {
    struct Case {
        TextInjectionError error;
        const char* description;
    };
    const Case cases[] = {
        {TextInjectionError::injectionFailed("CGEventの作成に失敗しました"), "CGEventの作成に失敗しました"},
        {TextInjectionError::injectionFailed(""), ""},
        {TextInjectionError::accessibilityNotEnabled(), "アクセシビリティ権限が必要です"},
        {TextInjectionError::postEventNotPermitted(), "キー送信権限が必要です"},
        {TextInjectionError::noActiveTextField(), "テキスト入力欄にフォーカスが当たっていません"},
        {TextInjectionError::duplicateSuppressed(), "カーソル位置に同一テキストが既に存在します"},
        {TextInjectionError::clipboardError(), "クリップボード操作に失敗しました"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.errorDescription(), c.description);
        EXPECT_STREQ(c.error.what(), c.description);
    }
}

TEST(TextInjectionError, EqualityComparesTheMessageOfInjectionFailedOnly) {
    EXPECT_EQ(TextInjectionError::injectionFailed("a"), TextInjectionError::injectionFailed("a"));
    EXPECT_NE(TextInjectionError::injectionFailed("a"), TextInjectionError::injectionFailed("b"));
    EXPECT_EQ(TextInjectionError::noActiveTextField(), TextInjectionError::noActiveTextField());
    EXPECT_NE(TextInjectionError::noActiveTextField(), TextInjectionError::duplicateSuppressed());
    // Thrown and caught as the engine throws it.
    try {
        throw TextInjectionError::duplicateSuppressed();
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "カーソル位置に同一テキストが既に存在します");
    }
}

TEST(TextInjectionRoute, RawValuesAndLabels) {
    struct Case {
        TextInjectionRoute route;
        const char* raw;
        const char* label;
    };
    const Case cases[] = {
        {TextInjectionRoute::axPrimary, "ax_primary", "AX直接挿入 + ペースト"},
        {TextInjectionRoute::clipboardPrimary, "clipboard_primary", "メニュー/Ctrl+V ペースト"},
        {TextInjectionRoute::typingPrimary, "typing_primary", "ターミナル安全入力"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text_injection_route::rawValue(c.route), c.raw);
        EXPECT_EQ(text_injection_route::displayLabel(c.route), c.label) << c.raw;
        EXPECT_EQ(text_injection_route::fromRawValue(c.raw), c.route) << c.raw;
    }
    for (const char* raw : {"AX_PRIMARY", "Ax_primary", "axPrimary", "", "ax_primary "}) {
        EXPECT_FALSE(text_injection_route::fromRawValue(raw)) << raw;
    }
}

}  // namespace
}  // namespace pelora
