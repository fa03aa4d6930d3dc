#include "platform/text/CharacterWindow.h"

#include <string>

#include <gtest/gtest.h>

namespace pelora::text {
namespace {

TEST(CharacterWindowTest, ReachesWholeCharactersAroundARange) {
    struct Case {
        std::string text;
        std::string span;  // the range is this span's first occurrence
        std::size_t before;
        std::size_t after;
        std::string window;
    };
    const Case cases[] = {
        {"一二三四五六七八九十保管十九八七六五四三二一", "保管", 8, 8, "三四五六七八九十保管十九八七六五四三"},
        {"倉庫に保管", "保管", 8, 8, "倉庫に保管"},  // clipped at both ends
        {"👍🏽👍🏽👍🏽保管👨‍👩‍👧x", "保管", 2, 1, "👍🏽👍🏽保管👨‍👩‍👧"},
        {"cafe\u0301s", "s", 1, 0, "e\u0301s"},  // a letter with its combining mark is one character
        {"abc", "b", 0, 0, "b"},
        {"", "", 3, 3, ""},
    };
    for (const Case& c : cases) {
        const std::size_t at = c.text.find(c.span);
        const TextRange window = surroundingCharacters(c.text, {at, at + c.span.size()}, c.before, c.after);
        EXPECT_EQ(c.text.substr(window.begin, window.length()), c.window) << c.text;
    }
}

TEST(CharacterWindowTest, RangesInsideACharacterAreWidenedAndClipped) {
    const std::string text = "xe\u0301y";  // x, é (2 scalars, 3 bytes), y
    const TextRange inside = surroundingCharacters(text, {2, 3}, 0, 0);
    EXPECT_EQ(text.substr(inside.begin, inside.length()), "e\u0301");
    const TextRange beyond = surroundingCharacters(text, {10, 20}, 1, 1);
    EXPECT_EQ(beyond.begin, text.size() - 1);
    EXPECT_EQ(beyond.end, text.size());
    const std::string bad = "ab\xFF\xFE" "cd";
    const TextRange broken = surroundingCharacters(bad, {4, 5}, 1, 1);
    EXPECT_LE(broken.end, bad.size());
    EXPECT_LT(broken.begin, 4u);
}

}  // namespace
}  // namespace pelora::text
