#pragma once

// Conversions between UTF-8 and ICU strings, for the sources of this layer only:
// no header outside platform/text includes this file.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <unicode/unistr.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

namespace pelora::text::internal {

inline bool isWellFormedUTF8(std::string_view s) {
    if (s.size() > static_cast<std::size_t>(INT32_MAX)) return false;
    const auto* bytes = reinterpret_cast<const uint8_t*>(s.data());
    const auto length = static_cast<int32_t>(s.size());
    for (int32_t i = 0; i < length;) {
        if (bytes[i] < 0x80) {
            ++i;
            continue;
        }
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

// Calls `visit(byteOffset, scalar)` for each scalar of `s`; each ill-formed sequence (its
// maximal subpart, as the Unicode standard recommends) is one U+FFFD.
template <typename Visit>
void forEachScalar(std::string_view s, Visit visit) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(s.data());
    const auto length = static_cast<int32_t>(s.size());
    for (int32_t i = 0; i < length;) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        visit(static_cast<std::size_t>(start), c < 0 ? 0xFFFD : c);
    }
}

// Text that is not well-formed is decoded here rather than by ICU, so that the string and
// the byte offsets below come from one decoding and always agree.
inline icu::UnicodeString fromUTF8(std::string_view s) {
    if (isWellFormedUTF8(s)) {
        return icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
    }
    icu::UnicodeString u;
    forEachScalar(s, [&u](std::size_t, UChar32 c) { u.append(c); });
    return u;
}

inline std::string toUTF8(const icu::UnicodeString& u) {
    std::string out;
    u.toUTF8String(out);
    return out;
}

// Byte offset in `source` of every UTF-16 index of `u` == fromUTF8(source) (size
// length()+1). An index inside a surrogate pair maps to the start of that pair; the U+FFFD
// of an ill-formed sequence maps to the sequence's first byte, so offsets always index
// `source` itself, whether it is well-formed or not.
inline std::vector<std::size_t> utf8OffsetsByUTF16Index(const icu::UnicodeString& u, std::string_view source) {
    std::vector<std::size_t> offsets;
    offsets.reserve(static_cast<std::size_t>(u.length()) + 1);
    forEachScalar(source, [&offsets](std::size_t byte, UChar32 c) {
        offsets.push_back(byte);
        if (U16_LENGTH(c) == 2) offsets.push_back(byte);
    });
    offsets.push_back(source.size());
    // `u` always comes from `source`; the resize only keeps a mismatch from reading out of bounds.
    offsets.resize(static_cast<std::size_t>(u.length()) + 1, source.size());
    return offsets;
}

}  // namespace pelora::text::internal
