#include "engine/injection/AccessibleTextValue.h"

#include <algorithm>
#include <limits>

#include "platform/accessibility/Utf16.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {

bool isHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) return b > 0 ? std::numeric_limits<std::int64_t>::max()
                                                         : std::numeric_limits<std::int64_t>::min();
    return sum;
}

}  // namespace

std::optional<std::u16string> StringTextValue::slice(std::int64_t a, std::int64_t b) {
    const auto n = length();
    a = std::clamp<std::int64_t>(a, 0, n);
    b = std::clamp<std::int64_t>(b, a, n);
    return std::u16string(value_.substr(static_cast<std::size_t>(a), static_cast<std::size_t>(b - a)));
}

std::int64_t scalarSafeOffset(AccessibleTextValue& value, std::int64_t offset) {
    const auto n = value.length();
    const auto at = std::clamp<std::int64_t>(offset, 0, n);
    if (at <= 0 || at >= n) return at;
    const auto around = value.slice(at - 1, at + 1);
    if (around && around->size() == 2 && isHigh((*around)[0]) && isLow((*around)[1])) return at - 1;
    return at;
}

std::pair<std::int64_t, std::int64_t> insertionBounds(AccessibleTextValue& value,
                                                       std::optional<TextSelectionRange> selection) {
    const auto n = value.length();
    if (!selection) return {n, n};
    const auto start = std::clamp<std::int64_t>(selection->location, 0, n);
    const auto end = std::clamp<std::int64_t>(saturatingAdd(selection->location, selection->length), start, n);
    return {scalarSafeOffset(value, start), scalarSafeOffset(value, end)};
}

bool canonicallyEqualUnits(std::u16string_view a, std::u16string_view b) {
    if (a == b) return true;
    return text::canonicallyEqual(accessibility::toUtf8(a), accessibility::toUtf8(b));
}

bool adjacentDuplicate(AccessibleTextValue& value, std::optional<TextSelectionRange> selection,
                       std::u16string_view text) {
    const auto n = value.length();
    const auto t = static_cast<std::int64_t>(text.size());
    if (n == 0 || t == 0 || n < t) return false;
    if (!selection) {
        // Ends with the text, compared as characters: the value's tail, widened to whole
        // characters, must be canonically equal to the text.
        const auto tail = value.slice(std::max<std::int64_t>(0, n - 2 * t - 2), n);
        if (!tail) return false;
        const auto nfcTail = text::toNFC(accessibility::toUtf8(*tail));
        const auto nfcText = text::toNFC(accessibility::toUtf8(text));
        return nfcTail.size() >= nfcText.size() &&
               nfcTail.compare(nfcTail.size() - nfcText.size(), nfcText.size(), nfcText) == 0;
    }
    if (selection->length != 0) return false;
    const auto caret = scalarSafeOffset(value, std::clamp<std::int64_t>(selection->location, 0, n));
    if (caret >= t) {
        const auto before = value.slice(scalarSafeOffset(value, caret - t), caret);
        if (before && canonicallyEqualUnits(*before, text)) return true;
    }
    if (caret + t <= n) {
        const auto after = value.slice(caret, scalarSafeOffset(value, caret + t));
        if (after && canonicallyEqualUnits(*after, text)) return true;
    }
    return false;
}

}  // namespace pelora
