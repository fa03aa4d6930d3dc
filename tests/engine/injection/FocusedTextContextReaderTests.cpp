#include "engine/injection/FocusedTextContextReader.h"

#include <gtest/gtest.h>

#include "engine/injection/AccessibilityTextInjector.h"
#include "platform/accessibility/Utf16.h"
#include "tests/engine/injection/FakeAccessibilityDesktop.h"

namespace pelora {
namespace {

using accessibility::UnitRange;
using testing::FakeAccessibilityDesktop;
using testing::FakeField;

std::u16string numbered(int n) {
    std::u16string s;
    for (int i = 0; i < n; ++i) s.push_back(static_cast<char16_t>(u'A' + i % 26));
    return s;
}

std::string units(const std::u16string& s, int a, int b) {
    return accessibility::toUtf8(s.substr(static_cast<std::size_t>(a), static_cast<std::size_t>(b - a)));
}

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        desktop = std::make_shared<FakeAccessibilityDesktop>();
        desktop->field = std::make_shared<FakeField>();
        desktop->title = "メモ - 編集中";
        AccessibilityTextInjector::useAccessibilityForTesting(desktop);
    }
    void TearDown() override { AccessibilityTextInjector::useAccessibilityForTesting(nullptr); }
    std::shared_ptr<FakeAccessibilityDesktop> desktop;
    ActiveApplicationSnapshot target{4242, "org.example.editor", "Editor"};
};

TEST_F(CaptureTest, WindowsAroundTheSelection) {
    using O = std::optional<std::string>;
    const auto v500 = numbered(500);
    struct Case {
        const char* name;
        std::u16string value;
        std::optional<UnitRange> selection;
        O pre, selected, post;
    };
    const Case cases[] = {
        {"selection {200, 10}", v500, UnitRange{200, 10}, units(v500, 20, 200), units(v500, 200, 210),
         units(v500, 210, 390)},
        {"caret at 0", v500, UnitRange{0, 0}, "", std::nullopt, units(v500, 0, 180)},
        {"caret at the end", v500, UnitRange{500, 0}, units(v500, 320, 500), std::nullopt, ""},
        {"no selection readable: caret at the end", v500, std::nullopt, units(v500, 320, 500), std::nullopt, ""},
        {"short value", u"abc", UnitRange{1, 1}, "a", "b", "c"},
        {"selection past the end", u"abc", UnitRange{1, 99}, "a", "bc", ""},
        {"location far beyond the range", u"abc", UnitRange{INT64_MAX, INT64_MAX}, "abc", std::nullopt, ""},
        {"empty value", u"", UnitRange{0, 0}, std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        desktop->field->value = c.value;
        desktop->field->selection = c.selection;
        const auto context = FocusedTextContextReader::capture(target);
        EXPECT_EQ(context.appName, O("Editor")) << c.name;
        EXPECT_EQ(context.bundleIdentifier, O("org.example.editor")) << c.name;
        EXPECT_EQ(context.windowTitle, O("メモ - 編集中")) << c.name;
        EXPECT_EQ(context.preText, c.pre) << c.name;
        EXPECT_EQ(context.selectedText, c.selected) << c.name;
        EXPECT_EQ(context.postText, c.post) << c.name;
    }
}

TEST_F(CaptureTest, NoCutSplitsASurrogatePair) {
    // 😀 straddles the 180-unit boundary before the caret and after it.
    std::u16string value = u"x" + std::u16string(u"😀") + std::u16string(179, u'a') + u"|" +
                           std::u16string(179, u'b') + u"😀" + u"y";
    desktop->field->value = value;
    desktop->field->selection = UnitRange{182, 0};  // before "|"
    const auto context = FocusedTextContextReader::capture(target);
    ASSERT_TRUE(context.preText && context.postText);
    EXPECT_EQ(*context.preText, std::string(179, 'a'));
    EXPECT_EQ(*context.postText, "|" + std::string(179, 'b'));
}

TEST_F(CaptureTest, WithoutAccessOnlyTheApplication) {
    desktop->field->value = u"abc";
    desktop->trusted = false;
    const auto context = FocusedTextContextReader::capture(target);
    EXPECT_EQ(context.appName, std::optional<std::string>("Editor"));
    EXPECT_TRUE(context.isEmpty());
    EXPECT_FALSE(context.windowTitle);

    desktop->trusted = true;
    const auto none = FocusedTextContextReader::capture(std::nullopt);
    EXPECT_FALSE(none.appName);
    EXPECT_FALSE(none.windowTitle);  // no target: no window title
    EXPECT_EQ(none.postText, std::optional<std::string>("abc"));

    // Another process's element is not read for a target.
    desktop->field->pid = 1;
    EXPECT_FALSE(FocusedTextContextReader::capture(target).preText);
}

TEST_F(CaptureTest, ReadsOnlyAroundTheSelection) {
    desktop->field->value = std::u16string(1 << 20, u'x');
    desktop->field->selection = UnitRange{600000, 0};
    const auto context = FocusedTextContextReader::capture(target);
    EXPECT_EQ(context.preText->size(), 180u);
    EXPECT_LT(desktop->field->unitsRead, 400);
}

}  // namespace
}  // namespace pelora
