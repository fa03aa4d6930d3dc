#include "engine/japanese/GuardedSpanCorrector.h"

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace pelora {
namespace {

using Strings = std::vector<std::string>;

text::TextRange rangeOf(const std::string& text, const std::string& span, std::size_t from = 0) {
    const std::size_t position = text.find(span, from);
    EXPECT_NE(position, std::string::npos) << span << " in " << text;
    return {position, position + span.size()};
}

TEST(GuardedSpanCorrectorTest, TablesHaveTheirSizesAndEveryCandidateHasKeywords) {
    EXPECT_EQ(GuardedSpanCorrector::homophoneCohorts().size(), 158u);
    EXPECT_EQ(GuardedSpanCorrector::homophoneReplacementTable().entries.size(), 103u);
    EXPECT_EQ(GuardedSpanCorrector::protectedPhrases().size(), 21u);
    EXPECT_EQ(GuardedSpanCorrector::requiredPhrases().size(), 13u);
    for (const auto& cohort : GuardedSpanCorrector::homophoneCohorts()) {
        EXPECT_GE(cohort.size(), 2u);
        EXPECT_LE(cohort.size(), 9u);
    }
    for (const auto& [key, candidates] : GuardedSpanCorrector::homophoneReplacementTable().entries) {
        EXPECT_FALSE(candidates.empty()) << key;
        for (const auto& candidate : candidates) EXPECT_FALSE(candidate.contextKeywords.empty()) << key;
    }
}

TEST(GuardedSpanCorrectorTest, ATableRowWithoutKeywordsIsRefused) {
    EXPECT_THROW(GuardedSpanCorrector::HomophoneReplacementTable::build({{"見る", "診る", {}}}), std::logic_error);
    const auto table = GuardedSpanCorrector::HomophoneReplacementTable::build(
        {{"対象", "対照", {"比較"}}, {"対象", "対称", {"左右"}}, {"決済", "決裁", {"承認"}}});
    ASSERT_EQ(table.entries.size(), 2u);
    ASSERT_NE(table.find("対象"), nullptr);
    EXPECT_EQ(table.find("対象")->size(), 2u);
    EXPECT_EQ(table.find("開業"), nullptr);
}

TEST(GuardedSpanCorrectorTest, CohortAlternativesComeFromTheTableThenTheCohorts) {
    struct Case {
        const char* word;
        Strings alternatives;
    };
    const Case cases[] = {
        {"科学", {"価格", "化学"}},
        {"ご変換", {"誤変換", "御変換"}},
        {"保障", {"保証", "補償"}},
        {"並行", {"変更", "偏向", "平行", "平衡"}},  // member of two cohorts, no duplicates
        {"誤変換", {"ご変換", "御変換"}},
        {"猫", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(GuardedSpanCorrector::cohortAlternatives(c.word), c.alternatives) << c.word;
}

FocusedTextContext contextWith(const std::string& preText) {
    FocusedTextContext context;
    context.preText = preText;
    return context;
}

TEST(GuardedSpanCorrectorTest, CohortCandidateConfidenceGrowsWithSupportingKeywords) {
    struct Case {
        const char* contextText;
        double confidence;
    };
    const Case cases[] = {
        {"", 0.76},
        {"承認", 0.88},
        {"承認 稟議", 0.92},
        {"承認 稟議 部長", 0.95},  // 0.96 is capped
        {"承認 稟議 部長 社長 申請", 0.95},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.contextText);
        const auto candidates =
            GuardedSpanCorrector::generateCohortCandidates("決済が下りた", contextWith(c.contextText), {}, 10);
        const auto kessai = std::find_if(candidates.begin(), candidates.end(),
                                         [](const auto& candidate) { return candidate.replacementSpan == "決裁"; });
        ASSERT_NE(kessai, candidates.end());
        EXPECT_NEAR(kessai->confidence, c.confidence, 1e-9);
        EXPECT_EQ(kessai->originalSpan, "決済");
        EXPECT_EQ(kessai->rewrittenTranscript, "決裁が下りた");
        EXPECT_EQ(kessai->source, "MIRK-Cohort");
        EXPECT_EQ(kessai->phoneticDistance, 0);
    }
}

TEST(GuardedSpanCorrectorTest, CohortCandidatesNeverLoseKanjiAndHonourExclusionsAndLimits) {
    const auto fromKana = GuardedSpanCorrector::generateCohortCandidates("ご変換が多い", std::nullopt, {}, 10);
    ASSERT_FALSE(fromKana.empty());
    EXPECT_EQ(fromKana[0].id, "cohort_0");
    EXPECT_EQ(fromKana[0].replacementSpan, "誤変換");
    for (std::size_t i = 0; i < fromKana.size(); ++i) EXPECT_EQ(fromKana[i].id, "cohort_" + std::to_string(i));

    // 誤変換 never becomes ご変換 (fewer kanji); 御変換 has as many kanji and may be offered.
    for (const auto& candidate : GuardedSpanCorrector::generateCohortCandidates("誤変換が多い", std::nullopt, {}, 10)) {
        EXPECT_NE(candidate.replacementSpan, "ご変換");
    }

    for (const auto& candidate :
         GuardedSpanCorrector::generateCohortCandidates("ご変換が多い", std::nullopt, {"ご変換"}, 10)) {
        EXPECT_NE(candidate.originalSpan, "ご変換");  // excluded; 変換 inside it is a form of its own
    }
    EXPECT_TRUE(GuardedSpanCorrector::generateCohortCandidates("ご変換が多い", std::nullopt, {}, 0).empty());
    EXPECT_TRUE(GuardedSpanCorrector::generateCohortCandidates("", std::nullopt, {}, 10).empty());
    EXPECT_EQ(GuardedSpanCorrector::generateCohortCandidates("決済と科学と機能", std::nullopt, {}, 2).size(), 2u);
    // 開業 in a business context yields nothing.
    EXPECT_TRUE(GuardedSpanCorrector::generateCohortCandidates("クリニックを開業", std::nullopt, {}, 10).empty());
}

TEST(GuardedSpanCorrectorTest, OccurrenceWindowsSpanEightCharactersEachSide) {
    const std::string text = "一二三四五六七八九十保管十九八七六五四三二一";
    EXPECT_EQ(GuardedSpanCorrector::occurrenceWindow(text, rangeOf(text, "保管")), "三四五六七八九十保管十九八七六五四三");
    EXPECT_EQ(GuardedSpanCorrector::occurrenceWindow("倉庫に保管", rangeOf("倉庫に保管", "保管")), "倉庫に保管");
    // Emoji are one character each.
    const std::string emoji = "👍🏽👍🏽保管👨‍👩‍👧";
    EXPECT_EQ(GuardedSpanCorrector::occurrenceWindow(emoji, rangeOf(emoji, "保管")), emoji);
}

TEST(GuardedSpanCorrectorTest, ProtectedOccurrencesLookOnlyNearTheOccurrence) {
    struct Case {
        std::string text;
        std::string span;
        std::size_t from;
        bool isProtected;
    };
    const std::string twoOccurrences = "文章を保管して、あとで見る。倉庫の保管場所";
    const Case cases[] = {
        {"倉庫に保管する", "保管", 0, true},
        {"文脈で保管する", "保管", 0, false},
        {twoOccurrences, "保管", 0, false},
        {twoOccurrences, "保管", twoOccurrences.find("保管") + 1, true},
        {"倉庫に置いた書類があって、それを保管", "保管", 0, false},
        {"猫を保管", "猫", 0, false},  // no entry for the form
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GuardedSpanCorrector::isProtectedOccurrence(c.text, rangeOf(c.text, c.span, c.from), c.span),
                  c.isProtected)
            << c.text << " @" << c.from;
    }
}

TEST(GuardedSpanCorrectorTest, ShouldReplaceOccurrenceChecksBusinessProtectionRequiredPhrasesAndKeywords) {
    struct Case {
        std::string text;
        std::string wrong;
        std::string candidate;
        Strings keywords;
        std::string fullContext;
        bool replace;
    };
    const Case cases[] = {
        {"開業する", "開業", "改行", {"カーソル"}, "開業する カーソル", true},
        {"開業する", "開業", "改行", {"カーソル"}, "開業する カーソル クリニック", false},
        {"倉庫に保管", "保管", "補完", {"入力"}, "倉庫に保管 入力", false},
        {"社長の決済", "決済", "決裁", {"社長"}, "社長の決済", true},
        {"決済を確認", "決済", "決裁", {"承認"}, "決済を確認 承認", false},  // no required phrase nearby
        {"猫を見る", "見る", "診る", {}, "猫を見る", true},                  // no keywords: no condition
        {"猫を見る", "見る", "診る", {"患者"}, "猫を見る", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GuardedSpanCorrector::shouldReplaceOccurrence(c.text, rangeOf(c.text, c.wrong), c.wrong, c.candidate,
                                                                c.keywords, c.fullContext),
                  c.replace)
            << c.text << " / " << c.fullContext;
    }
}

TEST(GuardedSpanCorrectorTest, ContextEvidenceIgnoresTheWrongFormItself) {
    struct Case {
        const char* context;
        const char* form;
        Strings words;
        bool evidence;
    };
    const Case cases[] = {
        {"パン屋を開業した", "開業", {"開業した", "開業の"}, false},  // the form with a kana ending
        {"開業コードを入れる", "開業", {"開業コード"}, true},        // the form with a telling word
        {"開業 コード", "開業", {"開業コード"}, false},
        {"自動開業にする", "開業", {"自動開業"}, true},
        {"ご認識の通りです", "ご認識", {"認識"}, false},           // found only inside the form
        {"ご認識 音声認識のアプリ", "ご認識", {"認識"}, true},
        {"ミルコさん", "ミルコ", {"ミルコ", "音声"}, false},       // the form alone proves nothing
        {"ミルコで音声入力", "ミルコ", {"ミルコ", "音声"}, true},
        {"カーソル", "開業", {"カーソル"}, true},
        {"", "開業", {"カーソル"}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GuardedSpanCorrector::hasContextEvidence(c.context, c.form, c.words), c.evidence)
            << c.context << " / " << c.form;
    }
    EXPECT_EQ(GuardedSpanCorrector::contextEvidenceCount("承認 稟議 開業の", "開業", {"承認", "稟議", "開業の", "部長"}), 2u);
}

TEST(GuardedSpanCorrectorTest, SolvesWellEvidencedHomophones) {
    struct Case {
        std::string text;
        std::string context;  // appended to the text to form the full context
        std::string output;
        Strings annotations;
    };
    const Case cases[] = {
        {"", "", "", {}},
        {"クリニックを開業したい", "", "クリニックを開業したい", {}},
        {"カーソル位置で開業して", "", "カーソル位置で改行して", {"同音異義語補正: 開業 → 改行"}},
        {"パン屋の開業が楽しみ", "", "パン屋の開業が楽しみ", {}},
        {"倉庫に保管する", "音声 入力", "倉庫に保管する", {}},
        {"文章を保管して、あとで見る。倉庫の保管場所", "", "文章を補完して、あとで見る。倉庫の保管場所",
         {"同音異義語補正: 保管 → 補完"}},
        // Once 決済 → 決裁 is applied, 決裁 → 決済 is not, so nothing flips back.
        {"社長の決済とカード決裁", "", "社長の決裁とカード決裁", {"同音異義語補正: 決済 → 決裁"}},
        {"カードの決裁", "", "カードの決済", {"同音異義語補正: 決裁 → 決済"}},
        {"ミルコで音声入力", "", "MIRKで音声入力", {"同音異義語補正: ミルコ → MIRK"}},
        {"ミルコさんに会った", "", "ミルコさんに会った", {}},
        {"ミルコーヒーと音声入力", "", "ミルコーヒーと音声入力", {}},  // glued to further katakana
        {"患者を見る", "", "患者を診る", {"同音異義語補正: 見る → 診る"}},
        {"テレビを見る", "", "テレビを見る", {}},
        {"コードを直す", "", "コードを直す", {}},
        {"風邪を直す", "", "風邪を治す", {"同音異義語補正: 直す → 治す"}},
        {"朝が早い", "", "朝が早い", {}},
        {"推論が早い", "", "推論が速い", {"同音異義語補正: 早い → 速い"}},
        {"ご認識の通りです", "", "ご認識の通りです", {}},
        {"音声のご認識が多い", "", "音声の誤認識が多い", {"同音異義語補正: ご認識 → 誤認識"}},
        {"五時脱字を直す", "", "誤字脱字を直す", {"同音異義語補正: 五時 → 誤字"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string fullContext = c.context.empty() ? c.text : c.text + " " + c.context;
        const auto solution = GuardedSpanCorrector::solveDeterministicHomophones(c.text, fullContext);
        EXPECT_EQ(solution.text, c.output);
        EXPECT_EQ(solution.annotations, c.annotations);
    }
}

}  // namespace
}  // namespace pelora
