#include "engine/japanese/FaithfulFormattingGuard.h"

#include <string>

#include <gtest/gtest.h>

namespace pelora {
namespace {

TEST(FaithfulFormattingGuardTest, OnlySameOrNearSoundingFormsMayReplaceEachOther) {
    struct Case {
        const char* original;
        const char* candidate;
        bool safe;
    };
    const Case cases[] = {
        {"改行", "開業", true},           // same hiragana reading
        {"ご変換", "誤変換", true},
        {"コアエムエル", "Core ML", true}, // alias → surface of the built-in vocabulary
        {"ペロラボイス", "PeloraVoice", true},
        {"現地", "検知", true},           // genchi / kenchi: one voiced pair apart
        {"過少", "箇所", true},           // kashou / kasho read alike once long vowels fold
        {"改行", "改行", false},          // equal
        {"  改行\n", "改行", false},      // equal after trimming
        {"", "改行", false},
        {"改行", "   ", false},
        {"改行", "推論", false},          // far apart
        {"設定", "設計", false},          // t / k is a full substitution
        {"あ", "え", false},              // both readings shorter than 3
        {"MIRK", "ミルコ", false},        // surface → alias is not the same as alias → surface
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FaithfulFormattingGuard::isSafeReplacement(c.original, c.candidate), c.safe)
            << c.original << " → " << c.candidate;
        EXPECT_EQ(FaithfulFormattingGuard::isFaithfulEdit(c.original, c.candidate), c.safe);
    }
}

TEST(FaithfulFormattingGuardTest, KanjiCountCountsIdeographsOnly) {
    struct Case {
        const char* text;
        std::size_t kanji;
    };
    const Case cases[] = {
        {"誤変換", 3}, {"ご変換", 2}, {"々", 0}, {"", 0}, {"Core ML", 0}, {"\u3400拡張A", 3}, {"時々", 1},
    };
    for (const Case& c : cases) EXPECT_EQ(FaithfulFormattingGuard::kanjiCount(c.text), c.kanji) << c.text;
}

}  // namespace
}  // namespace pelora
