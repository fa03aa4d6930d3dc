#include "platform/reading/JapaneseReading.h"

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace pelora::reading {
namespace {

const JapaneseTokenizer& tokenizer() {
    const JapaneseTokenizer* shared = JapaneseTokenizer::shared();
    if (shared == nullptr) {
        ADD_FAILURE() << "the Japanese tokeniser did not load (mecab-ipadic-utf8 installed?)";
        std::abort();
    }
    return *shared;
}

std::string joinedReading(std::string_view text) {
    std::string reading;
    for (const ReadingToken& token : tokenizer().tokenize(text)) reading += token.reading;
    return reading;
}

TEST(JapaneseTokenizerTest, LoadsTheUserDictionary) {
    EXPECT_TRUE(tokenizer().hasUserDictionary());
    EXPECT_EQ(JapaneseTokenizer::shared(), JapaneseTokenizer::shared());
}

TEST(JapaneseTokenizerTest, TokensCoverTheWholeTextWithContiguousUTF16Ranges) {
    const char* const texts[] = {
        "誤変換を直す",
        "a  b",
        "  先頭と末尾の空白  ",
        "\n改行\n\n段落",
        "Core MLで推論",
        "👍🏽誤変換👨‍👩‍👧",
        "ｺｱｴﾑｴﾙ　全角空白",
        "\xFF\xFE" "bad bytes",
        "x",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        const std::vector<ReadingToken> tokens = tokenizer().tokenize(text);
        ASSERT_FALSE(tokens.empty());
        std::string joined;
        std::size_t expectedOffset = 0;
        for (const ReadingToken& token : tokens) {
            EXPECT_FALSE(token.text.empty());
            EXPECT_EQ(token.utf16Offset, expectedOffset) << token.text;
            expectedOffset += token.utf16Length;
            joined += token.text;
        }
        EXPECT_EQ(joined, text);
    }
}

TEST(JapaneseTokenizerTest, CountsUTF16UnitsOfSurrogatePairsAndSkippedText) {
    const std::vector<ReadingToken> tokens = tokenizer().tokenize("a  👍誤変換");
    std::vector<std::pair<std::string, std::size_t>> ranges;
    for (const ReadingToken& token : tokens) ranges.emplace_back(token.text, token.utf16Length);
    const std::vector<std::pair<std::string, std::size_t>> expected = {
        {"a", 1}, {"  ", 2}, {"👍", 2}, {"誤変換", 3}};
    EXPECT_EQ(ranges, expected);
    EXPECT_EQ(tokens.back().utf16Offset, 5u);
    EXPECT_EQ(tokens[1].reading, "");  // skipped blanks carry no reading
    std::vector<bool> skipped;
    for (const ReadingToken& token : tokens) skipped.push_back(token.skipped);
    EXPECT_EQ(skipped, (std::vector<bool>{false, true, false, false}));
}

TEST(JapaneseTokenizerTest, EmptyTextHasNoTokens) { EXPECT_TRUE(tokenizer().tokenize("").empty()); }

// Words whose system-dictionary reading is wrong for dictation (誤 read as あやま, 誤判定 as
// ごはんじょう, ...) and that the user dictionary corrects, and a few the system gets right.
TEST(JapaneseTokenizerTest, ReadsTechnicalCompoundsAsDictatedWords) {
    struct Case {
        const char* text;
        const char* reading;
    };
    const Case cases[] = {
        {"誤変換", "ゴヘンカン"},     {"誤判定", "ゴハンテイ"},       {"誤認識", "ゴニンシキ"},
        {"誤作動", "ゴサドウ"},       {"誤検知", "ゴケンチ"},         {"誤検出", "ゴケンシュツ"},
        {"誤入力", "ゴニュウリョク"}, {"誤送信", "ゴソウシン"},       {"語位", "ゴイ"},
        {"副生", "フクセイ"},         {"改行", "カイギョウ"},         {"開業", "カイギョウ"},
        {"補完", "ホカン"},           {"保管", "ホカン"},             {"決裁", "ケッサイ"},
        {"店が開いてる", "ミセガアイテル"}, {"うまく効か", "ウマクキカ"}, {"絵を描く", "エヲカク"},
        {"ご変換が多い", "ゴヘンカンガオオイ"},
    };
    for (const Case& c : cases) EXPECT_EQ(joinedReading(c.text), c.reading) << c.text;
}

TEST(JapaneseTokenizerTest, UnknownWordsLatinAndSymbolsCarryNoReading) {
    for (const ReadingToken& token : tokenizer().tokenize("Core ML 👍 ｺｱ")) {
        EXPECT_EQ(token.reading, "") << token.text;
    }
}

TEST(JapaneseTokenizerTest, GivesTheSameTokensOnManyThreadsAtOnce) {
    const std::string text = "誤変換と誤判定を補完して、開業ではなく改行を入れる。Core MLで推論する。";
    const std::vector<ReadingToken> expected = tokenizer().tokenize(text);
    std::vector<std::vector<ReadingToken>> results(8);
    {
        std::vector<std::jthread> threads;
        for (auto& result : results) {
            threads.emplace_back([&result, &text] {
                for (int i = 0; i < 50; ++i) result = tokenizer().tokenize(text);
            });
        }
    }
    for (const auto& result : results) EXPECT_EQ(result, expected);
}

TEST(ReadingTransformsTest, ConvertBetweenKanaAndRomaji) {
    struct Case {
        std::string (*transform)(std::string_view);
        const char* input;
        const char* output;
    };
    const Case cases[] = {
        {katakanaToHiragana, "コアエムエル", "こあえむえる"},
        {katakanaToHiragana, "Core MLとカナ漢字", "Core MLとかな漢字"},
        {katakanaToHiragana, "", ""},
        {hiraganaToLatin, "こあえむえる", "koaemueru"},
        {hiraganaToLatin, "きゃっと", "kyatto"},
        {hiraganaToLatin, "つー", "tsū"},
        {hiraganaToLatin, "ぺろら漢字", "perora漢字"},
        {stripCombiningMarks, "āéô", "aeo"},
        {stripCombiningMarks, "plain", "plain"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.transform(c.input), c.output) << c.input;
}

}  // namespace
}  // namespace pelora::reading
