#include "platform/speech/TokenRuns.h"

#include <gtest/gtest.h>

namespace pelora::speech {
namespace {

// 一 is E4 B8 80; 😀 is F0 9F 98 80.
constexpr const char* kReplacement = "\xEF\xBF\xBD";

TEST(ValidUTF8, ReplacesEachInvalidSubpartOnce) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string expected;
    };
    const std::string r = kReplacement;
    const Case cases[] = {
        {"Japanese and ASCII unchanged", "日本語 text。", "日本語 text。"},
        {"four-byte character unchanged", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {"stray continuation byte", "a\x80" "b", "a" + r + "b"},
        {"character cut off at the end", "a\xE4\xB8", "a" + r},
        {"lead byte followed by ASCII", "\xE4" "a", r + "a"},
        {"overlong encoding", "\xC0\x80", r + r},
        {"surrogate", "\xED\xA0\x80", r + r + r},
        {"empty", "", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(validUTF8(c.bytes), c.expected) << c.name;
}

TEST(RunsFromTokens, JoinsTokensUntilTheyEndOnACharacterBoundary) {
    struct Case {
        const char* name;
        std::vector<std::string> tokens;
        std::vector<std::string> texts;
    };
    const std::string r = kReplacement;
    const Case cases[] = {
        {"whole tokens stay apart", {{" the"}, {"日本"}, {"。"}}, {" the", "日本", "。"}},
        {"a character split in two", {{"\xE4"}, {"\xB8\x80"}, {"a"}}, {"一", "a"}},
        {"a character split in three", {{"\xE4"}, {"\xB8"}, {"\x80"}}, {"一"}},
        {"a four-byte character split after its lead byte", {{"\xF0"}, {"\x9F\x98\x80"}}, {"\xF0\x9F\x98\x80"}},
        {"split character then more text in the same token", {{"\xE4\xB8"}, {"\x80です"}}, {"一です"}},
        {"lead byte never completed at the end", {{"あ"}, {"\xE4\xB8"}}, {"あ", r}},
        {"lead byte followed by ASCII", {{"\xE4"}, {"a"}}, {r + "a"}},
        {"stray continuation bytes alone", {{"\x80\x80"}}, {r + r}},
        {"empty tokens give nothing", {{""}, {"x"}, {""}}, {"x"}},
        {"white space is kept as its own run", {{" "}, {"\n"}}, {" ", "\n"}},
    };
    for (const Case& c : cases) {
        std::vector<RecognizedToken> tokens;
        for (const std::string& text : c.tokens) tokens.push_back({text, 1.0f, std::nullopt});
        std::vector<std::string> texts;
        for (const TranscriptionRun& run : runsFromTokens(tokens)) texts.push_back(run.text);
        EXPECT_EQ(texts, c.texts) << c.name;
    }
}

TEST(RunsFromTokens, JoinedRunMultipliesProbabilitiesAndSpansTheTimedTokens) {
    const std::vector<RecognizedToken> tokens = {
        {"\xE4", 0.5f, AudioTimeRange{1.0, 0.2}},
        {"\xB8", 0.5f, std::nullopt},
        {"\x80", 0.8f, AudioTimeRange{1.5, 0.25}},
        {"x", 0.9f, std::nullopt},
    };
    const std::vector<TranscriptionRun> runs = runsFromTokens(tokens);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].text, "一");
    EXPECT_FLOAT_EQ(*runs[0].confidence, 0.2f);
    ASSERT_TRUE(runs[0].audioTimeRange);
    EXPECT_DOUBLE_EQ(runs[0].audioTimeRange->start, 1.0);
    EXPECT_DOUBLE_EQ(runs[0].audioTimeRange->duration, 0.75);
    EXPECT_FLOAT_EQ(*runs[1].confidence, 0.9f);
    EXPECT_FALSE(runs[1].audioTimeRange) << "an untimed token gives an untimed run";
}

}  // namespace
}  // namespace pelora::speech
