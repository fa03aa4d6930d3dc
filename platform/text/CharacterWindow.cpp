#include "platform/text/CharacterWindow.h"

#include <algorithm>
#include <memory>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/utext.h>

namespace pelora::text {

namespace {

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

}  // namespace

TextRange surroundingCharacters(std::string_view text, TextRange range, std::size_t before, std::size_t after) {
    const std::size_t size = text.size();
    std::size_t begin = std::min(range.begin, size);
    std::size_t end = std::clamp(range.end, begin, size);
    icu::BreakIterator* iterator = threadCharacterIterator();
    UErrorCode status = U_ZERO_ERROR;
    // Native indexes of a UTF-8 UText are byte offsets, so no conversion of the whole text.
    UText* utext = iterator ? utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(size), &status) : nullptr;
    if (utext == nullptr || U_FAILURE(status)) {
        if (utext != nullptr) utext_close(utext);
        // Without ICU's break data, count bytes: a degraded but safe window.
        return {begin > before ? begin - before : 0, std::min(size, end + after)};
    }
    iterator->setText(utext, status);

    auto position = static_cast<int32_t>(begin);
    if (!iterator->isBoundary(position)) position = iterator->preceding(position);
    for (std::size_t i = 0; i < before; ++i) {
        const int32_t previous = iterator->preceding(position);
        if (previous == icu::BreakIterator::DONE) break;
        position = previous;
    }
    const auto from = static_cast<std::size_t>(std::max<int32_t>(position, 0));

    position = static_cast<int32_t>(end);
    if (!iterator->isBoundary(position)) position = iterator->following(position);
    for (std::size_t i = 0; i < after; ++i) {
        const int32_t next = iterator->following(position);
        if (next == icu::BreakIterator::DONE) break;
        position = next;
    }
    const std::size_t to = position == icu::BreakIterator::DONE ? size : std::min(static_cast<std::size_t>(position), size);

    // The iterator keeps only a shallow clone of the UText; drop it before the text goes.
    UText* empty = utext_openUTF8(nullptr, "", 0, &status);
    iterator->setText(empty, status);
    utext_close(empty);
    utext_close(utext);
    return {from, std::max(from, to)};
}

}  // namespace pelora::text
