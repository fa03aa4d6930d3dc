#pragma once

#include <cstdint>

namespace pelora::synthkeys {

// The X keysym that types `codePoint`: the Latin-1 keysym where one exists, the
// function key for the few control characters that have one (tab, carriage return,
// backspace, escape, delete), else the Unicode keysym 0x01000000 + code point.
// Surrogates and values beyond U+10FFFF give U+FFFD's keysym.
std::uint32_t keysymForCodePoint(char32_t codePoint);

}  // namespace pelora::synthkeys
