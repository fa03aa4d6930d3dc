#include "engine/injection/FocusedTextContextReader.h"

#include <algorithm>
#include <limits>

#include "engine/injection/AccessibilityTextInjector.h"
#include "engine/injection/AccessibilityDesktopAccess.h"
#include "platform/accessibility/AccessibilityDesktop.h"
#include "platform/accessibility/Utf16.h"

namespace pelora {

namespace {

constexpr std::int64_t contextUnits = 180;

bool isHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Units a..b of the field, with a cut through a surrogate pair at either end moved
// inwards so that no half character comes out.
std::optional<std::string> wholeCharacters(accessibility::TextElement& element, std::int64_t n, std::int64_t a,
                                           std::int64_t b) {
    if (b <= a) return std::string();
    const auto from = std::max<std::int64_t>(0, a - 1);
    const auto to = std::min<std::int64_t>(n, b + 1);
    const auto units = element.text(from, to);
    if (!units) return std::nullopt;
    auto unit = [&](std::int64_t i) -> char16_t {
        const auto k = i - from;
        return k >= 0 && k < static_cast<std::int64_t>(units->size()) ? (*units)[static_cast<std::size_t>(k)] : 0;
    };
    if (a > 0 && isLow(unit(a)) && isHigh(unit(a - 1))) ++a;
    if (b < n && isLow(unit(b)) && isHigh(unit(b - 1))) --b;
    if (b <= a) return std::string();
    const auto offset = static_cast<std::size_t>(a - from);
    if (offset >= units->size()) return std::string();
    return accessibility::toUtf8(std::u16string_view(*units).substr(offset, static_cast<std::size_t>(b - a)));
}

}  // namespace

FocusedTextContext FocusedTextContextReader::capture(const std::optional<ActiveApplicationSnapshot>& targetApp) {
    FocusedTextContext context;
    std::optional<std::int32_t> pid;
    if (targetApp) {
        context.appName = targetApp->appName;
        context.bundleIdentifier = targetApp->bundleIdentifier;
        pid = targetApp->processIdentifier;
    }
    auto& desktop = injectionAccessibilityDesktop();
    if (!desktop.isTrusted()) return context;
    if (pid) context.windowTitle = desktop.activeWindowTitle(pid);
    auto element = desktop.focusedElement(pid);
    if (!element || (pid && element->processIdentifier() != *pid)) return context;
    const auto length = element->length();
    if (!length || *length <= 0) return context;
    const std::int64_t n = *length;
    std::int64_t location = n;
    std::int64_t selected = 0;
    if (const auto range = element->selection()) {
        location = range->location;
        selected = range->length;
    }
    std::int64_t sum = 0;
    const std::int64_t selectionEnd =
        __builtin_add_overflow(location, selected, &sum) ? (selected > 0 ? n : std::numeric_limits<std::int64_t>::min())
                                                         : sum;
    const auto start = std::clamp<std::int64_t>(location, 0, n);
    const auto end = std::min(n, selectionEnd);
    const auto afterStart = std::max(start, end);
    const auto afterEnd = std::min(afterStart + contextUnits, n);
    const auto beforeStart = std::max(std::min(n, location), contextUnits) - contextUnits;
    context.preText = wholeCharacters(*element, n, beforeStart, start).value_or("");
    context.postText = wholeCharacters(*element, n, afterStart, afterEnd).value_or("");
    if (end > start) context.selectedText = wholeCharacters(*element, n, start, afterStart);
    return context;
}

}  // namespace pelora
