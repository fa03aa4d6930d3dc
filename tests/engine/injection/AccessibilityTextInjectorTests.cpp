#include "engine/injection/AccessibilityTextInjector.h"

#include <gtest/gtest.h>

#include "engine/injection/MenuKeyBinding.h"
#include "platform/accessibility/Utf16.h"
#include "tests/engine/injection/FakeAccessibilityDesktop.h"

namespace pelora {
namespace {

using testing::FakeAccessibilityDesktop;
using testing::FakeField;
using testing::FakeMenuNode;
using Range = std::optional<TextSelectionRange>;

std::string u8(std::u16string_view s) { return accessibility::toUtf8(s); }

TEST(AccessibilityTextInjectorPure, ComputeInsertion) {
    struct Case {
        std::u16string value;
        Range range;
        std::u16string text;
        std::u16string expected;
        std::int64_t caret;
    };
    const Case cases[] = {
        {u"ab", std::nullopt, u"c", u"abc", 3},
        {u"ab", TextSelectionRange{1, 0}, u"c", u"acb", 2},
        {u"ab", TextSelectionRange{5, 3}, u"c", u"abc", 3},
        {u"ab", TextSelectionRange{1, 10}, u"c", u"ac", 2},
        {u"ab", TextSelectionRange{-4, 1}, u"c", u"cab", 1},
        {u"", std::nullopt, u"日本", u"日本", 2},
        // A caret inside a surrogate pair moves before the pair.
        {u"😀x", TextSelectionRange{1, 0}, u"a", u"a😀x", 1},
        // A selection ending inside a pair keeps the pair whole.
        {u"a😀b", TextSelectionRange{0, 2}, u"c", u"c😀b", 1},
        {u"ab", TextSelectionRange{INT64_MAX, INT64_MAX}, u"c", u"abc", 3},
        {u"ab", TextSelectionRange{1, INT64_MAX}, u"c", u"ac", 2},
    };
    for (const auto& c : cases) {
        const auto r = AccessibilityTextInjector::computeInsertion(c.value, c.range, c.text);
        EXPECT_EQ(u8(r.value), u8(c.expected)) << u8(c.value);
        EXPECT_EQ(r.caret, c.caret) << u8(c.value);
    }
}

TEST(AccessibilityTextInjectorPure, SafeScalarIndex) {
    struct Case {
        std::u16string s;
        std::int64_t offset;
        std::size_t expected;
    };
    const Case cases[] = {
        {u"abc", 1, 1}, {u"abc", -3, 0}, {u"abc", 9, 3}, {u"😀", 1, 0}, {u"a😀", 2, 1}, {u"a😀", 3, 3}, {u"", 0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AccessibilityTextInjector::safeScalarIndex(c.offset, c.s), c.expected) << u8(c.s) << " @" << c.offset;
}

TEST(AccessibilityTextInjectorPure, NormalizeValueForInsertion) {
    using O = std::optional<std::u16string>;
    struct Case {
        O value, placeholder, expected;
    };
    const Case cases[] = {
        {std::nullopt, u"p", std::nullopt},
        {u"abc", std::nullopt, u"abc"},
        {u"abc", u"", u"abc"},
        {u"ここに入力", u"ここに入力", u""},
        {u"ここに", u"ここに入力", u"ここに"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AccessibilityTextInjector::normalizeAXValueForInsertion(c.value, c.placeholder), c.expected);
}

TEST(AccessibilityTextInjectorPure, AdjacentDuplicate) {
    struct Case {
        std::u16string value;
        Range range;
        std::u16string text;
        bool expected;
    };
    const Case cases[] = {
        {u"", std::nullopt, u"a", false},
        {u"abc", std::nullopt, u"", false},
        {u"b", TextSelectionRange{1, 0}, u"abc", false},
        {u"今日は", std::nullopt, u"は", true},
        {u"今日は", std::nullopt, u"日", false},
        {u"今日は晴れ", TextSelectionRange{3, 0}, u"今日は", true},   // just before the caret
        {u"今日は晴れ", TextSelectionRange{0, 0}, u"今日は", true},   // just after the caret
        {u"今日は晴れ", TextSelectionRange{1, 0}, u"今日は", false},
        {u"今日は晴れ", TextSelectionRange{0, 3}, u"今日は", false},  // a real selection
        {u"xa\u0323\u0307", TextSelectionRange{4, 0}, u"a\u0307\u0323", true},  // canonically equal
        {u"cafe\u0301", TextSelectionRange{5, 0}, u"café", false},  // compared over the text's own length
        {u"x😀", TextSelectionRange{3, 0}, u"😀", true},
        {u"😀y", TextSelectionRange{1, 0}, u"😀", true},              // caret inside the pair counts as before it
    };
    for (const auto& c : cases)
        EXPECT_EQ(AccessibilityTextInjector::shouldSuppressAdjacentDuplicate(c.value, c.range, c.text), c.expected)
            << u8(c.value) << " / " << u8(c.text);
}

TEST(MenuKeyBinding, PlainControlVOnly) {
    struct Case {
        const char* binding;
        bool expected;
    };
    const Case cases[] = {
        {"Ctrl+V", true},
        {"ctrl+v", true},
        {"<Control>v", true},
        {"<Alt>e;<Alt>e:p;<Control>v", true},
        {"p;;<Control>v", true},
        {"<Primary>v", true},
        {"Ctrl+Shift+V", false},
        {"<Control><Shift>v", false},
        {"<Alt>e;<Alt>e:p;<Control><Shift>v", false},
        {"Alt+V", false},
        {"V", false},
        {"Ctrl+C", false},
        {"<Control>v;;", false},  // the shortcut field is empty
        {"", false},
        {"Ctrl+", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isPlainControlVBinding(c.binding), c.expected) << c.binding;
}

class InjectorWithFakeDesktop : public ::testing::Test {
protected:
    void SetUp() override {
        desktop = std::make_shared<FakeAccessibilityDesktop>();
        desktop->field = std::make_shared<FakeField>();
        AccessibilityTextInjector::useAccessibilityForTesting(desktop);
    }
    void TearDown() override { AccessibilityTextInjector::useAccessibilityForTesting(nullptr); }
    std::shared_ptr<FakeAccessibilityDesktop> desktop;
};

TEST_F(InjectorWithFakeDesktop, CaretBounds) {
    using accessibility::ScreenBox;
    using accessibility::UnitRange;
    struct Case {
        const char* name;
        std::u16string value;
        std::optional<UnitRange> selection;
        std::map<std::int64_t, ScreenBox> boxes;
        std::optional<ScreenBox> selectionBox;
        std::optional<ScreenRect> expected;
    };
    const Case cases[] = {
        {"caret inside", u"abc", UnitRange{1, 0}, {{1, {20, 30, 7, 14}}}, {}, ScreenRect{20, 30, 7, 14}},
        {"caret at the end: trailing edge of the last character", u"abc", UnitRange{3, 0},
         {{2, {40, 30, 7, 14}}}, {}, ScreenRect{47, 30, 0, 14}},
        {"after a pair: the whole pair's edge", u"a😀", UnitRange{3, 0}, {{1, {40, 30, 12, 14}}}, {},
         ScreenRect{52, 30, 0, 14}},
        {"empty field", u"", UnitRange{0, 0}, {}, {}, std::nullopt},
        {"selection", u"abcdef", UnitRange{1, 3}, {}, ScreenBox{20, 30, 21, 14}, ScreenRect{20, 30, 21, 14}},
        {"box at (0,0)", u"abc", UnitRange{1, 0}, {{1, {0, 0, 7, 14}}, {0, {0, 0, 7, 14}}}, {}, std::nullopt},
        {"height 0", u"abc", UnitRange{1, 0}, {{1, {20, 30, 7, 0}}, {0, {13, 30, 7, 0}}}, {}, std::nullopt},
        {"no selection readable", u"abc", std::nullopt, {}, {}, std::nullopt},
    };
    for (const auto& c : cases) {
        auto& f = *desktop->field;
        f.value = c.value;
        f.selection = c.selection;
        f.characterBoxes = c.boxes;
        f.selectionBox = c.selectionBox;
        EXPECT_EQ(AccessibilityTextInjector::getCaretBounds(f.pid), c.expected) << c.name;
    }
}

TEST_F(InjectorWithFakeDesktop, ElementFrameAndTrust) {
    auto& f = *desktop->field;
    f.frameBox = accessibility::ScreenBox{0, 0, 300, 20};
    EXPECT_EQ(AccessibilityTextInjector::getFocusedElementFrame(f.pid), (ScreenRect{0, 0, 300, 20}));
    f.frameBox = accessibility::ScreenBox{10, 10, 0, 20};
    EXPECT_EQ(AccessibilityTextInjector::getFocusedElementFrame(f.pid), std::nullopt);
    f.frameBox = accessibility::ScreenBox{10, 10, 300, 20};
    // Another process's element is never answered for a target.
    EXPECT_EQ(AccessibilityTextInjector::getFocusedElementFrame(f.pid + 1), std::nullopt);
    EXPECT_TRUE(AccessibilityTextInjector::getFocusedElementFrame(std::nullopt).has_value());
    desktop->trusted = false;
    EXPECT_FALSE(AccessibilityTextInjector::isAccessibilityTrusted());
    EXPECT_EQ(AccessibilityTextInjector::getFocusedElementFrame(f.pid), std::nullopt);
    EXPECT_TRUE(AccessibilityTextInjector::requestAccessibilityAccess());
    EXPECT_TRUE(AccessibilityTextInjector::isAccessibilityTrusted());
    EXPECT_FALSE(AccessibilityTextInjector::hasActiveMarkedText(f.pid));
}

std::shared_ptr<FakeMenuNode> item(std::string id, std::optional<std::string> binding, bool enabled = true) {
    auto n = std::make_shared<FakeMenuNode>();
    n->id = id;
    n->name = id;
    n->menuItem = true;
    n->binding = std::move(binding);
    n->enabled = enabled;
    return n;
}

std::shared_ptr<FakeMenuNode> menu(std::string name, std::vector<std::shared_ptr<FakeMenuNode>> children) {
    auto n = item(name, std::nullopt);
    n->children = std::move(children);
    return n;
}

TEST_F(InjectorWithFakeDesktop, MenuPasteSearch) {
    auto paste = item("paste", "Ctrl+V");
    auto disabled = item("paste-disabled", "Ctrl+V", false);
    auto special = item("paste-special", "Ctrl+Shift+V");
    auto filePaste = item("file-paste", "Ctrl+V");
    // Edit comes first: its Paste wins over File's, past the disabled and the modified items.
    desktop->bar = menu("bar", {menu("File", {filePaste}), menu("Edit", {disabled, special, paste})});
    EXPECT_TRUE(AccessibilityTextInjector::triggerMenuBarPaste(4242, std::nullopt));
    EXPECT_EQ(paste->presses, 1);
    EXPECT_EQ(filePaste->presses + disabled->presses + special->presses, 0);
    // Breadth first: a Paste one level down in another menu comes before one in a submenu.
    desktop->bar = menu("bar", {menu("File", {filePaste}), menu("Edit", {disabled, menu("More", {paste})})});
    EXPECT_TRUE(AccessibilityTextInjector::triggerMenuBarPaste(4242, std::nullopt));
    EXPECT_EQ(filePaste->presses, 1);
    filePaste->presses = 0;
    // Deeper in a submenu when nothing else matches.
    desktop->bar = menu("bar", {menu("Edit", {disabled, special, menu("More", {paste})})});
    EXPECT_TRUE(AccessibilityTextInjector::triggerMenuBarPaste(4242, std::nullopt));
    EXPECT_EQ(paste->presses, 2);

    // With a single top-level menu, that menu is searched.
    desktop->bar = menu("bar", {menu("Edit", {paste})});
    EXPECT_TRUE(AccessibilityTextInjector::triggerMenuBarPaste(4242, std::nullopt));
    EXPECT_EQ(paste->presses, 3);

    // On X11 the first top-level menu is kept (there is no system menu to drop).
    desktop->bar = menu("bar", {menu("File", {paste}), menu("View", {})});
    EXPECT_TRUE(AccessibilityTextInjector::triggerMenuBarPaste(4242, std::nullopt));
    EXPECT_EQ(paste->presses, 4);

    desktop->bar = menu("bar", {menu("Edit", {disabled, special})});
    EXPECT_FALSE(AccessibilityTextInjector::triggerMenuBarPaste(4242, std::nullopt));
    desktop->bar = menu("bar", {});
    EXPECT_FALSE(AccessibilityTextInjector::triggerMenuBarPaste(4242, std::nullopt));
    desktop->bar = nullptr;
    EXPECT_FALSE(AccessibilityTextInjector::triggerMenuBarPaste(4242, std::nullopt));
    desktop->bar = menu("bar", {menu("Edit", {paste})});
    desktop->trusted = false;
    EXPECT_FALSE(AccessibilityTextInjector::triggerMenuBarPaste(4242, std::nullopt));
    EXPECT_EQ(paste->presses, 4);
}

TEST_F(InjectorWithFakeDesktop, MenuSearchEndsOnCyclesAndHugeTrees) {
    // A cycle: the submenu lists its own parent again.
    int visits = 0;
    auto edit = menu("Edit", {});
    auto sub = menu("Sub", {edit});
    edit->children = {sub, item("copy", "Ctrl+C")};
    edit->visits = &visits;
    desktop->bar = menu("bar", {edit});
    EXPECT_FALSE(AccessibilityTextInjector::triggerMenuBarPaste(4242, std::nullopt));
    EXPECT_EQ(visits, 1);

    // An endless tree: every node has fresh children.
    int made = 0;
    std::function<std::shared_ptr<FakeMenuNode>()> endless = [&] {
        auto n = menu("n" + std::to_string(made++), {});
        n->makeChildren = [&] { return std::vector{endless(), endless()}; };
        return n;
    };
    desktop->bar = menu("bar", {endless()});
    EXPECT_FALSE(AccessibilityTextInjector::triggerMenuBarPaste(4242, std::nullopt));
    EXPECT_LT(made, 20000);
}

}  // namespace
}  // namespace pelora
