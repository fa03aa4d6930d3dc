#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Readings of Japanese text: a morphological tokeniser that knows how kanji are read,
// and the kana/romaji transforms the sound comparisons are built on.
namespace pelora::reading {

// One token of a tokenised string. Tokens follow each other without gaps: text the
// analyser skips (spaces, line breaks) comes back as a token of its own.
struct ReadingToken {
    std::string text;
    // The dictionary's reading in katakana; empty for skipped text, unknown words, Latin,
    // digits and symbols.
    std::string reading;
    std::size_t utf16Offset = 0;
    std::size_t utf16Length = 0;
    // Text the analyser passed over between words (blanks, line breaks).
    bool skipped = false;

    friend bool operator==(const ReadingToken&, const ReadingToken&) = default;
};

// Tokeniser over one morphological model shared by the whole process (the system
// dictionary plus the application's user dictionary). Safe to use from any thread.
class JapaneseTokenizer {
public:
    // The process-wide tokeniser, loaded on first use; null when no dictionary loads.
    static const JapaneseTokenizer* shared();

    // Tokens covering the whole text, in order. Invalid UTF-8 is tokenised as it comes.
    std::vector<ReadingToken> tokenize(std::string_view text) const;

    // Whether the application's user dictionary was found and loaded with the model.
    bool hasUserDictionary() const { return hasUserDictionary_; }

    ~JapaneseTokenizer();
    JapaneseTokenizer(const JapaneseTokenizer&) = delete;
    JapaneseTokenizer& operator=(const JapaneseTokenizer&) = delete;

private:
    struct Model;
    JapaneseTokenizer(std::unique_ptr<Model> model, bool hasUserDictionary);

    std::unique_ptr<Model> model_;
    bool hasUserDictionary_ = false;
};

// Katakana becomes hiragana; everything else is kept.
std::string katakanaToHiragana(std::string_view text);
// Hiragana becomes romaji (a long-vowel mark becomes a macron); everything else is kept.
std::string hiraganaToLatin(std::string_view text);
// Drops combining marks (accents, macrons, voicing marks written apart) after decomposition.
std::string stripCombiningMarks(std::string_view text);

}  // namespace pelora::reading
