#include "engine/recognition/JapaneseTimelineSegmenter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "engine/recognition/JapaneseTimelineSegmentationStage.h"

namespace pelora {
namespace {

namespace seg = JapaneseTimelineSegmenter;
using Phrases = std::vector<std::string>;

TranscribedWord run(std::string text, double start, double end, float confidence = 0.9f) {
    return TranscribedWord(std::move(text), std::nullopt, start, end, confidence, "JA-ANE");
}

struct Span {
    double start;
    double end;
};

void expectSpans(const std::vector<TranscribedWord>& words, const std::vector<Span>& expected) {
    ASSERT_EQ(words.size(), expected.size());
    for (std::size_t i = 0; i < words.size(); ++i) {
        SCOPED_TRACE("phrase " + std::to_string(i) + ": " + words[i].text);
        EXPECT_NEAR(words[i].start, expected[i].start, 1e-9);
        EXPECT_NEAR(words[i].end, expected[i].end, 1e-9);
    }
}

TEST(JapaneseTimelineSegmenterTest, TokenizeBunsetsu) {
    struct Case {
        const char* rule;
        std::string input;
        Phrases expected;
    };
    const Case cases[] = {
        {"blank text", " \n\r\n\t ", {}},
        {"empty", "", {}},
        {"a particle joins the word before", "資料を確認", {"資料を", "確認"}},
        {"digits and a counter join", "3人", {"3人"}},
        {"digits and a counter, then a particle", "23人が来た", {"23人が", "来た"}},
        {"two short kanji words join, also across a space", "東京 大阪", {"東京大阪"}},
        {"katakana words shorter than 9 together join", "アップル ストア", {"アップルストア"}},
        {"katakana words of 9 or more stay apart", "プロジェクト マネージャー", {"プロジェクト", "マネージャー"}},
        {"nothing joins after a comma", "今日は、東京", {"今日は、", "東京"}},
        {"nothing joins after a full stop", "今日は。東京", {"今日は。", "東京"}},
        {"punctuation ends the phrase before it", "あ。い。う。え", {"あ。", "い。", "う。", "え"}},
        {"an opening bracket starts the next phrase, a closing one ends the previous",
         "今日は「重要」です",
         {"今日は", "「重要」です"}},
        {"a closing bracket stays with its phrase", "「はい」と言った", {"「はい」と", "言った"}},
        {"CR LF and outer white space", "\r\n 東京\r\n", {"東京"}},
        {"Latin text", "ABC", {"ABC"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.rule) + ": " + c.input);
        EXPECT_EQ(seg::tokenizeBunsetsu(c.input), c.expected);
    }
}

TEST(JapaneseTimelineSegmenterTest, ShouldJoinScriptRun) {
    struct Case {
        std::string a;
        std::string b;
        bool join;
    };
    const Case cases[] = {
        {"東京", "大阪", true},  {"東京都", "大阪", false}, {"東京", "大阪府", false}, {"", "大阪", false},
        {"東京", "", false},     {"アップル", "ストア", true}, {"アップル", "ストアー", true},
        {"アップルズ", "ストアー", false},                  {"東京", "ストア", false},  {"ABC", "DEF", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.a + " + " + c.b);
        EXPECT_EQ(seg::shouldJoinScriptRun(c.a, c.b), c.join);
    }
}

TEST(JapaneseTimelineSegmenterTest, EstimatedSpokenWeightAndBoundaries) {
    struct Case {
        std::string phrase;
        double weight;
        bool boundary;
    };
    const Case cases[] = {
        {"。」", 0.5, true},
        {"", 0.5, false},
        {"東京", 3.2, false},
        {"です。", 2.0, true},
        {"きょう", 2.25, false},  // small ょ weighs 0.25
        {"23", 2.6, false},
        {"ＡＩ", 1.1, false},
        {"a", 0.6, false},       // at least 0.6
        {"「東京」、", 3.2, true},
        {"東京」 ", 3.2, false},
        {"本当？」", 3.2, true},
        {"+", 0.6, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.phrase);
        EXPECT_NEAR(seg::estimatedSpokenWeight(c.phrase), c.weight, 1e-9);
        EXPECT_EQ(seg::endsWithBoundaryPunctuation(c.phrase), c.boundary);
    }
}

TEST(JapaneseTimelineSegmenterTest, HasDistinctRawTiming) {
    EXPECT_FALSE(seg::hasDistinctRawTiming({}));
    EXPECT_FALSE(seg::hasDistinctRawTiming({run("a", 1, 2)}));
    EXPECT_FALSE(seg::hasDistinctRawTiming({run("a", 1.001, 2), run("b", 1.004, 3)}));
    EXPECT_TRUE(seg::hasDistinctRawTiming({run("a", 1.001, 2), run("b", 1.006, 3)}));
    EXPECT_TRUE(seg::hasDistinctRawTiming({run("a", 0, 1), run("b", 0, 1), run("c", 2, 3)}));
}

TEST(JapaneseTimelineSegmenterTest, InterpolatedTime) {
    const std::vector<seg::TimelineAnchor> anchors{{0, 1, 0.5f}, {0.5, 2, 0.7f}, {0.5, 3, 0.8f}, {1, 5, 0.9f}};
    struct Case {
        double fraction;
        double time;
        float confidence;
    };
    const Case cases[] = {
        {0, 1, 0.7f},      {0.25, 1.5, 0.7f}, {0.5, 2, 0.7f}, {0.75, 4, 0.9f},
        {1, 5, 0.9f},      {1.5, 5, 0.9f},    {-1, 1, 0.7f},  {std::nan(""), 1, 0.7f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fraction);
        const auto [time, confidence] = seg::interpolatedTime(c.fraction, anchors, 0, 10);
        EXPECT_NEAR(time, c.time, 1e-9);
        EXPECT_FLOAT_EQ(confidence, c.confidence);
    }
    const auto [time, confidence] = seg::interpolatedTime(0.25, {}, 2, 8);
    EXPECT_NEAR(time, 4, 1e-9);
    EXPECT_FLOAT_EQ(confidence, 1.0f);
}

TEST(JapaneseTimelineSegmenterTest, BlankTextGivesNoPhrases) {
    EXPECT_TRUE(seg::segment(" \n \n", {run("今日", 0, 1)}, {}, 5, "JA-ANE").empty());
}

TEST(JapaneseTimelineSegmenterTest, WithoutRunsPhrasesSpreadOverTheWholeAudio) {
    // Four phrases of weight 1; three full stops score 1.6 each, scaled to 0.4 (30 % of 4):
    // the grand total is 5.2 over 10 seconds.
    const auto words = seg::segment("あ。い。う。え", {}, {}, 10, "EG2+JA");
    expectSpans(words, {{0, 1.92}, {2.69, 4.62}, {5.38, 7.31}, {8.08, 10}});
    for (const TranscribedWord& w : words) {
        EXPECT_EQ(w.text, w.rawText);
        EXPECT_EQ(w.source, "EG2+JA");
        EXPECT_FLOAT_EQ(w.confidence, 1.0f);
    }
    EXPECT_EQ(words[0].text, "あ。");
    EXPECT_EQ(words[3].text, "え");
}

TEST(JapaneseTimelineSegmenterTest, RunsOfOneStartTimeCarryNoTiming) {
    // Speech from 1.001 to 3.0 + 0.15; the map is linear with the runs' mean confidence.
    const auto words = seg::segment("東京。大阪", {run("東京", 1.001, 2.0, 0.8f), run("大阪", 1.004, 3.0, 0.6f)}, {},
                                    5, "JA-ANE");
    // Weights 3.2 and 3.2, score 1.6 (under 30 %): grand total 8.0.
    expectSpans(words, {{1.0, 1.86}, {2.29, 3.15}});
    for (const TranscribedWord& w : words) EXPECT_FLOAT_EQ(w.confidence, 0.7f);
}

TEST(JapaneseTimelineSegmenterTest, RunTimingAnchorsThePhrases) {
    // Two runs of weight 3.2 each: anchors (0, 0.5), (0.5, 1.5), (1, 4.0).
    const auto words = seg::segment("東京。大阪", {run("東京", 0.5, 1.5, 0.8f), run("大阪", 3.0, 4.0, 0.6f)}, {},
                                    10, "JA-ANE");
    // Phrase fractions: 0 to 0.4, then 0.6 to 1 (the full stop's gap is 0.2 of the weight).
    expectSpans(words, {{0.5, 1.3}, {2.0, 4.15}});
    EXPECT_FLOAT_EQ(words[0].confidence, 0.8f);
    EXPECT_FLOAT_EQ(words[1].confidence, 0.6f);
}

TEST(JapaneseTimelineSegmenterTest, SpeechEndFollowsTheLastRunWithinTheAudio) {
    struct Case {
        double totalDuration;
        double lastEnd;
    };
    const Case cases[] = {{5.1, 5.1}, {6.0, 5.15}, {4.0, 5.0}, {std::nan(""), 5.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.totalDuration);
        const auto words = seg::segment("テスト", {run("テ", 0, 2.0), run("スト", 2.5, 5.0)}, {}, c.totalDuration, "JA-ANE");
        ASSERT_EQ(words.size(), 1u);
        EXPECT_NEAR(words[0].start, 0, 1e-9);
        EXPECT_NEAR(words[0].end, c.lastEnd, 1e-9);
    }
}

TEST(JapaneseTimelineSegmenterTest, UnusableRunsAreIgnored) {
    const double nan = std::nan("");
    const auto words = seg::segment("東京。大阪",
                                    {run("", 0, 9), run("東京", -1, 2), run("東京", 3, 2), run("東京", nan, 2),
                                     run("東京", 1, std::numeric_limits<double>::infinity())},
                                    {}, 10, "JA-ANE");
    // No usable run: speech spans the whole audio.
    ASSERT_EQ(words.size(), 2u);
    EXPECT_NEAR(words[0].start, 0, 1e-9);
    EXPECT_NEAR(words[1].end, 10, 1e-9);
}

TEST(JapaneseTimelineSegmenterTest, PhraseEndsSnapToPauses) {
    // Without pauses the first phrases end at 1.92 and 4.62 (see above); the window is 0.65 s.
    struct Case {
        const char* name;
        std::vector<double> pauses;
        std::vector<Span> expected;
    };
    const Case cases[] = {
        {"nearest pause in the window", {2.5, 1.7}, {{0, 1.7}, {2.69, 4.62}, {5.38, 7.31}, {8.08, 10}}},
        {"two pauses serve two phrases", {2.2, 4.0}, {{0, 2.2}, {2.69, 4.0}, {5.38, 7.31}, {8.08, 10}}},
        {"a pause outside the window is ignored", {3.0}, {{0, 1.92}, {2.69, 4.62}, {5.38, 7.31}, {8.08, 10}}},
        {"pauses too close to the speech edges are ignored", {0.05, 9.95}, {{0, 1.92}, {2.69, 4.62}, {5.38, 7.31}, {8.08, 10}}},
        {"a pause just after the estimated end", {2.0}, {{0, 2.0}, {2.69, 4.62}, {5.38, 7.31}, {8.08, 10}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expectSpans(seg::segment("あ。い。う。え", {}, c.pauses, 10, "EG2+JA"), c.expected);
    }
    // Phrases without a sentence end or comma are never snapped.
    const auto plain = seg::segment("今日は晴れ", {}, {}, 10, "EG2+JA");
    ASSERT_EQ(plain.size(), 2u);
    const auto withPause = seg::segment("今日は晴れ", {}, {plain[0].end - 0.1}, 10, "EG2+JA");
    ASSERT_EQ(withPause.size(), 2u);
    EXPECT_NEAR(withPause[0].end, plain[0].end, 1e-9);
}

TEST(JapaneseTimelineSegmenterTest, PhrasesNeverOverlapAndLastReachesSpeechEnd) {
    struct Case {
        std::string text;
        std::vector<TranscribedWord> runs;
        std::vector<double> pauses;
        double total;
        double speechEnd;
    };
    const Case cases[] = {
        {"今日は東京で会議がありました。明日は大阪に行きます、そして帰ります。", {}, {}, 3, 3},
        {"今日は東京で会議がありました。明日は大阪に行きます。",
         {run("今日は東京で", 0.2, 0.9), run("会議がありました", 0.9, 2.1), run("明日は大阪に行きます", 2.6, 4.0)},
         {1.0, 2.3, 2.35},
         4.5,
         4.15},
        // Seven phrases of 0.28 s each outlast the audio.
        {"あ、い、う、え、お、か、き", {run("あ", 0.1, 0.1), run("い", 0.1, 0.12)}, {}, 0.3, 1.96},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto words = seg::segment(c.text, c.runs, c.pauses, c.total, "JA-ANE");
        ASSERT_FALSE(words.empty());
        for (std::size_t i = 0; i < words.size(); ++i) {
            EXPECT_GE(words[i].end - words[i].start, 0.04 - 1e-9) << words[i].text;
            if (i > 0) {
                EXPECT_GE(words[i].start, words[i - 1].end - 1e-9) << words[i].text;
            }
        }
        EXPECT_NEAR(words.back().end, c.speechEnd, 1e-9);
    }
}

TEST(JapaneseTimelineSegmenterTest, DetectPauseBoundaries) {
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        std::vector<TranscribedWord> words;
        std::vector<double> explicitPauses;
        std::vector<double> expected;
    };
    const Case cases[] = {
        {"single word: only valid explicit pauses, sorted", {run("今日", 0, 1)}, {3.0, 0, -1, nan, inf, 1.5}, {1.5, 3.0}},
        {"no words", {}, {}, {}},
        {"a gap of at least 0.08 s", {run("今日", 0, 1.004), run("晴れ", 1.1, 2)}, {}, {1.0}},
        {"a short gap without punctuation", {run("今日", 0, 1), run("晴れ", 1.05, 2)}, {}, {}},
        {"a sentence end", {run("今日。", 0, 1.234), run("晴れ", 1.234, 2)}, {}, {1.23}},
        {"a comma behind a closing bracket", {run("「今日」、」", 0, 1), run("晴れ", 1, 2)}, {}, {1.0}},
        {"candidates 0.1 s apart keep the first", {run("あ、", 0, 1.0), run("い、", 1.0, 1.1), run("う", 1.1, 2)}, {}, {1.0}},
        {"near an explicit pause", {run("あ、", 0, 1.0), run("い", 1.0, 2)}, {1.1}, {1.1}},
        {"far from an explicit pause", {run("あ、", 0, 1.0), run("い", 1.0, 2)}, {1.2}, {1.0, 1.2}},
        {"the last word marks nothing", {run("あ", 0, 1.0), run("い。", 1.0, 2)}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(seg::detectPauseBoundaries(c.words, c.explicitPauses), c.expected);
    }
}

TEST(JapaneseTimelineSegmenterTest, StageForwardsToTheSegmenter) {
    const JapaneseTimelineSegmentationStage stage;
    const std::vector<TranscribedWord> runs{run("東京", 0.5, 1.5), run("大阪", 3.0, 4.0)};
    EXPECT_EQ(stage.segment("東京。大阪", runs, {}, 10, "JA-ANE"), seg::segment("東京。大阪", runs, {}, 10, "JA-ANE"));
    EXPECT_EQ(stage.detectPauseBoundaries(runs, {0.2}), (std::vector<double>{0.2, 1.5}));
}

}  // namespace
}  // namespace pelora
