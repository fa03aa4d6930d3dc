#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pelora {

// Turns text into comparable phonetic strings and measures how far two of them sound
// apart. Counts are in Unicode scalars; the phonetic strings are plain ASCII.
class SoundAlikeReading {
public:
    SoundAlikeReading() = delete;

    // Hiragana reading without blanks: kanji get their dictionary readings, katakana
    // becomes hiragana, Latin letters and digits pass through.
    static std::string hiragana(std::string_view text);
    // Normalised Latin phonetic reading ("コアエムエル" → "koaemueru").
    static std::string reading(std::string_view text);
    static std::string normalizePhoneticLatin(std::string_view latin);
    static std::size_t levenshtein(std::string_view a, std::string_view b);
    // Edit distance that makes vowels and liquids cheap to insert or drop and voiced /
    // unvoiced pairs cheap to swap.
    static double weightedDistance(std::string_view a, std::string_view b);
    static std::string consonantSkeleton(std::string_view phonetic);

    // Helpers shared with the term corrector.
    static std::string foldKatakanaToHiragana(std::string_view text);
    // Any kana (U+3040–U+30FF) or CJK ideograph (U+4E00–U+9FFF).
    static bool containsJapaneseScript(std::string_view text);
    // Katakana letters U+30A1–U+30FA (not ー or ・).
    static std::size_t katakanaLetterCount(std::string_view text);
    static bool firstSoundGroupMatches(std::string_view a, std::string_view b);
    static bool sameConsonantGroup(char32_t a, char32_t b);
    static bool isSkeletonNearMiss(std::string_view a, std::string_view b);
    static std::size_t scalarCount(std::string_view text);
};

}  // namespace pelora
