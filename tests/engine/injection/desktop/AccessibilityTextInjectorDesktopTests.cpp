// The injector against real applications in the private desktop: the Qt 6 target (whose
// bridge counts UTF-16 units) and the GTK 3 target (whose bridge counts code points and
// takes insert lengths in bytes). Every check reads the target's own report of its
// fields (printed when it closes), never the accessibility bus under test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "engine/injection/AccessibilityTextInjector.h"
#include "engine/injection/FocusedTextContextReader.h"
#include "engine/injection/TextInjectionError.h"
#include "tests/engine/injection/desktop/DesktopTargets.h"

namespace pelora::testing {
namespace {

using namespace std::chrono_literals;
using Error = TextInjectionError::Case;

// What injectDirectAX answered: nothing for an insertion, else the error's case.
std::optional<Error> inject(const std::string& text, std::optional<std::int32_t> pid, bool allowDuplicates) {
    try {
        AccessibilityTextInjector::injectDirectAX(text, pid, allowDuplicates);
        return std::nullopt;
    } catch (const TextInjectionError& error) {
        return error.errorCase();
    }
}

std::string describe(std::optional<Error> outcome) {
    if (!outcome) return "inserted";
    switch (*outcome) {
        case Error::accessibilityNotEnabled: return "accessibilityNotEnabled";
        case Error::noActiveTextField: return "noActiveTextField";
        case Error::duplicateSuppressed: return "duplicateSuppressed";
        default: return "another error";
    }
}

struct InsertionCase {
    const char* name = "";
    Field field = Field::qtLine;
    std::string initial = {};
    // The caret stands after this prefix of `initial`, with `selected` after it selected.
    std::optional<std::string> beforeCaret = std::nullopt;
    std::string selected = {};
    std::string text = {};
    std::optional<Error> expected = std::nullopt;
    // The field afterwards, and the part of it before the caret (when inserted).
    std::string value = {};
    std::string valueBeforeCaret = {};
    bool allowDuplicates = false;
    std::optional<std::string> placeholder = std::nullopt;
};

class InsertionTest : public DesktopTargetTest, public ::testing::WithParamInterface<InsertionCase> {};

TEST_P(InsertionTest, FieldEndsAsTheInsertionSays) {
    const auto& c = GetParam();
    FieldSetup setup{.field = c.field, .text = c.initial, .beforeCaret = c.beforeCaret, .selected = c.selected,
                     .placeholder = c.placeholder};
    auto target = startWith(setup);
    const auto outcome = inject(c.text, target.pid(), c.allowDuplicates);
    EXPECT_EQ(describe(outcome), describe(c.expected)) << c.name;
    const auto fields = finalFields(target, c.field);
    EXPECT_EQ(fields.value, c.value) << c.name;
    if (!c.expected) {
        EXPECT_EQ(fields.beforeCaret, c.valueBeforeCaret) << c.name;
    }
}

std::vector<InsertionCase> insertionCases() {
    std::vector<InsertionCase> cases;
    for (Field field : {Field::qtLine, Field::qtRich, Field::gtkEntry, Field::gtkView}) {
        auto add = [&](InsertionCase c) {
            c.field = field;
            cases.push_back(std::move(c));
        };
        add({.name = "empty field", .initial = "", .text = "日本語", .expected = std::nullopt, .value = "日本語",
             .valueBeforeCaret = "日本語"});
        add({.name = "caret inside", .initial = "abcd", .beforeCaret = "ab", .text = "日本", .value = "ab日本cd",
             .valueBeforeCaret = "ab日本"});
        add({.name = "selection replaced", .initial = "abcdef", .beforeCaret = "a", .selected = "bcd", .text = "Z",
             .value = "aZef", .valueBeforeCaret = "aZ"});
        add({.name = "non-BMP character before the caret", .initial = "😀x", .beforeCaret = "😀", .text = "日本😀",
             .value = "😀日本😀x", .valueBeforeCaret = "😀日本😀"});
        add({.name = "non-BMP characters on both sides of a selection", .initial = "𠮷ab😀", .beforeCaret = "𠮷",
             .selected = "ab", .text = "𠮷", .value = "𠮷𠮷😀", .valueBeforeCaret = "𠮷𠮷"});
        add({.name = "duplicate just before the caret", .initial = "xabc", .text = "abc",
             .expected = Error::duplicateSuppressed, .value = "xabc"});
        add({.name = "duplicate just after the caret", .initial = "x日本😀", .beforeCaret = "x", .text = "日本😀",
             .expected = Error::duplicateSuppressed, .value = "x日本😀"});
        add({.name = "duplicate allowed", .initial = "abc", .text = "abc", .value = "abcabc",
             .valueBeforeCaret = "abcabc", .allowDuplicates = true});
        add({.name = "caret 0 of a non-empty field", .initial = "abc", .beforeCaret = "", .text = "x",
             .expected = Error::noActiveTextField, .value = "abc"});
        add({.name = "line feed in the text", .initial = "abc", .text = "x\ny", .expected = Error::noActiveTextField,
             .value = "abc"});
    }
    for (Field field : {Field::qtLine, Field::gtkEntry}) {
        // The empty field shows its placeholder; the placeholder's own text is no duplicate.
        cases.push_back({.name = "placeholder text into the empty field", .field = field, .initial = "",
                         .text = "ここに入力", .value = "ここに入力", .valueBeforeCaret = "ここに入力",
                         .placeholder = "ここに入力"});
    }
    cases.push_back({.name = "read-only field", .field = Field::qtReadOnly, .initial = "読み取り専用", .text = "x",
                     .expected = Error::noActiveTextField, .value = "読み取り専用"});
    cases.push_back({.name = "read-only field", .field = Field::gtkReadOnly, .initial = "読み取り専用", .text = "x",
                     .expected = Error::noActiveTextField, .value = "読み取り専用"});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(RealFields, InsertionTest, ::testing::ValuesIn(insertionCases()),
                         [](const auto& info) { return caseName(info.param.field, info.index); });

// Repeated insertions: each lands at the caret the one before left, with nothing added.
TEST_F(DesktopTargetTest, RepeatedInsertionsFollowTheCaret) {
    for (Field field : {Field::qtLine, Field::qtRich, Field::gtkEntry, Field::gtkView}) {
        auto target = startWith({.field = field, .text = "[]", .beforeCaret = "["});
        for (const char* text : {"日本", "😀", "abc", "𠮷x"}) EXPECT_EQ(describe(inject(text, target.pid(), false)), "inserted");
        // The same text again, right behind the caret, is a duplicate.
        EXPECT_EQ(describe(inject("𠮷x", target.pid(), false)), describe(Error::duplicateSuppressed));
        const auto fields = finalFields(target, field);
        EXPECT_EQ(fields.value, "[日本😀abc𠮷x]") << fieldName(field);
        EXPECT_EQ(fields.beforeCaret, "[日本😀abc𠮷x") << fieldName(field);
    }
}

TEST_F(DesktopTargetTest, PasswordFieldTakesNoInsertion) {
    auto target = startWith({.field = Field::qtSecret});
    EXPECT_EQ(describe(inject("x", target.pid(), false)), describe(Error::noActiveTextField));
    EXPECT_EQ(finalFields(target, Field::qtSecret).value, "hunter2");
}

// The bold word of the rich-text field keeps its formatting: only the replaced range changes.
struct RichCase {
    const char* name;
    std::optional<std::string> beforeCaret;
    std::string selected;
    std::string text;
    std::string value;
};

class RichTextTest : public DesktopTargetTest, public ::testing::WithParamInterface<RichCase> {};

TEST_P(RichTextTest, BoldStaysBold) {
    const auto& c = GetParam();
    auto target = startWith({.field = Field::qtRich, .text = "plain bold tail", .beforeCaret = c.beforeCaret,
                             .selected = c.selected});
    EXPECT_EQ(describe(inject(c.text, target.pid(), false)), "inserted") << c.name;
    const auto state = closeAndReadState(target);
    EXPECT_EQ(state.value("rich", ""), c.value) << c.name;
    EXPECT_EQ(state.value("bold", nlohmann::json::array()), nlohmann::json::array({"bold"})) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    QtRichText, RichTextTest,
    ::testing::Values(RichCase{"before the bold word", "pl", "", "日本", "pl日本ain bold tail"},
                      RichCase{"after the bold word", "plain bold ", "", "😀", "plain bold 😀tail"},
                      RichCase{"selection after the bold word", "plain bold ", "tail", "end", "plain bold end"},
                      RichCase{"at the end", std::nullopt, "", "。", "plain bold tail。"}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_F(DesktopTargetTest, ReplacingInRichTextKeepsBold) {
    auto target = startWith({.field = Field::qtRich, .text = "plain bold tail", .beforeCaret = "plain"});
    EXPECT_EQ(describe(inject("日本😀", target.pid(), false)), "inserted");
    EXPECT_TRUE(AccessibilityTextInjector::replaceRecentlyInsertedAX("日本😀", "日本語", target.pid()));
    const auto state = closeAndReadState(target);
    EXPECT_EQ(state.value("rich", ""), "plain日本語 bold tail");
    EXPECT_EQ(state.value("bold", nlohmann::json::array()), nlohmann::json::array({"bold"}));
}

// replaceRecentlyInsertedAX and canSafelyReplaceViaKeyboard on what stands before the caret.
struct ReplaceCase {
    const char* name;
    std::string initial;
    std::optional<std::string> beforeCaret;
    std::string selected;
    std::string original;
    std::string corrected;
    bool safe;
    bool replaced;
    std::string value;
    std::string valueBeforeCaret;
};

class ReplaceTest : public DesktopTargetTest,
                    public ::testing::WithParamInterface<std::tuple<Field, ReplaceCase>> {};

TEST_P(ReplaceTest, OnlyTheTextBeforeTheCaretIsReplaced) {
    const auto& [field, c] = GetParam();
    auto target = startWith({.field = field, .text = c.initial, .beforeCaret = c.beforeCaret, .selected = c.selected});
    EXPECT_EQ(AccessibilityTextInjector::canSafelyReplaceViaKeyboard(c.original, target.pid()), c.safe) << c.name;
    EXPECT_EQ(AccessibilityTextInjector::replaceRecentlyInsertedAX(c.original, c.corrected, target.pid()), c.replaced)
        << c.name;
    const auto fields = finalFields(target, field);
    EXPECT_EQ(fields.value, c.value) << c.name;
    if (c.replaced) {
        EXPECT_EQ(fields.beforeCaret, c.valueBeforeCaret) << c.name;
    }
}

const ReplaceCase replaceCases[] = {
    {"just inserted at the end", "abc日本😀", std::nullopt, "", "日本😀", "日本語", true, true, "abc日本語",
     "abc日本語"},
    {"inside the text", "x日本😀y", "x日本😀", "", "日本😀", "𠮷野家", true, true, "x𠮷野家y", "x𠮷野家"},
    {"shorter correction", "今日は晴れ", "今日は晴れ", "", "晴れ", "雨", true, true, "今日は雨", "今日は雨"},
    {"original not before the caret", "abcdef", std::nullopt, "", "abc", "xyz", false, false, "abcdef", ""},
    {"caret at 0", "abc", "", "", "abc", "xyz", false, false, "abc", ""},
    {"a selection", "abc", "", "abc", "abc", "xyz", false, false, "abc", ""},
    {"same text", "abc", std::nullopt, "", "abc", "abc", true, false, "abc", ""},
    {"line feed in the correction", "abc", std::nullopt, "", "abc", "a\nb", true, false, "abc", ""},
};

INSTANTIATE_TEST_SUITE_P(RealFields, ReplaceTest,
                         ::testing::Combine(::testing::Values(Field::qtLine, Field::qtRich, Field::gtkEntry,
                                                              Field::gtkView),
                                            ::testing::ValuesIn(replaceCases)),
                         [](const auto& info) { return caseName(std::get<0>(info.param), info.index); });

// The caret's box lies in the field's frame and moves right as text goes in before it.
TEST_F(DesktopTargetTest, CaretBoundsLieInTheFieldAndFollowTheCaret) {
    for (Field field : {Field::qtLine, Field::qtRich, Field::gtkEntry, Field::gtkView}) {
        auto target = startWith({.field = field, .text = "abc"});
        const auto frame = AccessibilityTextInjector::getFocusedElementFrame(target.pid());
        const auto before = AccessibilityTextInjector::getCaretBounds(target.pid());
        ASSERT_TRUE(frame && before) << fieldName(field);
        EXPECT_GT(frame->width, 0) << fieldName(field);
        EXPECT_GE(before->x, frame->x) << fieldName(field);
        EXPECT_LE(before->x, frame->x + frame->width) << fieldName(field);
        EXPECT_GE(before->y, frame->y) << fieldName(field);
        EXPECT_LE(before->y + before->height, frame->y + frame->height) << fieldName(field);
        EXPECT_EQ(describe(inject("日本語😀", target.pid(), false)), "inserted");
        const auto after = AccessibilityTextInjector::getCaretBounds(target.pid());
        ASSERT_TRUE(after) << fieldName(field);
        EXPECT_GT(after->x, before->x) << fieldName(field);
        EXPECT_TRUE(AccessibilityTextInjector::hasFocusedEditableElement(target.pid())) << fieldName(field);
    }
}

// A long GTK document with characters outside the Basic Multilingual Plane on both sides
// of the caret, far beyond what is read around it: offsets still meet the caret exactly.
TEST_F(DesktopTargetTest, LongCodePointDocumentIsWrittenAtTheCaret) {
    std::string emoji;
    for (int i = 0; i < 5000; ++i) emoji += "😀";
    for (Field field : {Field::gtkView, Field::qtRich}) {
        auto target = startWith({.field = field, .text = emoji + "abc" + emoji, .beforeCaret = emoji + "abc"});
        EXPECT_EQ(describe(inject("日本", target.pid(), false)), "inserted") << fieldName(field);
        EXPECT_EQ(describe(inject("日本", target.pid(), false)), describe(Error::duplicateSuppressed)) << fieldName(field);
        const auto context = FocusedTextContextReader::capture(ActiveApplicationSnapshot{target.pid(), "b", "n"});
        std::string before;
        for (int i = 0; i < 87; ++i) before += "😀";  // 175 units: the cut moves off the half pair
        EXPECT_EQ(context.preText, before + "abc日本") << fieldName(field);
        EXPECT_EQ(context.postText, emoji.substr(0, 90 * 4)) << fieldName(field);
        EXPECT_TRUE(AccessibilityTextInjector::replaceRecentlyInsertedAX("日本", "𠮷", target.pid())) << fieldName(field);
        const auto fields = finalFields(target, field);
        EXPECT_TRUE(fields.value == emoji + "abc𠮷" + emoji) << fieldName(field);
        EXPECT_TRUE(fields.beforeCaret == emoji + "abc𠮷") << fieldName(field);
    }
}

// Another process's element is never written: a target that is not active has no
// focused element, and this process itself is never asked.
TEST_F(DesktopTargetTest, AnotherProcessIsNeverWritten) {
    auto inactive = startWith({.field = Field::gtkEntry, .text = "gtk"});
    auto active = startWith({.field = Field::qtLine, .text = "qt"});
    EXPECT_EQ(describe(inject("x", static_cast<std::int32_t>(getpid()), false)), describe(Error::noActiveTextField));
    EXPECT_EQ(describe(inject("y", inactive.pid(), false)), describe(Error::noActiveTextField));
    EXPECT_FALSE(AccessibilityTextInjector::getCaretBounds(inactive.pid()));
    EXPECT_FALSE(AccessibilityTextInjector::canSafelyReplaceViaKeyboard("gtk", inactive.pid()));
    // Without a process, the active window's application is the target.
    EXPECT_EQ(describe(inject("z", std::nullopt, false)), "inserted");
    EXPECT_EQ(finalFields(active, Field::qtLine).value, "qtz");
    EXPECT_EQ(finalFields(inactive, Field::gtkEntry).value, "gtk");
}

}  // namespace
}  // namespace pelora::testing
