#include "platform/text/WordBreaks.h"

#include <memory>
#include <string>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/ubrk.h>

#include "platform/text/internal/IcuString.h"

namespace pelora::text {

std::vector<TextRange> wordRanges(std::string_view text, std::string_view locale) {
    std::vector<TextRange> ranges;
    if (text.empty()) return ranges;
    const icu::UnicodeString input = internal::fromUTF8(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> words(
        icu::BreakIterator::createWordInstance(icu::Locale(std::string(locale).c_str()), status));
    if (U_FAILURE(status) || !words) return ranges;
    // The iterator reads `input` in place; `input` outlives it in this scope.
    words->setText(input);
    const std::vector<std::size_t> utf8At = internal::utf8OffsetsByUTF16Index(input, text);
    int32_t start = words->first();
    for (int32_t end = words->next(); end != icu::BreakIterator::DONE; start = end, end = words->next()) {
        // Statuses below UBRK_WORD_NONE_LIMIT mark spaces, punctuation and symbols.
        if (words->getRuleStatus() < UBRK_WORD_NONE_LIMIT) continue;
        ranges.push_back({utf8At[static_cast<std::size_t>(start)], utf8At[static_cast<std::size_t>(end)]});
    }
    return ranges;
}

}  // namespace pelora::text
