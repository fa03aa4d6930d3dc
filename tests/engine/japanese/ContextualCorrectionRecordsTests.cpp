#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/japanese/InsertedTextCorrection.h"
#include "engine/japanese/JapaneseGroundedCandidate.h"
#include "engine/japanese/MirkAutoReplacementResult.h"
#include "engine/japanese/MirkSpanSuspicion.h"
#include "engine/japanese/SpanCorrectionOutcome.h"
#include "engine/recognition/TranscriptionResult.h"
#include "platform/text/UnicodeText.h"

namespace pelora {
namespace {

// Applies a patch the way the receiving side does: drop the last characters, append the suffix.
std::string applyByCharacters(const std::string& inserted, const InsertedTextCorrection& patch) {
    const std::vector<std::string> characters = text::graphemes(inserted);
    std::string out;
    for (std::size_t i = 0; i + patch.selectionLength < characters.size(); ++i) out += characters[i];
    return out + patch.replacementSuffix;
}

// The same in UTF-16 units, as the accessibility interface selects text.
std::string applyByUTF16Units(const std::string& inserted, std::size_t selectionUnits, const std::string& suffix) {
    std::string out;
    std::size_t units = 0;
    const std::size_t keep = text::utf16Length(inserted) - selectionUnits;
    for (const std::string& character : text::graphemes(inserted)) {
        if (units >= keep) break;
        out += character;
        units += text::utf16Length(character);
    }
    return out + suffix;
}

TEST(InsertedTextCorrectionTest, PatchesTheTailAfterTheCommonPrefix) {
    struct Case {
        const char* original;
        const char* updated;
        std::optional<InsertedTextCorrection> patch;
        std::size_t utf16Selection;
    };
    const Case cases[] = {
        {"abcdef", "abXdef", InsertedTextCorrection{4, "Xdef"}, 4},
        {"開業したい", "改行したい", InsertedTextCorrection{5, "改行したい"}, 5},
        {"abc", "abcde", InsertedTextCorrection{0, "de"}, 0},
        {"abcde", "abc", InsertedTextCorrection{2, ""}, 2},
        // A letter with a combining mark, and emoji, are one character each.
        {"ae\u0301", "ab", InsertedTextCorrection{1, "b"}, 2},
        {"👍🏽👍🏽", "👍🏽", InsertedTextCorrection{1, ""}, 4},
        {"今日は👍🏽です", "今日は👍🏽でした", InsertedTextCorrection{1, "した"}, 1},
        {"abc👨‍👩‍👧", "abcd", InsertedTextCorrection{1, "d"}, 8},
        {"👨‍👩‍👧の開業", "👨‍👩‍👧の改行", InsertedTextCorrection{2, "改行"}, 2},
        {"same", "same", std::nullopt, 0},
        {"", "new", std::nullopt, 0},
        {"old", "", std::nullopt, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.original) + " → " + c.updated);
        const auto patch = InsertedTextCorrection::compute(c.original, c.updated);
        EXPECT_EQ(patch, c.patch);
        if (!patch) continue;
        EXPECT_EQ(applyByCharacters(c.original, *patch), c.updated);
        const std::size_t units = patch->utf16SelectionLength(c.original);
        EXPECT_EQ(units, c.utf16Selection);
        EXPECT_EQ(applyByUTF16Units(c.original, units, patch->replacementSuffix), c.updated);
    }
}

TEST(InsertedTextCorrectionTest, UTF16SelectionNeverExceedsTheInsertedText) {
    const InsertedTextCorrection patch{10, "x"};
    EXPECT_EQ(patch.utf16SelectionLength("a👍"), 3u);
    EXPECT_EQ(patch.utf16SelectionLength(""), 0u);
}

TEST(MirkSpanSuspicionTest, ResolvesTheSpanBetweenItsContexts) {
    const std::string text = "保管の話。文脈で保管する。";
    struct Case {
        MirkSpanSuspicion suspicion;
        std::optional<text::TextRange> range;
    };
    const std::size_t second = text.find("保管", 3);
    const Case cases[] = {
        {MirkSpanSuspicion("保管"), text::TextRange{0, 6}},
        {MirkSpanSuspicion("保管", "文脈で", "する"), text::TextRange{second, second + 6}},
        {MirkSpanSuspicion("保管", "文脈で"), text::TextRange{second, second + 6}},
        {MirkSpanSuspicion("保管", std::nullopt, "する"), text::TextRange{second, second + 6}},
        // Contexts that are not around the span fall back to its first bare occurrence.
        {MirkSpanSuspicion("保管", "倉庫に", "する"), text::TextRange{0, 6}},
        {MirkSpanSuspicion("保管", "", ""), text::TextRange{0, 6}},
        {MirkSpanSuspicion("補完", "文脈で"), std::nullopt},
        {MirkSpanSuspicion(""), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.suspicion.toJSON());
        EXPECT_EQ(c.suspicion.resolveRange(text), c.range);
    }
}

TEST(MirkSpanSuspicionTest, JSONOmitsAbsentFieldsAndRequiresSpanAndConfidence) {
    const MirkSpanSuspicion bare("開業", std::nullopt, std::nullopt, std::nullopt, std::nullopt, 0.5);
    EXPECT_EQ(bare.toJSON(), R"({"span":"開業","confidence":0.5})");
    EXPECT_EQ(MirkSpanSuspicion::fromJSON(bare.toJSON()), bare);

    const MirkSpanSuspicion full("開業", "カーソルで", "する", "MIRK文脈意図一致", "改行", 0.88);
    EXPECT_EQ(full.toJSON(),
              R"({"span":"開業","leftContext":"カーソルで","rightContext":"する","reason":"MIRK文脈意図一致",)"
              R"("suggestedReplacement":"改行","confidence":0.88})");
    EXPECT_EQ(MirkSpanSuspicion::fromJSON(full.toJSON()), full);
    EXPECT_EQ(MirkSpanSuspicion::fromJSON(R"({"span":"a","leftContext":null,"confidence":1})"),
              MirkSpanSuspicion("a", std::nullopt, std::nullopt, std::nullopt, std::nullopt, 1));

    const char* const broken[] = {
        R"({"span":"開業"})",
        R"({"confidence":0.5})",
        R"({"span":"開業","confidence":"high"})",
        R"({"span":"開業","reason":3,"confidence":0.5})",
        R"(["span"])",
        "not json",
    };
    for (const char* json : broken) EXPECT_THROW(MirkSpanSuspicion::fromJSON(json), RecordCodingError) << json;
}

TEST(JapaneseGroundedCandidateTest, JSONHoldsAllSevenKeysInOrder) {
    const JapaneseGroundedCandidate candidate{"cohort_0", "保管", "補完", "補完の変換", "MIRK-Cohort", 0, 0.88};
    const std::string json = candidate.toJSON();
    EXPECT_EQ(json, R"({"id":"cohort_0","originalSpan":"保管","replacementSpan":"補完",)"
                    R"("rewrittenTranscript":"補完の変換","source":"MIRK-Cohort","phoneticDistance":0.0,)"
                    R"("confidence":0.88})");
    EXPECT_EQ(JapaneseGroundedCandidate::fromJSON(json), candidate);
    EXPECT_THROW(JapaneseGroundedCandidate::fromJSON(
                     R"({"id":"c","originalSpan":"a","replacementSpan":"b","rewrittenTranscript":"b","source":"MIRK","confidence":1})"),
                 RecordCodingError);
    JapaneseGroundedCandidate other = candidate;
    other.confidence = 0.92;
    EXPECT_NE(other, candidate);
}

TEST(ContextualRecordsTest, OutcomesAndResultsCompareByValue) {
    EXPECT_EQ(SpanCorrectionOutcome::unchanged(), SpanCorrectionOutcome::unchanged());
    EXPECT_EQ(SpanCorrectionOutcome::fixed("改行する", "改行", 0.9), SpanCorrectionOutcome::fixed("改行する", "改行", 0.9));
    EXPECT_NE(SpanCorrectionOutcome::fixed("改行する", "改行", 0.9), SpanCorrectionOutcome::fixed("改行する", "改行", 0.8));
    EXPECT_NE(SpanCorrectionOutcome::fixed("改行する", "改行", 0.9), SpanCorrectionOutcome::unchanged());
    EXPECT_FALSE(SpanCorrectionOutcome::unchanged().isFixed());
    ASSERT_NE(SpanCorrectionOutcome::fixed("a", "b", 1).fixedValue(), nullptr);
    EXPECT_EQ(SpanCorrectionOutcome::fixed("a", "b", 1).fixedValue()->replacement, "b");

    const MirkAutoReplacementResult annotatedOnly{"同じ", "同じ", {"⚡ 文脈・句読点整合補正"}, std::nullopt};
    EXPECT_FALSE(annotatedOnly.didReplace());
    const MirkAutoReplacementResult replaced{"開業する", "改行する", {"同音異義語補正: 開業 → 改行"},
                                             InsertedTextCorrection::compute("開業する", "改行する")};
    EXPECT_TRUE(replaced.didReplace());
    EXPECT_EQ(replaced, replaced);
    EXPECT_NE(replaced, annotatedOnly);
}

}  // namespace
}  // namespace pelora
