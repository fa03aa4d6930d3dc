#include <gtest/gtest.h>

#include <string>

#include "engine/japanese/JapaneseInputProcessor.h"

namespace pelora {
namespace {

struct Case {
    std::string input;
    std::string expected;
};

void expectVoiceCommands(const Case* begin, const Case* end) {
    for (const Case* c = begin; c != end; ++c) {
        SCOPED_TRACE(c->input);
        EXPECT_EQ(JapaneseInputProcessor::applyVoiceCommands(c->input), c->expected);
    }
}

TEST(JapaneseSpokenCommandsTest, WholeUtteranceCommands) {
    const Case cases[] = {
        {"改行。", "\n"},
        {"、かいぎょう、", "\n"},
        {"。かいぎょう。", "\n"},
        {"開業", "\n"},
        {"まる。改行", "\n"},
        {" マルカイギョウ ", "\n"},
        {"、新しい段落。", "\n\n"},
        {"だんらく", "\n\n"},
        {"改段落!", "\n\n"},
    };
    expectVoiceCommands(std::begin(cases), std::end(cases));
}

TEST(JapaneseSpokenCommandsTest, LineBreaksInsideText) {
    const Case cases[] = {
        {"今日は終わりです。かいぎょう次の話題", "今日は終わりです。\n次の話題"},
        {"今日は終わりです。会議夜次の話題", "今日は終わりです。\n次の話題"},
        {"終わりです？改行、次", "終わりです？\n次"},
        {"ここまでかいぎょう次の話題", "ここまで\n次の話題"},
        {"ここまでまるかいぎょう次", "ここまで。\n次"},
        {"ここまで、カイギョウ、次", "ここまで\n次"},
        {"来月開業", "来月\n"},
        // Ordinary words: a continuation follows, or a prefix makes a compound.
        {"来月開業します", "来月開業します"},
        {"改行コードを確認", "改行コードを確認"},
        {"開業資金を準備する", "開業資金を準備する"},
        {"未開業の店", "未開業の店"},
        {"自動改行", "自動改行"},
        {"ここで改行する", "ここで改行する"},
        // Business context: 開業 means opening.
        {"カフェ来月開業", "カフェ来月開業"},
        {"クリニック来月開業。かいぎょう次", "クリニック来月開業。\n次"},
    };
    expectVoiceCommands(std::begin(cases), std::end(cases));
}

TEST(JapaneseSpokenCommandsTest, MarksBracketsAndParagraphs) {
    const Case cases[] = {
        {"これでいいですかはてなマーク", "これでいいですか？"},
        {"本当ですかはてな", "本当ですか？"},
        {"本当ですか、クエスチョンマーク。", "本当ですか？"},
        {"はてなマークの使い方", "はてなマークの使い方"},
        {"これははてな", "これははてな"},
        {"すごいびっくりマーク", "すごい！"},
        {"すごい感嘆符", "すごい！"},
        {"びっくりマークを付ける", "びっくりマークを付ける"},
        {"かぎかっこ重要かぎかっことじ", "「重要」"},
        {"カギカッコ重要カッコトジ", "「重要」"},
        {"まるかっこ注まるかっことじ", "（注）"},
        {"丸括弧開き注丸括弧閉じ", "（注）"},
        {"かぎかっこの使い方", "かぎかっこの使い方"},
        {"東京なかぐろ大阪", "東京・大阪"},
        {"中黒の入力", "中黒の入力"},
        {"今日は終わり。新しい段落次の話題", "今日は終わり\n\n次の話題"},
        {"ここで改段落、次", "ここで改段落、次"},
        {"話は以上改段落、次", "話は以上\n\n次"},
        {"だんらくの構成", "だんらくの構成"},
    };
    expectVoiceCommands(std::begin(cases), std::end(cases));
}

TEST(JapaneseSpokenCommandsTest, FullStopsAndCommas) {
    const Case cases[] = {
        {"今日は、まる、", "今日は。"},
        {"今日は。。。", "今日は。"},
        {"今日は、、、晴れ", "今日は、晴れ"},
        {"まるまる", "まる。"},
        {"晴れですまる", "晴れです。"},
        {"晴れです まる 次", "晴れです。次"},
        {"晴れました句点", "晴れました。"},
        {"以上まる。", "以上。"},
        {"待つまる", "待つ。"},
        {"行ったまる次は", "行った。次は"},
        {"今日は てん 明日は", "今日は、明日は"},
        {"今日はてん明日は", "今日は、明日は"},
        {"寒いしてん暑いし", "寒いし、暑いし"},
        {"晴れ、。", "晴れ。"},
        {"本当。？", "本当？"},
    };
    expectVoiceCommands(std::begin(cases), std::end(cases));
}

// まる and てん glued to a kana or kanji with which they form a word are text.
TEST(JapaneseSpokenCommandsTest, CommandWordsInsideOrdinaryWordsStayText) {
    const Case cases[] = {
        {"会議が始まる。", "会議が始まる。"},
        {"予定が決まる。次", "予定が決まる。次"},
        {"ドアがしまる", "ドアがしまる"},
        {"何してんの", "何してんの"},
        {"勉強してんだ", "勉強してんだ"},
        {"ストレスがたまる。", "ストレスがたまる。"},
        {"話がつまる", "話がつまる"},
        {"みんながあつまる。", "みんながあつまる。"},
        {"ゲームにはまる", "ゲームにはまる"},
        {"それは、まるで夢のようだ", "それは、まるで夢のようだ"},
        {"角を、まるく削る", "角を、まるく削る"},
        {"ここは、まるごと", "ここは、まるごと"},
    };
    expectVoiceCommands(std::begin(cases), std::end(cases));
}

TEST(JapaneseSpokenCommandsTest, BusinessKaigyouContext) {
    struct ContextCase {
        std::string text;
        bool business;
    };
    const ContextCase cases[] = {
        {"クリニックを開業する", true},
        {"駅が新しくなる", true},
        {"開業届を出す", true},
        {"オーナーの話", true},
        {"ここで開業", false},
        {"駅", false},
        {"", false},
    };
    for (const ContextCase& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(JapaneseInputProcessor::isBusinessKaigyouContext(c.text), c.business);
    }
    const auto& keywords = JapaneseInputProcessor::businessKaigyouKeywords();
    ASSERT_EQ(keywords.size(), 41u);
    EXPECT_EQ(keywords.front(), "クリニック");
    EXPECT_EQ(keywords.back(), "経営");
}

}  // namespace
}  // namespace pelora
