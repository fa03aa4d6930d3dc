#include "platform/synthkeys/Keysyms.h"

namespace pelora::synthkeys {

namespace {
constexpr std::uint32_t unicodeKeysymBase = 0x01000000;
}

std::uint32_t keysymForCodePoint(char32_t c) {
    switch (c) {
    case U'\b': return 0xff08;    // BackSpace
    case U'\t': return 0xff09;    // Tab
    case U'\n': return 0xff0a;    // Linefeed
    case U'\r': return 0xff0d;    // Return
    case U'\x1b': return 0xff1b;  // Escape
    case U'\x7f': return 0xffff;  // Delete
    default: break;
    }
    if ((c >= 0x20 && c <= 0x7e) || (c >= 0xa0 && c <= 0xff)) return static_cast<std::uint32_t>(c);
    if ((c >= 0xd800 && c <= 0xdfff) || c > 0x10ffff) return unicodeKeysymBase + 0xfffd;
    return unicodeKeysymBase + static_cast<std::uint32_t>(c);
}

}  // namespace pelora::synthkeys
