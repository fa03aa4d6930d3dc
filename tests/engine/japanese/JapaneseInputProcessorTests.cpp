#include "engine/japanese/JapaneseInputProcessor.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace pelora {
namespace {

using Labels = std::vector<std::string>;

JapaneseInputOptions allOff() {
    JapaneseInputOptions options;
    options.removeFillers = false;
    options.enableVoiceCommands = false;
    options.normalizeNumbers = false;
    options.normalizeAlphanumerics = false;
    options.autoPunctuate = false;
    options.spokenToWrittenPolish = false;
    options.punctuationStyle = JapanesePunctuationStyle::standard;
    options.punctuationDensity = JapanesePunctuationDensity::dense;
    return options;
}

template <typename Change>
JapaneseInputOptions onlyWith(Change change) {
    JapaneseInputOptions options = allOff();
    change(options);
    return options;
}

TEST(JapaneseInputProcessorTest, ProcessRunsTheSwitchedStepsAndLabelsThoseThatChangedTheText) {
    struct Case {
        const char* name;
        std::string input;
        JapaneseInputOptions options;
        std::string expected;
        Labels labels;
    };
    const JapaneseInputOptions defaults;
    const Case cases[] = {
        {"empty input, default options", "", defaults, "", {}},
        {"empty input, all off", "", allOff(), "", {}},
        {"all off: only the stutter repair runs", "変換が変換が", allOff(), "変換が", {"言い淀み・助詞補正"}},
        {"all off: fillers stay", "えーと、今日は晴れです", allOff(), "えーと、今日は晴れです", {}},
        {"fillers removed with their comma", "えーと、今日は晴れです",
         onlyWith([](auto& o) { o.removeFillers = true; }), "今日は晴れです", {"フィラー・言い淀み除去"}},
        {"filler at the start of a second line", "今日は晴れです\nえーと、明日は雨です",
         onlyWith([](auto& o) { o.removeFillers = true; }), "今日は晴れです\n明日は雨です", {"フィラー・言い淀み除去"}},
        {"stutter repair also under the filler label", "変換が変換が",
         onlyWith([](auto& o) { o.removeFillers = true; }), "変換が", {"フィラー・言い淀み除去"}},
        {"defaults: fillers, then a full stop", "えーと、今日は晴れです", defaults, "今日は晴れです。",
         {"フィラー・言い淀み除去", "句読点バランス整形"}},
        {"spoken command", "これでいいですかはてなマーク",
         onlyWith([](auto& o) { o.enableVoiceCommands = true; }), "これでいいですか？", {"音声コマンド変換"}},
        {"spoken to written", "問題なんですけど",
         onlyWith([](auto& o) { o.spokenToWrittenPolish = true; }), "問題なのですが", {"話し言葉→書き言葉整形"}},
        {"polish is off by default", "問題なんですけど", defaults, "問題なんですけど。", {"句読点バランス整形"}},
        {"kanji numerals", "二十三人が来た", onlyWith([](auto& o) { o.normalizeNumbers = true; }), "23人が来た",
         {"漢数字→算用数字変換"}},
        {"width", "ＡＢＣ１２３", onlyWith([](auto& o) { o.normalizeAlphanumerics = true; }), "ABC123",
         {"英数字・文字幅正規化"}},
        {"comma thinning without auto punctuation", "その、本は",
         onlyWith([](auto& o) { o.punctuationDensity = JapanesePunctuationDensity::balanced; }), "その本は",
         {"句読点間引き調整"}},
        {"dense without auto punctuation leaves punctuation alone", "その、本は", allOff(), "その、本は", {}},
        {"academic style", "今日は晴れです。明日も晴れです。",
         onlyWith([](auto& o) { o.punctuationStyle = JapanesePunctuationStyle::academic; }),
         "今日は晴れです．明日も晴れです．", {"句読点スタイル(技術・論文（．，）)"}},
        {"ascii style", "今日は、晴れ。明日も。",
         onlyWith([](auto& o) { o.punctuationStyle = JapanesePunctuationStyle::ascii; }), "今日は, 晴れ. 明日も.",
         {"句読点スタイル(半角欧文（. ,）)"}},
        {"space-only style", "今日は、晴れ。",
         onlyWith([](auto& o) { o.punctuationStyle = JapanesePunctuationStyle::spaceOnly; }), "今日は 晴れ",
         {"句読点スタイル(チャット・空白区切り)"}},
        {"a style that changes nothing adds no label", "今日は晴れ",
         onlyWith([](auto& o) { o.punctuationStyle = JapanesePunctuationStyle::academic; }), "今日は晴れ", {}},
        {"every step, labels in step order",
         "えーと、ＡＰＩの呼び出し回数は二十三回なんですけどかいぎょう来月開業します",
         [] {
             JapaneseInputOptions o;
             o.spokenToWrittenPolish = true;
             o.punctuationStyle = JapanesePunctuationStyle::academic;
             return o;
         }(),
         "APIの呼び出し回数は23回なのですが\n来月開業します．",
         {"フィラー・言い淀み除去", "音声コマンド変換", "話し言葉→書き言葉整形", "漢数字→算用数字変換",
          "英数字・文字幅正規化", "句読点バランス整形", "句読点スタイル(技術・論文（．，）)"}},
    };
    const JapaneseInputProcessor processor;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ": " + c.input);
        const auto [text, labels] = processor.process(c.input, c.options, 0);
        EXPECT_EQ(text, c.expected);
        EXPECT_EQ(labels, c.labels);
    }
}

