#include "engine/japanese/JapanesePunctuation.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/japanese/JapaneseInputProcessor.h"

namespace pelora {
namespace {

constexpr auto light = JapanesePunctuationDensity::light;
constexpr auto balanced = JapanesePunctuationDensity::balanced;
constexpr auto dense = JapanesePunctuationDensity::dense;

struct Case {
    std::string input;
    JapanesePunctuationDensity density;
    std::string expected;
};

TEST(JapanesePunctuationTest, ApplyAutoPunctuation) {
    const Case cases[] = {
        {"今日はいい天気です", balanced, "今日はいい天気です。"},
        {"明日は晴れますか", balanced, "明日は晴れますか？"},
        {"明日は晴れますか。", balanced, "明日は晴れますか？"},
        {"これでいいかな", light, "これでいいかな？"},
        {"本当！", balanced, "本当！"},
        {"「はい」", balanced, "「はい」"},
        {"  今日は晴れ\t", balanced, "今日は晴れ。"},
        // A line that continues on the next one gets no full stop; the last line always does.
        {"雨が降ったので\n中止です", balanced, "雨が降ったので\n中止です。"},
        {"中止です\n雨が降ったので", balanced, "中止です。\n雨が降ったので。"},
        // A line that already ends in a full stop does not end in a continuation: the mark stays.
        {"雨が降ったので。\n中止です", dense, "雨が降ったので。\n中止です。"},
        // Lines are never added or removed; a line of spaces becomes empty.
        {"   \n今日は晴れ", balanced, "\n今日は晴れ。"},
        {"\n\n", balanced, "\n\n"},
        {"", balanced, ""},
        // Commas after long connective clauses, only from the density's minimum line length.
        {"今日は雨ですが試合は中止です", balanced, "今日は雨ですが試合は中止です。"},
        {"本日は雨が降っていますので試合は明日に延期となりました", balanced,
         "本日は雨が降っていますので、試合は明日に延期となりました。"},
        {"本日は雨が降っていますので試合は明日に延期となりました", light,
         "本日は雨が降っていますので試合は明日に延期となりました。"},
        {"本日の定例会議では新しい予算案について議論しました", balanced,
         "本日の定例会議では、新しい予算案について議論しました。"},
        {"雨が降っていますが試合は予定通り行います", dense, "雨が降っていますが、試合は予定通り行います。"},
        // light: a line that still has a comma after balancing gets none from the rules.
        {"昨日から雨が降っていたので、試合は中止になりましたけれども明日は晴れる予定です", light,
         "昨日から雨が降っていたので、試合は中止になりましたけれども明日は晴れる予定です。"},
        {"昨日から雨が降っていたので、試合は中止になりましたけれども明日は晴れる予定です", balanced,
         "昨日から雨が降っていたので、試合は中止になりましたけれども、明日は晴れる予定です。"},
        // A comma that balancing removes first does not hold the rules back.
        {"昨日の会議は、長かったけれども重要な議題についてしっかりと話し合うことができました", light,
         "昨日の会議は長かったけれども、重要な議題についてしっかりと話し合うことができました。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(JapaneseInputProcessor::applyAutoPunctuation(c.input, 0, c.density), c.expected);
    }
}

TEST(JapanesePunctuationTest, PauseCountHasNoEffectOnAutoPunctuation) {
    const std::string input = "雨が降ったので\n中止です";
    EXPECT_EQ(JapaneseInputProcessor::applyAutoPunctuation(input, 0, balanced),
              JapaneseInputProcessor::applyAutoPunctuation(input, 7, balanced));
}

TEST(JapanesePunctuationTest, BalancePunctuationRhythm) {
    const Case cases[] = {
        {"", balanced, ""},
        {"今日は晴れ、", balanced, "今日は晴れ"},
        {"今日は晴れ、", light, "今日は晴れ"},
        {"今日は、。", balanced, "今日は。"},
        {"この、本は", light, "この本は"},
        {"その、本は", balanced, "その本は"},
        {"あの、本は", dense, "あの、本は"},
        {"どの、本", dense, "どの、本"},
        {"、、", balanced, "、、"},
        {"また、明日は雨が降るでしょう", balanced, "また、明日は雨が降るでしょう"},
        {"また、明日は雨が降るでしょう", light, "また明日は雨が降るでしょう"},
        {"昨日から雨が降っていたので、試合は中止になりました", balanced, "昨日から雨が降っていたので、試合は中止になりました"},
        {"昨日から雨が降っていたので、試合は中止になりました", light, "昨日から雨が降っていたので、試合は中止になりました"},
        {"雨が降ったので、試合は中止になりました", balanced, "雨が降ったので試合は中止になりました"},
        {"今日は、晴れ。明日は、雨！", balanced, "今日は晴れ。明日は雨！"},
        {"この、本\nその、本", balanced, "この本\nその本"},
        // Full stops that split a phrase.
        {"資料を。確認します", dense, "資料を確認します"},
        {"良いと。思います", dense, "良いと思います"},
        {"晴れたら。いいな", dense, "晴れたらいいな"},
        {"見たことが。ある", dense, "見たことがある"},
        {"知らない。場合", dense, "知らない場合"},
        {"そんな。ことはない", dense, "そんなことはない"},
        {"雨が降ったので。試合は中止", dense, "雨が降ったので、試合は中止"},
        {"雨が降ったので。試合は中止", balanced, "雨が降ったので試合は中止"},
        {"終わりです。次です", dense, "終わりです。次です"},
        {"行きました。場合", dense, "行きました。場合"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(JapaneseInputProcessor::balancePunctuationRhythm(c.input, c.density), c.expected);
    }
}

TEST(JapanesePunctuationTest, ShouldKeepComma) {
    struct KeepCase {
        const char* rule;
        std::string before;
        std::string piece;
        std::string after;
        JapanesePunctuationDensity density;
        bool first;
        bool keep;
    };
    const std::string longAfter = "全員に感謝を伝えていました";  // 13 characters
    const KeepCase cases[] = {
        {"after の", "私の", "私の", longAfter, balanced, true, false},
        {"after ものの", "雨が降っていたものの", "雨が降っていたものの", longAfter, balanced, true, true},
        {"after ような", "説明のような", "説明のような", longAfter, balanced, false, false},
        {"after …ところで", "そういうところで", "そういうところで", longAfter, balanced, true, false},
        {"ところで alone is an opener", "ところで", "ところで", longAfter, balanced, true, true},
        {"というのも, short after", "結論というのも", "結論というのも", longAfter, balanced, false, false},
        {"short after, balanced", "雨が降っていたので", "雨が降っていたので", "中止です", balanced, false, false},
        {"after of 9, light", "雨が降っていたので", "雨が降っていたので", "試合は中止でした", light, false, false},
        {"opener, balanced", "また", "また", "明日は雨が降るでしょう", balanced, true, true},
        {"opener, light, 11 after", "また", "また", "明日は雨が降るでしょう", light, true, false},
        {"opener, light, 14 after", "また", "また", "明日は雨が降るでしょうかねえ", light, true, true},
        {"opener not first", "雨です。また", "また", "明日は雨が降るでしょう", balanced, false, false},
        {"short before, balanced", "雨が降ったので", "雨が降ったので", longAfter, balanced, true, false},
        {"connective", "昨日から雨が降っていたので", "昨日から雨が降っていたので", longAfter, light, true, true},
        {"short piece ending in が", "会議の中でも特に部長が", "部長が", longAfter, balanced, false, false},
        {"no short subject", "今日はとても良い天気だった", "今日はとても良い天気だった", longAfter, balanced, true, false},
        {"long short-subject clause, balanced", "昨日の長い会議の最後の場面では部長が",
         "昨日の長い会議の最後の場面では部長が", longAfter, balanced, true, true},
        {"long short-subject clause, light", "昨日の長い会議の最後の場面では部長が",
         "昨日の長い会議の最後の場面では部長が", longAfter, light, true, true},
        {"short-subject clause under 16", "昨日の会議では部長が", "昨日の会議では部長が", longAfter, balanced, true,
         false},
        {"を, balanced, long enough", "来週の大事な定例会議の冒頭部分では計画書を",
         "来週の大事な定例会議の冒頭部分では計画書を", "全員に向けて丁寧に説明します", balanced, true, true},
        {"を, light", "来週の大事な定例会議の冒頭部分では計画書を", "来週の大事な定例会議の冒頭部分では計画書を",
         "全員に向けて丁寧に説明します", light, true, false},
        {"を, balanced, short after", "来週の大事な定例会議の冒頭部分では計画書を",
         "来週の大事な定例会議の冒頭部分では計画書を", "全員に丁寧に説明します", balanced, true, false},
    };
    for (const KeepCase& c : cases) {
        SCOPED_TRACE(std::string(c.rule) + ": " + c.before + " | " + c.after);
        EXPECT_EQ(japanese_punctuation::shouldKeepComma(c.before, c.piece, c.after, c.density, c.first), c.keep);
    }
}

TEST(JapanesePunctuationTest, RebalanceSentenceCommas) {
    const Case cases[] = {
        {"、、", balanced, "、、"},
        {"", balanced, ""},
        {" 今日は 、", balanced, "今日は"},
        {"今日は、晴れ", balanced, "今日は晴れ"},
        // Only the first of two connective commas is far enough from the end to stay.
        {"昨日から雨が降っていたので、試合は中止になりましたが、明日は", balanced,
         "昨日から雨が降っていたので、試合は中止になりましたが明日は"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(japanese_punctuation::rebalanceSentenceCommas(c.input, c.density), c.expected);
    }
}

std::string repeated(std::string_view s, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += s;
    return out;
}

// Long dictations are one line of thousands of characters: every comma is still weighed
// on the whole sentence, and the result is what the rules give for each comma.
TEST(JapanesePunctuationTest, LongLinesAreThinnedCommaByComma) {
    const std::string clause = "昨日から雨が降っていたので";  // connective, kept when enough follows
    const std::string rest = "試合は中止になりました";        // no connective, no short subject
    const std::string shortSubject = "昨日の長い会議の最後の場面では部長が";
    const std::string longRest = "全員に感謝を伝えていました";  // 13 characters
    const Case cases[] = {
        {repeated("今日は、", 5000), balanced, repeated("今日は", 5000)},
        {repeated("今日は、晴れ。", 2000), light, repeated("今日は晴れ。", 2000)},
        {repeated(clause + "、" + rest + "、", 400), balanced,
         clause + "、" + repeated(rest + clause + "、", 399) + rest},
        {repeated(shortSubject + "、" + longRest + "。", 500), balanced,
         repeated(shortSubject + "、" + longRest + "。", 500)},
        {repeated(shortSubject + "、", 1000), light, repeated(shortSubject + "、", 999) + shortSubject},
        {repeated("今日は、", 5000), dense, repeated("今日は、", 5000)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input.substr(0, 60));
        EXPECT_EQ(JapaneseInputProcessor::balancePunctuationRhythm(c.input, c.density), c.expected);
    }
}

TEST(JapanesePunctuationTest, ApplyPunctuationStyle) {
    struct StyleCase {
        std::string input;
        JapanesePunctuationStyle style;
        std::string expected;
    };
    const StyleCase cases[] = {
        {"今日は、晴れ。", JapanesePunctuationStyle::standard, "今日は、晴れ。"},
        {"今日は、晴れ。明日も。", JapanesePunctuationStyle::academic, "今日は，晴れ．明日も．"},
        {"今日は、晴れ。明日も。", JapanesePunctuationStyle::ascii, "今日は, 晴れ. 明日も."},
        {"今日は、晴れ。", JapanesePunctuationStyle::spaceOnly, "今日は 晴れ"},
        {"本当？「はい」！\n次。", JapanesePunctuationStyle::ascii, "本当？「はい」！\n次."},
        {"、今日", JapanesePunctuationStyle::spaceOnly, "今日"},
    };
    for (const StyleCase& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(JapaneseInputProcessor::applyPunctuationStyle(c.input, c.style), c.expected);
    }
}

}  // namespace
}  // namespace pelora
