#include "engine/japanese/JapaneseEmbeddingReranker.h"

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/recognition/DefaultTranscriptionStages.h"

namespace pelora {
namespace {

using Strings = std::vector<std::string>;

enum class Vocabulary { builtIn, none, coreMLDisabled };

std::vector<CustomVocabularyEntry> vocabulary(Vocabulary which) {
    std::vector<CustomVocabularyEntry> entries;
    if (which == Vocabulary::none) return entries;
    entries = JapaneseEmbeddingReranker::defaultVocabulary();
    if (which == Vocabulary::coreMLDisabled) {
        for (auto& entry : entries) {
            if (entry.surface == "Core ML") entry.enabled = false;
        }
    }
    return entries;
}

std::vector<TranscribedWord> eg2Words(const Strings& rawTexts) {
    std::vector<TranscribedWord> words;
    double start = 0;
    for (const std::string& raw : rawTexts) {
        words.emplace_back(raw, raw, start, start + 0.4, 0.95f, "EG2");
        start += 0.5;
    }
    return words;
}

std::optional<FocusedTextContext> focused(const char* preText) {
    if (preText == nullptr) return std::nullopt;
    FocusedTextContext context;
    context.appName = "Editor";
    context.preText = preText;
    return context;
}

TEST(JapaneseEmbeddingRerankerTest, RunsTheSevenStagesInOrder) {
    struct Case {
        const char* name;
        std::string text;
        Vocabulary vocabulary;
        Strings eg2;
        const char* focusedPreText;
        std::string output;
        Strings annotations;
    };
    const Case cases[] = {
        {"empty text", "", Vocabulary::builtIn, {"github"}, "カーソル", "", {}},
        {"vocabulary alias", "コアエムエルで推論", Vocabulary::builtIn, {}, nullptr, "Core MLで推論",
         {"語彙辞書補正: コアエムエル → Core ML"}},
        // With the surface already present the alias stays for stage 1; the sound-alike stage
        // then matches it exactly.
        {"surface already present", "Core MLとコアエムエル", Vocabulary::builtIn, {}, nullptr,
         "Core MLとCore ML", {"音韻距離補正(辞書音韻補正): コアエムエル → Core ML"}},
        {"disabled entry", "コアエムエルで推論", Vocabulary::coreMLDisabled, {}, nullptr, "コアエムエルで推論", {}},
        {"ASCII alias standing alone", "ane で推論", Vocabulary::builtIn, {}, nullptr,
         "Apple Neural Engine で推論", {"語彙辞書補正: ANE → Apple Neural Engine"}},
        {"ASCII alias inside a word", "PLANE で推論", Vocabulary::builtIn, {}, nullptr, "PLANE で推論", {}},
        {"katakana alias glued to katakana", "ミルカードで払う", Vocabulary::builtIn, {}, nullptr, "ミルカードで払う", {}},
        {"mixed alias keeps Latin boundaries", "Swift UIKitで作る", Vocabulary::builtIn, {}, nullptr,
         "Swift UIKitで作る", {}},
        {"ご変換 always", "ご変換が多い", Vocabulary::none, {}, nullptr, "誤変換が多い",
         {"同音異義語補正: ご変換 → 誤変換"}},
        {"ご認識 needs context", "ご認識の通りです", Vocabulary::none, {}, nullptr, "ご認識の通りです", {}},
        {"ご認識 with context", "ご認識が多い", Vocabulary::none, {}, "音声認識のテスト", "誤認識が多い",
         {"同音異義語補正: ご認識 → 誤認識"}},
        {"rules see earlier rules' output", "保管が変換", Vocabulary::none, {}, nullptr, "補完の変換",
         {"同音異義語・助詞補正: 保管が変換 → 補完の変換"}},
        {"protected 保管 in a rule", "倉庫に保管する", Vocabulary::none, {}, "音声入力で入力したメモ", "倉庫に保管する", {}},
        {"unprotected 保管", "文章を保管する", Vocabulary::none, {}, nullptr, "文章を補完する",
         {"同音異義語補正: 文章を保管 → 文章を補完"}},
        {"only the unprotected 保管", "入力を保管して、あとでまとめて倉庫に保管して", Vocabulary::none, {}, nullptr,
         "入力を補完して、あとでまとめて倉庫に保管して", {"同音異義語補正: 保管して → 補完して"}},
        {"開業 with editing context", "ここで開業する", Vocabulary::none, {}, "カーソルの位置", "ここで改行する",
         {"同音異義語補正: 開業 → 改行"}},
        {"開業 without context", "ここで開業する", Vocabulary::none, {}, nullptr, "ここで開業する", {}},
        {"開業した is no evidence", "パン屋を開業した", Vocabulary::none, {}, nullptr, "パン屋を開業した", {}},
        {"開業 in a business", "クリニックを開業する", Vocabulary::none, {}, "カーソルの位置", "クリニックを開業する", {}},
        {"開業コード is evidence", "開業コードを入れる", Vocabulary::none, {}, nullptr, "改行コードを入れる",
         {"同音異義語補正: 開業 → 改行"}},
        {"deterministic cohorts", "患者を見る", Vocabulary::none, {}, nullptr, "患者を診る",
         {"同音異義語補正: 見る → 診る"}},
        {"ordinary verbs stay", "コードを直すのが早い", Vocabulary::none, {}, nullptr, "コードを直すのが早い", {}},
        {"stutter repair", "変換が変換がおかしい", Vocabulary::none, {}, nullptr, "変換がおかしい",
         {"発話崩れ・助詞整合補正"}},
        {"EG2 fusion", "ギットハブとギット", Vocabulary::none, {"GitHub,"}, nullptr, "GitHubとギット",
         {"EG2ベクトル融合: ギットハブ → GitHub"}},
        {"EG2 alias containing its canonical", "レイテンシーが低い", Vocabulary::none, {"latency"}, nullptr,
         "レイテンシーが低い", {}},
        {"EG2 word not in the table", "ギットハブ", Vocabulary::none, {"gitlab"}, nullptr, "ギットハブ", {}},
    };
    const JapaneseEmbeddingReranker reranker;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ": " + c.text);
        const auto [text, annotations] =
            reranker.rerank(c.text, eg2Words(c.eg2), vocabulary(c.vocabulary), focused(c.focusedPreText));
        EXPECT_EQ(text, c.output);
        EXPECT_EQ(annotations, c.annotations);
    }
}

