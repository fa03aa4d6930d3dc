#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Plain Unicode helpers over UTF-8 strings. Lengths are named by what they count.
// Regular expressions are in Regex.h, script transforms in Transliteration.h.
namespace pelora::text {

// True when the two strings are canonically equivalent (equal after NFC).
bool canonicallyEqual(std::string_view a, std::string_view b);
std::string toNFC(std::string_view s);

// Full Unicode case mapping (one character may become several), locale-independent.
std::string toUpper(std::string_view s);
std::string toLower(std::string_view s);
std::string foldCase(std::string_view s);

// User-perceived characters (extended grapheme clusters).
std::size_t graphemeCount(std::string_view s);
// Byte length of the first user-perceived character (0 for an empty string).
std::size_t firstGraphemeLength(std::string_view s);
// The user-perceived characters of `s`, in order.
std::vector<std::string> graphemes(std::string_view s);
// UTF-16 code units.
std::size_t utf16Length(std::string_view s);

// True when `s` is well-formed UTF-8 (no stray bytes, overlong forms or surrogates).
bool isValidUTF8(std::string_view s);
// `s` itself when it is well-formed; otherwise a copy in which each ill-formed sequence is
// one U+FFFD, as every operation of this layer reads such text.
std::string repairedUTF8(std::string_view s);

// Unicode scalars. Bad UTF-8 sequences decode as U+FFFD (the same scalars as repairedUTF8).
std::u32string toScalars(std::string_view s);
std::string fromScalars(std::u32string_view scalars);

// Trims. Each removes whole scalars from both ends, never from the middle.
// Only U+0020.
std::string trimSpaces(std::string_view s);
// Every Unicode White_Space scalar: blanks, tabs, line breaks, U+3000, U+0085, U+2028...
std::string trimWhitespaceAndNewlines(std::string_view s);
// The scalars listed in `set`.
std::string trimScalars(std::string_view s, std::u32string_view set);

// Literal replacement of every occurrence, left to right, without case, width or
// normalisation folding. An empty `target` leaves the text unchanged.
std::string replaceAllLiteral(std::string_view text, std::string_view target, std::string_view replacement);
// As above but comparing under full case folding ("Core ML" finds "core ml").
std::string replaceAllCaseInsensitive(std::string_view text, std::string_view target, std::string_view replacement);
// True when `text` contains `target` under full case folding; an empty target is not contained.
bool containsCaseInsensitive(std::string_view text, std::string_view target);

// Character classes of one scalar.
// By the Unicode Script property, as "\p{Han}", "\p{Hiragana}", "\p{Katakana}" and
// "\p{Latin}" test it in patterns: the prolonged sound mark ー and the middle dot ・
// belong to no script of their own, so they are neither Hiragana nor Katakana here.
bool isHan(char32_t c);
bool isHiragana(char32_t c);
bool isKatakana(char32_t c);
bool isLatin(char32_t c);
// Han, Hiragana or Katakana script.
bool isJapaneseScript(char32_t c);
// The Katakana block U+30A0 to U+30FF, which also holds ー and ・.
bool isInKatakanaBlock(char32_t c);
// A-Z, a-z, 0-9.
bool isASCIIAlphanumeric(char32_t c);
// The Unicode White_Space property (blanks, tabs, line breaks, U+3000...).
bool isWhitespaceOrNewline(char32_t c);

}  // namespace pelora::text
