#include "platform/text/GraphemeCount.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "platform/text/UnicodeText.h"

namespace pelora::text {

std::size_t graphemeCountFast(std::string_view s) {
    std::size_t count = 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(s.data());
    const auto length = static_cast<int32_t>(s.size());
    int32_t i = 0;
    while (i < length) {
        if (bytes[i] < 0x80 && bytes[i] != '\r') {
            ++count;
            ++i;
            continue;
        }
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        // A scalar breaks on both sides unless the break rules can join it to a neighbour:
        // only the "Other" and "Control" classes never join (CR may join a following LF).
        const auto kind = u_getIntPropertyValue(c, UCHAR_GRAPHEME_CLUSTER_BREAK);
        if (c < 0 || (kind != U_GCB_OTHER && kind != U_GCB_CONTROL)) return graphemeCount(s);
        ++count;
    }
    return count;
}

}  // namespace pelora::text