TEST(JapaneseEmbeddingRerankerTest, TablesHaveTheirSizes) {
    EXPECT_EQ(JapaneseEmbeddingReranker::contextualHomophoneRules().size(), 88u);
    EXPECT_EQ(JapaneseEmbeddingReranker::englishTermTable().size(), 16u);
    EXPECT_EQ(JapaneseEmbeddingReranker::kaigyouContextWords().size(), 35u);
    EXPECT_EQ(JapaneseEmbeddingReranker::defaultVocabulary().size(), 10u);
    std::size_t withContext = 0;
    for (const auto& rule : JapaneseEmbeddingReranker::contextualHomophoneRules()) {
        EXPECT_FALSE(rule.note.empty()) << rule.wrongPattern;
        if (!rule.requiredContextAny.empty()) ++withContext;
    }
    EXPECT_EQ(withContext, 27u);
}

TEST(JapaneseEmbeddingRerankerTest, ReadingsInHiragana) {
    struct Case {
        const char* text;
        const char* hiragana;
    };
    const Case cases[] = {
        {"", ""},
        {"誤変換をコアエムエルで", "ごへんかんをこあえむえるで"},
        {"改行 と 開業", "かいぎょうとかいぎょう"},  // blanks between words are not carried over
        {"Core MLで推論", "CoreMLですいろん"},
    };
    for (const Case& c : cases) EXPECT_EQ(JapaneseEmbeddingReranker::hiraganaReading(c.text), c.hiragana) << c.text;
    EXPECT_EQ(JapaneseEmbeddingReranker::toHiragana("コアML と漢字"), "こあML と漢字");
}

TEST(JapaneseEmbeddingRerankerTest, GivesTheSameResultOnManyThreadsAtOnce) {
    const std::string text = "コアエムエルで推論して、ご変換と保管が変換を直す。カーソルで開業する。ギットハブ";
    const auto eg2 = eg2Words({"github"});
    const auto vocab = JapaneseEmbeddingReranker::defaultVocabulary();
    const JapaneseEmbeddingReranker reranker;
    const CorrectedText expected = reranker.rerank(text, eg2, vocab, focused("音声入力"));
    std::vector<CorrectedText> results(6);
    {
        std::vector<std::jthread> threads;
        for (auto& result : results) {
            threads.emplace_back([&] { result = reranker.rerank(text, eg2, vocab, focused("音声入力")); });
        }
    }
    for (const auto& result : results) EXPECT_EQ(result, expected);
}

TEST(JapaneseEmbeddingRerankerTest, TheDefaultStagesRerankWithIt) {
    const TranscriptionStages stages = makeDefaultTranscriptionStages(std::nullopt);
    ASSERT_NE(stages.reranker, nullptr);
    const auto [text, annotations] =
        stages.reranker->rerank("ご変換が多い", {}, JapaneseEmbeddingReranker::defaultVocabulary(), std::nullopt);
    EXPECT_EQ(text, "誤変換が多い");
}

}  // namespace
}  // namespace pelora
