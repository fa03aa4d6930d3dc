#pragma once

#include <memory>
#include <string>
#include <string_view>

// Script and width conversions over UTF-8 text, by ICU transform identifier.
namespace pelora::text {

// A text transform built once, on first use, and shared by every copy of this object;
// safe to use from many threads at once. Identifiers are ICU's, for example:
//   "Fullwidth-Halfwidth"   ＡＢＣ１ → ABC1, and also カナ → ｶﾅ (reverse: the opposite)
//   "Hiragana-Katakana"     ひらがな → ヒラガナ (reverse: Katakana to Hiragana)
//   "Latin-Hiragana"        romaji → hiragana (reverse: hiragana to romaji)
//   "Any-Latin"             any script to Latin letters
//   "Latin-ASCII"           strips accents where an ASCII letter exists
// Compound identifiers such as "NFD; [:Nonspacing Mark:] Remove; NFC" work too.
// An identifier ICU does not know leaves every text unchanged.
class Transliteration {
public:
    enum class Direction { forward, reverse };

    explicit Transliteration(std::string id, Direction direction = Direction::forward);

    const std::string& id() const;
    Direction direction() const;
    // Builds the transform if not yet done; false when ICU does not know the identifier.
    bool isValid() const;

    std::string apply(std::string_view text) const;

private:
    struct Built;
    std::shared_ptr<Built> built_;
};

}  // namespace pelora::text
