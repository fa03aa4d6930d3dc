#include "platform/text/WordBreaks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text/ScalarProperties.h"

namespace pelora::text {
namespace {

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> out;
    for (const TextRange& range : wordRanges(text, "ja")) out.push_back(text.substr(range.begin, range.length()));
    return out;
}

TEST(WordBreaksTest, WordsWithoutSpacesAndPunctuation) {
    struct Case {
        std::string text;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"", {}},
        {"。、「」 ", {}},
        {"iPhone 15を買った。", {"iPhone", "15", "を", "買", "っ", "た"}},
        {"「重要」", {"重要"}},
        {"東京", {"東京"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(words(c.text), c.words);
    }
}

TEST(WordBreaksTest, RangesAreByteOffsetsInOrder) {
    const std::string text = "東京 と 大阪";
    const std::vector<TextRange> ranges = wordRanges(text, "ja");
    ASSERT_EQ(ranges.size(), 3u);
    EXPECT_EQ(ranges[0], (TextRange{0, 6}));
    EXPECT_EQ(ranges[1], (TextRange{7, 10}));
    EXPECT_EQ(ranges[2], (TextRange{11, 17}));
}

TEST(WordBreaksTest, RangesIndexTheBytesOfTextThatIsNotValidUTF8) {
    const std::string texts[] = {"今日は\xFF\xFEです", "\xED\xA0\x80まる", "\xC0\xAF二十三人", "\x8C三三",
                                 "\xFF\xFF\xFFあい三円です"};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        std::size_t previousEnd = 0;
        for (const TextRange& range : wordRanges(text, "ja")) {
            EXPECT_LE(previousEnd, range.begin);
            EXPECT_LT(range.begin, range.end);
            ASSERT_LE(range.end, text.size());
            previousEnd = range.end;
        }
        // The last word ends where the text does: no range was shifted by the repair.
        EXPECT_EQ(previousEnd, text.size());
    }
}

TEST(ScalarPropertiesTest, DecimalNumbersAndAlphanumerics) {
    struct Case {
        char32_t c;
        bool decimal;
        bool alphanumeric;
    };
    const Case cases[] = {
        {U'7', true, true},       {U'７', true, true},  {U'٣', true, true},  {U'五', false, true},
        {U'Ⅳ', false, true},      {U'a', false, true},  {U'あ', false, true}, {U'\u3099', false, true},
        {U'。', false, false},    {U' ', false, false}, {U'%', false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<unsigned>(c.c));
        EXPECT_EQ(isDecimalNumber(c.c), c.decimal);
        EXPECT_EQ(isLetterMarkOrNumber(c.c), c.alphanumeric);
    }
}

}  // namespace
}  // namespace pelora::text
