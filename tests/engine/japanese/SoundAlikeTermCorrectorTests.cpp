#include "engine/japanese/SoundAlikeTermCorrector.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/japanese/DefaultVocabulary.h"

namespace pelora {
namespace {

CustomVocabularyEntry entry(std::string reading, std::string surface, std::vector<std::string> aliases,
                            bool enabled = true) {
    return CustomVocabularyEntry{"00000000-0000-0000-0000-000000000000", std::move(reading), std::move(surface),
                                 std::move(aliases), {}, enabled};
}

using Strings = std::vector<std::string>;
using Records = std::vector<SoundAlikeReplacementAnnotation>;

TEST(SoundAlikeTermCorrectorTest, CorrectsSpansAgainstTheDefaultVocabulary) {
    struct Case {
        const char* input;
        const char* output;
        Records records;
    };
    const Case cases[] = {
        {"", "", {}},
        {"ペロラボイス2で入力", "PeloraVoice2で入力", {{"ペロラボイス2", "PeloraVoice2", "辞書音韻補正", 0}}},
        // Digits after blanks belong to the span; the hiragana reading ignores the blank.
        {"ペロラボイス 2で入力", "PeloraVoice2で入力", {{"ペロラボイス 2", "PeloraVoice2", "辞書音韻補正", 0}}},
        {"coreml、推論", "Core ML、推論", {{"coreml", "Core ML", "辞書音韻補正", 0}}},
        // A Latin word glued to kana has no word boundary, so it is no span.
        {"coremlで推論", "coremlで推論", {}},
        // A canonical spelling is left alone; Latin words are never matched by sound.
        {"Core MLとSwiftUI", "Core MLとSwiftUI", {}},
        {"corenl、推論", "corenl、推論", {}},
        // A near miss of a long term, ベ heard as ペ.
        {"エンペディングジェマを使う", "EmbeddingGemma 2を使う",
         {{"エンペディングジェマ", "EmbeddingGemma 2", "辞書音韻補正", 0.3}}},
        // Two spans: replaced right to left, recorded left to right.
        {"ミルカとスウィフトユーアイ", "MIRKとSwiftUI",
         {{"ミルカ", "MIRK", "辞書音韻補正", 0}, {"スウィフトユーアイ", "SwiftUI", "辞書音韻補正", 0}}},
        // Four katakana letters are too few for a near miss (スイフトUI is a mixed-script alias).
        {"スイフトUI", "スイフトUI", {}},
        {"カタカナの普通の文章", "カタカナの普通の文章", {}},
        // A span that is part of its own canonical surface stays ("EmbeddingGemma 2" is not
        // rewritten to "EmbeddingGemma 2 2"), while the same word standing alone is corrected.
        {"EmbeddingGemma 2のテスト", "EmbeddingGemma 2のテスト", {}},
        {"embeddinggemma、テスト", "EmbeddingGemma 2、テスト",
         {{"embeddinggemma", "EmbeddingGemma 2", "辞書音韻補正", 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        const auto result = SoundAlikeTermCorrector::correct(c.input, defaultVocabulary(), Strings{}, Strings{});
        EXPECT_EQ(result.text, c.output);
        ASSERT_EQ(result.replacements.size(), c.records.size());
        for (std::size_t i = 0; i < c.records.size(); ++i) {
            EXPECT_EQ(result.replacements[i].original, c.records[i].original);
            EXPECT_EQ(result.replacements[i].replacement, c.records[i].replacement);
            EXPECT_EQ(result.replacements[i].source, c.records[i].source);
            EXPECT_NEAR(result.replacements[i].distance, c.records[i].distance, 1e-9);
        }
    }
}

TEST(SoundAlikeTermCorrectorTest, EG2BrandWordsAndContextTermsBecomeCandidates) {
    const auto github = SoundAlikeTermCorrector::correct("github、GitHub", {}, Strings{"github"}, Strings{});
    EXPECT_EQ(github.text, "GitHub、GitHub");
    ASSERT_EQ(github.replacements.size(), 1u);
    EXPECT_EQ(github.replacements[0], (SoundAlikeReplacementAnnotation{"github", "GitHub", "EG2音韻一致", 0}));

    // Only brand words count, and only trimmed ones.
    EXPECT_EQ(SoundAlikeTermCorrector::correct("github。", {}, Strings{"GitHub,"}, Strings{}).text, "github。");
    EXPECT_EQ(SoundAlikeTermCorrector::correct("github。", {}, Strings{"  GitHub\n"}, Strings{}).text, "GitHub。");

    const auto context = SoundAlikeTermCorrector::correct("playwright で試す", {}, Strings{}, Strings{"Playwright"});
    EXPECT_EQ(context.text, "Playwright で試す");
    ASSERT_EQ(context.replacements.size(), 1u);
    EXPECT_EQ(context.replacements[0].source, "文脈用語一致");
    // Context terms shorter than 7 characters are not candidates.
    EXPECT_EQ(SoundAlikeTermCorrector::correct("react で", {}, Strings{}, Strings{"React"}).text, "react で");
}

TEST(SoundAlikeTermCorrectorTest, DisabledEntriesAndEmptyInputsChangeNothing) {
    std::vector<CustomVocabularyEntry> vocabulary = defaultVocabulary();
    for (auto& e : vocabulary) e.enabled = false;
    const auto result = SoundAlikeTermCorrector::correct("コアエムエルとミルカ", vocabulary, Strings{"github"}, Strings{"abc"});
    EXPECT_EQ(result.text, "コアエムエルとミルカ");
    EXPECT_TRUE(result.replacements.empty());
    EXPECT_TRUE(SoundAlikeTermCorrector::buildCandidates(vocabulary, Strings{}, Strings{"short"}).empty());
}

TEST(SoundAlikeTermCorrectorTest, ShortSpansMatchOnlyExactly) {
    // "meeroo" reads "miru"; so do ミル and ミイル, but ミル has only two katakana letters.
    const std::vector<CustomVocabularyEntry> vocabulary = {entry("めえろお", "Meeroo", {"meeroo"})};
    EXPECT_EQ(SoundAlikeTermCorrector::correct("ミルを使う", vocabulary, Strings{}, Strings{}).text, "ミルを使う");
    EXPECT_EQ(SoundAlikeTermCorrector::correct("ミイルを使う", vocabulary, Strings{}, Strings{}).text, "Meerooを使う");

    // A short exact alias is replaced even though it is too short for a fuzzy match.
    const std::vector<CustomVocabularyEntry> short_ = {entry("みるく", "MILK", {"ミルク"})};
    EXPECT_EQ(SoundAlikeTermCorrector::correct("ミルクを", short_, Strings{}, Strings{}).text, "MILKを");
    // Fuzzy matching needs a strong span: ミルグ is close to ミルク but too short.
    EXPECT_EQ(SoundAlikeTermCorrector::correct("ミルグを", short_, Strings{}, Strings{}).text, "ミルグを");
}

TEST(SoundAlikeTermCorrectorTest, CandidateOrderDecidesTies) {
    const std::vector<CustomVocabularyEntry> same = {
        entry("えんべでぃんぐじぇま", "First", {}),
        entry("えんべでぃんぐじぇま", "Second", {}),
    };
    EXPECT_EQ(SoundAlikeTermCorrector::correct("エンペディングジェマ", same, Strings{}, Strings{}).text, "First");

    // An exact match later in the order beats a fuzzy match kept from earlier.
    const std::vector<CustomVocabularyEntry> exactLater = {
        entry("えんべでぃんぐじぇま", "Fuzzy", {}),
        entry("べつ", "Exact", {"エンペディングジェマ"}),
    };
    EXPECT_EQ(SoundAlikeTermCorrector::correct("エンペディングジェマ", exactLater, Strings{}, Strings{}).text, "Exact");
}

TEST(SoundAlikeTermCorrectorTest, CandidatesCarryReadingsAndDistanceLimits) {
    const auto candidates = SoundAlikeTermCorrector::buildCandidates(
        {entry("こあえむえる", "Core ML", {"コアエムエル", "", "  "}), entry("", "Swift UI", {}),
         entry("x", "y", {}, false)},
        Strings{"Whisper", "unknown"}, Strings{"Kubernetes", "tiny"});
    ASSERT_EQ(candidates.size(), 3u);  // "Swift UI" has no reading at all; the disabled entry is skipped

    EXPECT_EQ(candidates[0].canonicalSurface, "Core ML");
    EXPECT_EQ(candidates[0].exactAliasesLower, (Strings{"core ml", "こあえむえる", "コアエムエル"}));
    EXPECT_EQ(candidates[0].matchReadings, (Strings{"koaemueru"}));
    EXPECT_EQ(candidates[0].matchHiragana, (Strings{"こあえむえる"}));
    EXPECT_NEAR(candidates[0].maxWeightedDistance, 0.68, 1e-9);  // 9 × 0.08 capped

    EXPECT_EQ(candidates[1].canonicalSurface, "Whisper");
    EXPECT_EQ(candidates[1].sourceLabel, "EG2音韻一致");
    EXPECT_EQ(candidates[1].matchReadings, (Strings{"wisper"}));
    EXPECT_NEAR(candidates[1].maxWeightedDistance, 6 * 0.07, 1e-9);

    EXPECT_EQ(candidates[2].canonicalSurface, "Kubernetes");
    EXPECT_EQ(candidates[2].sourceLabel, "文脈用語一致");
    EXPECT_NEAR(candidates[2].maxWeightedDistance, 0.55, 1e-9);
}

TEST(SoundAlikeTermCorrectorTest, WordFormLabelsEachReplacement) {
    const std::vector<TranscribedWord> eg2 = {TranscribedWord("github", std::nullopt, 0, 1, 0.9f, "EG2")};
    const auto [text, annotations] =
        SoundAlikeTermCorrector::correct("github、コアエムエル", defaultVocabulary(), eg2, Strings{});
    EXPECT_EQ(text, "GitHub、Core ML");
    EXPECT_EQ(annotations, (Strings{"音韻距離補正(EG2音韻一致): github → GitHub",
                                    "音韻距離補正(辞書音韻補正): コアエムエル → Core ML"}));
}

}  // namespace
}  // namespace pelora
