#pragma once

// Conversions between UTF-8 and ICU strings, for the sources of this layer only:
// no header outside platform/text includes this file.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <unicode/unistr.h>
#include <unicode/utf16.h>

namespace pelora::text::internal {

inline icu::UnicodeString fromUTF8(std::string_view s) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
}

inline std::string toUTF8(const icu::UnicodeString& u) {
    std::string out;
    u.toUTF8String(out);
    return out;
}

// UTF-8 byte offset of every UTF-16 index of `u` (size length()+1). An index inside a
// surrogate pair maps to the start of that pair.
inline std::vector<std::size_t> utf8OffsetsByUTF16Index(const icu::UnicodeString& u) {
    const int32_t length = u.length();
    std::vector<std::size_t> offsets(static_cast<std::size_t>(length) + 1);
    std::size_t byte = 0;
    int32_t i = 0;
    while (i < length) {
        const UChar32 c = u.char32At(i);
        const int32_t units = U16_LENGTH(c);
        for (int32_t k = 0; k < units && i + k < length; ++k) offsets[static_cast<std::size_t>(i + k)] = byte;
        byte += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        i += units;
    }
    offsets[static_cast<std::size_t>(length)] = byte;
    return offsets;
}

}  // namespace pelora::text::internal
