// Focused text capture against the real Qt and GTK fields: the window title, the
// selection and up to 180 UTF-16 units on each side, never half a character.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "engine/injection/FocusedTextContextReader.h"
#include "tests/engine/injection/desktop/DesktopTargets.h"

namespace pelora::testing {
namespace {

std::string repeated(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

// 500 ASCII units, each position recognisable.
const std::string fiveHundred = [] {
    std::string s;
    for (int i = 0; i < 500; ++i) s += static_cast<char>('a' + i % 26);
    return s;
}();

struct CaptureCase {
    const char* name;
    std::string initial;
    std::optional<std::string> beforeCaret;
    std::string selected;
    std::optional<std::string> preText;
    std::optional<std::string> selectedText;
    std::optional<std::string> postText;
};

const CaptureCase captureCases[] = {
    {"caret at 0 of a non-empty value", "abcdef", "", "", "", std::nullopt, "abcdef"},
    {"caret at the end", "abcdef", std::nullopt, "", "abcdef", std::nullopt, ""},
    {"Japanese around the caret", "今日は晴れ", "今日は", "", "今日は", std::nullopt, "晴れ"},
    {"500 units with the selection {200, 10}", fiveHundred, fiveHundred.substr(0, 200), fiveHundred.substr(200, 10),
     fiveHundred.substr(20, 180), fiveHundred.substr(200, 10), fiveHundred.substr(210, 180)},
    // The window's first unit would be the second half of 😀: the cut moves inwards.
    {"surrogate pair at the start of the window", repeated("a", 320) + "😀" + repeated("b", 179), std::nullopt, "",
     repeated("b", 179), std::nullopt, ""},
    {"surrogate pair at the end of the window", repeated("a", 179) + "😀" + repeated("b", 10), "", "", "",
     std::nullopt, repeated("a", 179)},
    {"non-BMP characters inside the windows", "𠮷野家😀", "𠮷野", "家", "𠮷野", "家", "😀"},
};

class CaptureTest : public DesktopTargetTest,
                    public ::testing::WithParamInterface<std::tuple<Field, CaptureCase>> {};

TEST_P(CaptureTest, ContextAroundTheSelection) {
    const auto& [field, c] = GetParam();
    auto target = startWith({.field = field, .text = c.initial, .beforeCaret = c.beforeCaret, .selected = c.selected});
    const ActiveApplicationSnapshot app{static_cast<std::int32_t>(target.pid()), "org.example.target", "Target"};
    const auto context = FocusedTextContextReader::capture(app);
    EXPECT_EQ(context.appName, "Target") << c.name;
    EXPECT_EQ(context.bundleIdentifier, "org.example.target") << c.name;
    EXPECT_EQ(context.windowTitle, target.title()) << c.name;
    EXPECT_EQ(context.preText, c.preText) << c.name;
    EXPECT_EQ(context.selectedText, c.selectedText) << c.name;
    EXPECT_EQ(context.postText, c.postText) << c.name;
    // Capture only reads.
    EXPECT_EQ(finalFields(target, field).value, c.initial) << c.name;
}

INSTANTIATE_TEST_SUITE_P(RealFields, CaptureTest,
                         ::testing::Combine(::testing::Values(Field::qtLine, Field::qtRich, Field::gtkEntry,
                                                              Field::gtkView),
                                            ::testing::ValuesIn(captureCases)),
                         [](const auto& info) { return caseName(std::get<0>(info.param), info.index); });

TEST_F(DesktopTargetTest, PasswordFieldYieldsNoText) {
    auto target = startWith({.field = Field::qtSecret});
    const auto context =
        FocusedTextContextReader::capture(ActiveApplicationSnapshot{target.pid(), std::nullopt, "Target"});
    EXPECT_EQ(context.windowTitle, target.title());
    EXPECT_FALSE(context.preText);
    EXPECT_FALSE(context.selectedText);
    EXPECT_FALSE(context.postText);
}

TEST_F(DesktopTargetTest, CaptureWithoutTargetReadsTheActiveField) {
    auto target = startWith({.field = Field::gtkEntry, .text = "前後", .beforeCaret = "前"});
    const auto context = FocusedTextContextReader::capture(std::nullopt);
    EXPECT_FALSE(context.appName);
    EXPECT_FALSE(context.windowTitle);  // only a target's window title is read
    EXPECT_EQ(context.preText, "前");
    EXPECT_EQ(context.postText, "後");
}

}  // namespace
}  // namespace pelora::testing