TEST(JapaneseInputProcessorTest, PauseCountDoesNotInfluenceTheResult) {
    const JapaneseInputProcessor processor;
    const JapaneseInputOptions options;
    const std::string input = "えーと、今日は会議がありますかいぎょう明日は二十三人が来ます";
    EXPECT_EQ(processor.process(input, options, 0), processor.process(input, options, 100));
}

TEST(JapaneseInputProcessorTest, ProcessIsSafeFromManyThreadsAtOnce) {
    // Several threads reach the shared rule tables first together.
    const JapaneseInputProcessor processor;
    const JapaneseInputOptions options;
    const std::string input = "えーと、今日はですね、二十三人が来ますかいぎょうまた明日";
    const CorrectedText expected = JapaneseInputProcessor().process(input, options, 0);
    std::vector<CorrectedText> results(8);
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < results.size(); ++i) {
            threads.emplace_back([&, i] { results[i] = processor.process(input, options, 0); });
        }
    }
    for (const CorrectedText& result : results) EXPECT_EQ(result, expected);
}

TEST(JapaneseInputProcessorTest, RemoveJapaneseFillers) {
    struct Case {
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        {"えーと、今日は晴れです", "今日は晴れです"},
        {"うーん 今日は晴れ", "今日は晴れ"},
        {"なんか、いい感じです", "いい感じです"},
        {"晴れです。えーと、明日は雨です", "晴れです。明日は雨です"},
        {"今日は、あのー、晴れです", "今日は、晴れです"},
        {"明日は、えっと雨です", "明日は、雨です"},
        {"作業しながらまあ考えます", "作業しながら考えます"},
        {"それはまあ大事です", "それは大事です"},
        {"えーと今日は晴れ", "今日は晴れ"},
        {"  晴れ  ", "晴れ"},
        {"今日は\nまあ、晴れ", "今日は\n晴れ"},
        // Not fillers: part of a word or not followed by a separator.
        {"えーとうさん", "えーとうさん"},
        {"なんかいい", "なんかいい"},
        {"まあまあです", "まあまあです"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(JapaneseInputProcessor::removeJapaneseFillers(c.input), c.expected);
    }
    EXPECT_EQ(JapaneseInputProcessor::japaneseFillerPatterns().size(), 7u);
}

TEST(JapaneseInputProcessorTest, RepairThinkingPauseSlipsAndStutters) {
    struct Case {
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        {"", ""},
        {"たまにはきかに変です", "たまに明らかに変です"},
        {"これははきかに違う", "これは明らかに違う"},
        {"あきかにおかしい", "明らかにおかしい"},
        {"あきらに変です", "明らかに変です"},
        {"あきらにする", "あきらにする"},
        {"カはきかに", "カはきかに"},
        {"変換が変換が", "変換が"},
        {"認識が認識がおかしい", "認識がおかしい"},
        {"漢字が変換がミスする", "漢字の変換がミスする"},
        {"音声が認識が間違う", "音声の認識が間違う"},
        {"今日は、は会議", "今日は会議"},
        {"資料を。を確認", "資料を確認"},
        {"資料をを確認", "資料を確認"},
        {"東京へへ行く", "東京へ行く"},
        {"ははは", "ははは"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(JapaneseInputProcessor::repairThinkingPauseSlipsAndStutters(c.input), c.expected);
    }
}

TEST(JapaneseInputProcessorTest, ApplySpokenToWritten) {
    struct Case {
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        {"問題なんですけれども", "問題なのですが"},
        {"問題なんですけども", "問題なのですが"},
        {"問題なんですけど", "問題なのですが"},
        {"AIっていうのは便利", "AIというのは便利"},
        {"AIっていう技術", "AIという技術"},
        {"消しちゃった", "消してしまった"},
        {"消しちゃいました", "消してしまいました"},
        {"便利じゃないですか", "便利ではないでしょうか"},
        {"映画が見れる、外に出れる、何でも食べれる", "映画が見られる、外に出られる、何でも食べられる"},
        {"見れる見れる", "見られる見られる"},
        {"そのまま", "そのまま"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(JapaneseInputProcessor::applySpokenToWritten(c.input), c.expected);
    }
}

TEST(JapaneseInputProcessorTest, NormalizeWidthAndSpacing) {
    struct Case {
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        {"ＡＢＣ１２３", "ABC123"},
        {"ａｂｃ", "abc"},
        {"＃＄％＆＋－／＠", "#$%&+-/@"},
        {"日本 語", "日本語"},
        {"日本\u3000語", "日本語"},
        {"iPhone 15 を買った", "iPhone 15を買った"},
        {"価格は 100 円", "価格は100円"},
        {"50% の確率", "50%の確率"},
        {"カタカナ\tひらがな", "カタカナひらがな"},
        // Full-width punctuation stays; spaces between Latin words stay.
        {"本当！？", "本当！？"},
        {"Hello World", "Hello World"},
        {"ｶﾀｶﾅ", "ｶﾀｶﾅ"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(JapaneseInputProcessor::normalizeWidthAndSpacing(c.input), c.expected);
    }
}

TEST(JapaneseInputProcessorTest, RepairBrokenSentenceCoherence) {
    struct Case {
        std::string input;
        JapanesePunctuationDensity density;
        std::string expected;
    };
    const Case cases[] = {
        {"", JapanesePunctuationDensity::balanced, ""},
        {"えーと、この、本は変換が変換がおかしい", JapanesePunctuationDensity::balanced, "この本は変換がおかしい"},
        {"この、本は", JapanesePunctuationDensity::dense, "この、本は"},
        {"資料を。確認します", JapanesePunctuationDensity::balanced, "資料を確認します"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(JapaneseInputProcessor::repairBrokenSentenceCoherence(c.input, c.density), c.expected);
    }
}

}  // namespace
}  // namespace pelora
