#include "platform/text/GraphemeCount.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/text/UnicodeText.h"

namespace pelora::text {
namespace {

TEST(GraphemeCountTest, CountsAsTheBreakIteratorDoes) {
    struct Case {
        std::string text;
        std::size_t count;
    };
    const Case cases[] = {
        {"", 0},
        {"abc", 3},
        {"今日は晴れ。", 6},
        {"ＡＢＣ１２３", 6},
        {"か\u3099", 1},                    // combining voiced mark
        {"e\u0301a", 2},                     // combining acute
        {"\U0001F468\u200D\U0001F469", 1},  // emoji joined by ZWJ
        {"\U0001F1EF\U0001F1F5", 1},        // regional indicator pair
        {"\r\n", 1},
        {"a\rb", 3},
        {"\u1100\u1161", 1},                 // Hangul jamo L + V
        {"x\xff" "y", 3},                    // invalid byte counts as one character
        {"\t\n", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(graphemeCountFast(c.text), c.count);
        EXPECT_EQ(graphemeCountFast(c.text), graphemeCount(c.text));
    }
}

}  // namespace
}  // namespace pelora::text
