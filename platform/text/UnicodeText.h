#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Plain Unicode helpers over UTF-8 strings. Lengths are named by what they count.
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
// UTF-16 code units.
std::size_t utf16Length(std::string_view s);

// Trims Unicode white space and line breaks at both ends.
std::string trimWhitespaceAndNewlines(std::string_view s);

}  // namespace pelora::text
