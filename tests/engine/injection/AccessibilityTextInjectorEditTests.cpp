#include <gtest/gtest.h>

#include "engine/injection/AccessibilityTextInjector.h"
#include "engine/injection/TextInjectionError.h"
#include "platform/accessibility/Utf16.h"
#include "tests/engine/injection/FakeAccessibilityDesktop.h"

namespace pelora {
namespace {

using accessibility::UnitRange;
using testing::FakeAccessibilityDesktop;
using testing::FakeField;
using Err = TextInjectionError::Case;

std::string u8(std::u16string_view s) { return accessibility::toUtf8(s); }

class InjectorEdits : public ::testing::Test {
protected:
    void SetUp() override {
        desktop = std::make_shared<FakeAccessibilityDesktop>();
        desktop->field = std::make_shared<FakeField>();
        AccessibilityTextInjector::useAccessibilityForTesting(desktop);
    }
    void TearDown() override { AccessibilityTextInjector::useAccessibilityForTesting(nullptr); }

    // The error case, or nothing when the insertion succeeded.
    std::optional<Err> inject(const std::string& text, bool allowDuplicates = false,
                              std::optional<std::int32_t> pid = 4242) {
        try {
            AccessibilityTextInjector::injectDirectAX(text, pid, allowDuplicates);
            return std::nullopt;
        } catch (const TextInjectionError& e) {
            return e.errorCase();
        }
    }
    std::shared_ptr<FakeAccessibilityDesktop> desktop;
};

TEST_F(InjectorEdits, InjectDirect) {
    struct Case {
        const char* name;
        std::u16string value;
        std::optional<UnitRange> selection;
        std::string text;
        bool allowDuplicates;
        std::function<void(FakeField&)> tweak;
        std::optional<Err> error;
        std::u16string expected;  // the field afterwards
        std::int64_t caret;       // afterwards, when it succeeded
    };
    const Case cases[] = {
        {"empty field without a caret", u"", std::nullopt, "日本語", false, {}, {}, u"日本語", 3},
        {"empty field", u"", UnitRange{0, 0}, "abc", false, {}, {}, u"abc", 3},
        {"caret inside", u"ab", UnitRange{1, 0}, "X", false, {}, {}, u"aXb", 2},
        {"selection replaced", u"abcd", UnitRange{1, 2}, "X", false, {}, {}, u"aXd", 2},
        {"non-BMP character before the caret", u"😀b", UnitRange{2, 0}, "𠮷", false, {}, {}, u"😀𠮷b", 4},
        {"caret inside a pair moves before it", u"x😀", UnitRange{2, 0}, "a", true, {}, {}, u"xa😀", 2},
        {"placeholder counts as empty", u"ここに入力", UnitRange{0, 0}, "ここに入力", false,
         [](FakeField& f) { f.placeholder = "ここに入力"; }, {}, u"ここに入力", 5},
        {"duplicate before the caret", u"今日は", UnitRange{3, 0}, "今日は", false, {}, Err::duplicateSuppressed,
         u"今日は", 0},
        {"duplicate after the caret", u"今日は", UnitRange{0, 0}, "今日は", false, {}, Err::duplicateSuppressed,
         u"今日は", 0},
        {"duplicate allowed", u"今日は", UnitRange{3, 0}, "今日は", true, {}, {}, u"今日は今日は", 6},
        {"caret 0 of a non-empty field", u"abc", UnitRange{0, 0}, "X", false, {}, Err::noActiveTextField, u"abc",
         0},
        {"non-empty field without a caret", u"abc", std::nullopt, "X", false, {}, Err::noActiveTextField, u"abc", 0},
        {"line feed", u"ab", UnitRange{1, 0}, "x\ny", false, {}, Err::noActiveTextField, u"ab", 0},
        {"read-only", u"ab", UnitRange{1, 0}, "X", false, [](FakeField& f) { f.editable = false; },
         Err::noActiveTextField, u"ab", 0},
        {"password field yields no value", u"pw", UnitRange{1, 0}, "X", false,
         [](FakeField& f) { f.password = true; }, Err::noActiveTextField, u"pw", 0},
        {"write does not take", u"ab", UnitRange{1, 0}, "X", false, [](FakeField& f) { f.acceptsWrites = false; },
         Err::noActiveTextField, u"ab", 0},
        {"unreadable read-back is accepted", u"ab", UnitRange{1, 0}, "X", false,
         [](FakeField& f) { f.readBackFails = true; }, {}, u"aXb", 2},
        {"failed insertion puts the selection back", u"abcd", UnitRange{1, 2}, "X", false,
         [](FakeField& f) { f.insertFails = true; }, Err::noActiveTextField, u"abcd", 0},
        {"no focused element", u"ab", UnitRange{1, 0}, "X", false, {}, Err::noActiveTextField, u"ab", 0},
    };
    for (const auto& c : cases) {
        auto field = std::make_shared<FakeField>();
        field->value = c.value;
        field->selection = c.selection;
        if (c.tweak) c.tweak(*field);
        desktop->field = std::string_view(c.name) == "no focused element" ? nullptr : field;
        EXPECT_EQ(inject(c.text, c.allowDuplicates), c.error) << c.name;
        EXPECT_EQ(u8(field->value), u8(c.expected)) << c.name;
        if (!c.error) {
            EXPECT_EQ(field->selection, (UnitRange{c.caret, 0})) << c.name;
        }
    }
}

TEST_F(InjectorEdits, TrustAndOtherProcesses) {
    auto& f = *desktop->field;
    f.value = u"ab";
    f.selection = UnitRange{1, 0};
    EXPECT_EQ(inject("X", false, f.pid + 1), Err::noActiveTextField);
    desktop->trusted = false;
    EXPECT_EQ(inject("X"), Err::accessibilityNotEnabled);
    EXPECT_EQ(f.writes, 0);
    EXPECT_EQ(u8(f.value), "ab");
}

TEST_F(InjectorEdits, LargeDocumentsAreReadOnlyAroundTheCaret) {
    auto& f = *desktop->field;
    f.value = std::u16string(1 << 20, u'あ');
    f.selection = UnitRange{500000, 0};
    EXPECT_EQ(inject("テスト"), std::nullopt);
    EXPECT_EQ(f.value.size(), (1u << 20) + 3);
    EXPECT_EQ(u8(f.value.substr(500000, 3)), "テスト");
    EXPECT_LT(f.unitsRead, 100);
}

TEST_F(InjectorEdits, ReplaceRecentlyInserted) {
    struct Case {
        const char* name;
        std::u16string value;
        std::optional<UnitRange> selection;
        std::string original, corrected;
        std::function<void(FakeField&)> tweak;
        bool expected;
        std::u16string after;
        std::int64_t caret;
    };
    const Case cases[] = {
        {"replaced before the caret", u"今日は晴れ", UnitRange{3, 0}, "今日は", "今日わ", {}, true, u"今日わ晴れ", 3},
        {"longer correction", u"ab", UnitRange{2, 0}, "ab", "a😀b", {}, true, u"a😀b", 4},
        {"identical texts", u"ab", UnitRange{2, 0}, "ab", "ab", {}, false, u"ab", 2},
        {"a selection", u"ab", UnitRange{0, 2}, "ab", "cd", {}, false, u"ab", 0},
        {"other text before the caret", u"xb", UnitRange{2, 0}, "ab", "cd", {}, false, u"xb", 2},
        {"caret too early", u"ab", UnitRange{1, 0}, "ab", "cd", {}, false, u"ab", 1},
        {"line feed", u"ab", UnitRange{2, 0}, "ab", "c\nd", {}, false, u"ab", 2},
        {"empty original", u"ab", UnitRange{2, 0}, "", "cd", {}, false, u"ab", 2},
        {"insert refused: original back", u"ab", UnitRange{2, 0}, "ab", "cd",
         [](FakeField& f) { f.insertFails = true; }, false, u"ab", 2},
        {"write does not take", u"ab", UnitRange{2, 0}, "ab", "cd", [](FakeField& f) { f.acceptsWrites = false; },
         false, u"ab", 2},
        {"read-only", u"ab", UnitRange{2, 0}, "ab", "cd", [](FakeField& f) { f.editable = false; }, false, u"ab", 2},
    };
    for (const auto& c : cases) {
        auto field = std::make_shared<FakeField>();
        field->value = c.value;
        field->selection = c.selection;
        if (c.tweak) c.tweak(*field);
        desktop->field = field;
        EXPECT_EQ(AccessibilityTextInjector::replaceRecentlyInsertedAX(c.original, c.corrected, 4242), c.expected)
            << c.name;
        EXPECT_EQ(u8(field->value), u8(c.after)) << c.name;
        if (c.expected) {
            EXPECT_EQ(field->selection, (UnitRange{c.caret, 0})) << c.name;
        }
        if (std::string_view(c.name) == "identical texts") {
            EXPECT_EQ(field->writes, 0);
        }
    }
}

TEST_F(InjectorEdits, CanSafelyReplaceViaKeyboard) {
    struct Case {
        std::u16string value;
        std::optional<UnitRange> selection;
        std::string original;
        bool expected;
    };
    const Case cases[] = {
        {u"今日は晴れ", UnitRange{3, 0}, "今日は", true},
        {u"今日は晴れ", UnitRange{4, 0}, "今日は", false},
        {u"今日は晴れ", UnitRange{0, 3}, "今日は", false},
        {u"今日は", std::nullopt, "今日は", false},
        {u"", UnitRange{0, 0}, "a", false},
        {u"ab", UnitRange{2, 0}, "", false},
        {u"a\nb", UnitRange{3, 0}, "\nb", false},
        {u"ab", UnitRange{9, 0}, "ab", false},
        {u"x😀", UnitRange{3, 0}, "😀", true},
    };
    for (const auto& c : cases) {
        desktop->field->value = c.value;
        desktop->field->selection = c.selection;
        EXPECT_EQ(AccessibilityTextInjector::canSafelyReplaceViaKeyboard(c.original, 4242), c.expected)
            << u8(c.value) << " / " << c.original;
    }
    desktop->field->value = u"ab";
    desktop->field->selection = UnitRange{2, 0};
    EXPECT_FALSE(AccessibilityTextInjector::canSafelyReplaceViaKeyboard("ab", 4243));
    desktop->trusted = false;
    EXPECT_FALSE(AccessibilityTextInjector::canSafelyReplaceViaKeyboard("ab", 4242));
}

}  // namespace
}  // namespace pelora
