#include "platform/text/GraphemeCount.h"

#include <memory>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include "platform/text/UnicodeText.h"

namespace pelora::text {

namespace {

// A scalar that breaks on both sides unless a neighbour joins it: only the "Other" and
// "Control" classes never join anything themselves (CR may join a following LF).
bool standsAlone(UChar32 c) {
    if (c < 0) return false;
    if (c < 0x80) return c != '\r';
    const auto kind = u_getIntPropertyValue(c, UCHAR_GRAPHEME_CLUSTER_BREAK);
    return kind == U_GCB_OTHER || kind == U_GCB_CONTROL;
}

// A character break iterator per thread: iterators keep their position while they run.
icu::BreakIterator* threadCharacterIterator() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> created(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_SUCCESS(status) ? std::move(created) : nullptr;
    }();
    return iterator.get();
}

// Boundaries after the start of `s`, counted up to `limit`, read in place through a UText.
std::size_t countBoundariesUpTo(std::string_view s, std::size_t limit) {
    icu::BreakIterator* iterator = threadCharacterIterator();
    UErrorCode status = U_ZERO_ERROR;
    UText* utext = iterator ? utext_openUTF8(nullptr, s.data(), static_cast<int64_t>(s.size()), &status) : nullptr;
    if (utext == nullptr || U_FAILURE(status)) {
        if (utext != nullptr) utext_close(utext);
        return std::min(graphemeCount(s), limit);
    }
    iterator->setText(utext, status);
    std::size_t count = 0;
    while (count < limit && iterator->next() != icu::BreakIterator::DONE) ++count;
    // The iterator keeps only a shallow clone of the UText; drop it before the text goes.
    UText* empty = utext_openUTF8(nullptr, "", 0, &status);
    iterator->setText(empty, status);
    utext_close(empty);
    utext_close(utext);
    return count;
}

}  // namespace

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
        if (!standsAlone(c)) return graphemeCount(s);
        ++count;
    }
    return count;
}

std::size_t graphemeCountUpTo(std::string_view s, std::size_t limit) {
    // Each scalar that stands alone starts a character of its own, so `limit` of them in a
    // row are `limit` characters whatever follows.
    std::size_t count = 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(s.data());
    const auto length = static_cast<int32_t>(s.size());
    int32_t i = 0;
    while (i < length && count < limit) {
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (!standsAlone(c)) return countBoundariesUpTo(s, limit);
        ++count;
    }
    return count;
}

}  // namespace pelora::text
