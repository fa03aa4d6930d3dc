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

TEST(GraphemeCountTest, CountsUpToALimit) {
    const std::string texts[] = {
        "", "abc", "今日は晴れ。", "か\u3099き\u3099く\u3099", "e\u0301a\r\nb",
        "\U0001F468\u200D\U0001F469\U0001F1EF\U0001F1F5x", "x\xff" "y", "日本\u3099\u3099\u3099語",
    };
    for (const std::string& text : texts) {
        for (std::size_t limit = 0; limit <= 8; ++limit) {
            SCOPED_TRACE(text + " up to " + std::to_string(limit));
            EXPECT_EQ(graphemeCountUpTo(text, limit), std::min(graphemeCount(text), limit));
        }
    }
    // Stops at the limit: a long text costs no more than its first characters.
    std::string longText;
    for (int i = 0; i < 100000; ++i) longText += "が\u3099";
    EXPECT_EQ(graphemeCountUpTo(longText, 21), 21u);
}

}  // namespace
}  // namespace pelora::text
