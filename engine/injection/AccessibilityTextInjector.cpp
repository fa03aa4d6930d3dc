#include "engine/injection/AccessibilityTextInjector.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <unordered_set>
#include <vector>

#include "engine/injection/AccessibilityDesktopAccess.h"
#include "engine/injection/AccessibleTextValue.h"
#include "engine/injection/MenuKeyBinding.h"
#include "engine/injection/TextInjectionError.h"
#include "platform/accessibility/AccessibilityDesktop.h"
#include "platform/accessibility/Utf16.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {

using accessibility::AccessibilityDesktop;
using accessibility::AccessibleNode;
using accessibility::TextElement;

std::shared_ptr<AccessibilityDesktop>& desktopForTesting() {
    static std::shared_ptr<AccessibilityDesktop> desktop;
    return desktop;
}

AccessibilityDesktop& desktop() { return injectionAccessibilityDesktop(); }

// The menu search stops here: a cyclic or huge tree must not hang the caller.
constexpr int menuSearchNodeLimit = 4000;
constexpr auto menuSearchTimeLimit = std::chrono::milliseconds(1000);

std::string lowered(std::string_view s) {
    std::string out(s);
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::optional<ScreenRect> toRect(std::optional<accessibility::ScreenBox> box) {
    if (!box) return std::nullopt;
    return ScreenRect{static_cast<double>(box->x), static_cast<double>(box->y), static_cast<double>(box->width),
                      static_cast<double>(box->height)};
}

// The focused element, once trust has been checked.
std::unique_ptr<TextElement> trustedFocusedElement(std::optional<std::int32_t> targetPID) {
    auto element = desktop().focusedElement(targetPID);
    // Never another process's element for a target.
    if (element && targetPID && element->processIdentifier() != *targetPID) return nullptr;
    return element;
}

std::unique_ptr<TextElement> focusedElement(std::optional<std::int32_t> targetPID) {
    if (!desktop().isTrusted()) return nullptr;
    return trustedFocusedElement(targetPID);
}

// A focused element's value read range by range. A field that shows only its
// placeholder reads as empty.
class ElementTextValue final : public AccessibleTextValue {
public:
    ElementTextValue(TextElement& element, std::int64_t length, bool showsPlaceholder)
        : element_(element), length_(showsPlaceholder ? 0 : length) {}
    std::int64_t length() const override { return length_; }
    std::optional<std::u16string> slice(std::int64_t a, std::int64_t b) override {
        if (length_ == 0) return std::u16string();
        return element_.text(std::clamp<std::int64_t>(a, 0, length_), std::clamp<std::int64_t>(b, 0, length_));
    }

private:
    TextElement& element_;
    std::int64_t length_;
};

bool showsOnlyPlaceholder(TextElement& element, std::int64_t length) {
    const auto placeholder = element.placeholder();
    if (!placeholder || placeholder->empty()) return false;
    const auto units = accessibility::toUtf16(*placeholder);
    if (static_cast<std::int64_t>(units.size()) != length) return false;
    return element.text(0, length) == units;
}

std::optional<TextSelectionRange> selectionOf(TextElement& element) {
    const auto range = element.selection();
    if (!range) return std::nullopt;
    return TextSelectionRange{range->location, range->length};
}

bool hasLineFeed(std::string_view text) { return text.find('\n') != std::string_view::npos; }

// Replaces units start..end (holding `old`) by `replacement`, and tells whether the field
// took it. Only that range is touched, so the rest of a rich-text field keeps its
// formatting. When the new text does not arrive, the old text is put back.
bool replaceRange(TextElement& element, std::int64_t length, std::int64_t start, std::int64_t end,
                  const std::u16string& old, const std::u16string& replacement) {
    if (end > start && !element.deleteText(start, end)) return false;
    if (!element.insertText(start, replacement)) {
        const auto now = element.length();
        if (end > start && now && *now == length - (end - start)) element.insertText(start, old);
        return false;
    }
    if (replacement == old) return true;
    // Read back. An unreadable field is taken at its word; one that reads as before did
    // not take the write; one that lost the old text without getting the new one gets the
    // old text back (some toolkits answer success for an insertion they dropped).
    const auto newLength = element.length();
    if (!newLength) return true;
    const auto replaced = end - start;
    const auto inserted = static_cast<std::int64_t>(replacement.size());
    if (*newLength == length) {
        if (replaced != inserted) return false;
        const auto now = element.text(start, end);
        return !(now && *now == old);
    }
    if (*newLength == length - replaced) {
        if (!old.empty()) element.insertText(start, old);
        return false;
    }
    return true;
}

}  // namespace

accessibility::AccessibilityDesktop& injectionAccessibilityDesktop() {
    if (auto& testing = desktopForTesting()) return *testing;
    static const auto real = accessibility::atspiDesktop();
    return *real;
}

bool AccessibilityTextInjector::isAccessibilityTrusted() { return desktop().isTrusted(); }

bool AccessibilityTextInjector::requestAccessibilityAccess() { return desktop().requestAccess(); }

std::size_t AccessibilityTextInjector::safeScalarIndex(std::int64_t utf16Offset, std::u16string_view in) {
    StringTextValue value(in);
    return static_cast<std::size_t>(scalarSafeOffset(value, utf16Offset));
}

TextInsertion AccessibilityTextInjector::computeInsertion(std::u16string_view currentValue,
                                                          std::optional<TextSelectionRange> selectionRange,
                                                          std::u16string_view text) {
    StringTextValue value(currentValue);
    const auto [start, end] = insertionBounds(value, selectionRange);
    TextInsertion result;
    result.value.reserve(currentValue.size() + text.size());
    result.value.append(currentValue.substr(0, static_cast<std::size_t>(start)));
    result.value.append(text);
    result.value.append(currentValue.substr(static_cast<std::size_t>(end)));
    result.caret = start + static_cast<std::int64_t>(text.size());
    return result;
}

std::optional<std::u16string> AccessibilityTextInjector::normalizeAXValueForInsertion(
    std::optional<std::u16string> currentValue, std::optional<std::u16string> placeholderValue) {
    if (!currentValue) return std::nullopt;
    if (!placeholderValue || placeholderValue->empty()) return currentValue;
    if (*currentValue == *placeholderValue) return std::u16string();
    return currentValue;
}

bool AccessibilityTextInjector::shouldSuppressAdjacentDuplicate(std::u16string_view currentValue,
                                                                std::optional<TextSelectionRange> selectionRange,
                                                                std::u16string_view text) {
    StringTextValue value(currentValue);
    return adjacentDuplicate(value, selectionRange, text);
}

bool AccessibilityTextInjector::hasActiveMarkedText(std::optional<std::int32_t>) { return false; }

void AccessibilityTextInjector::injectDirectAX(std::string_view text, std::optional<std::int32_t> targetPID,
                                               bool allowDuplicates) {
    if (!desktop().isTrusted()) throw TextInjectionError::accessibilityNotEnabled();
    // Multi-line text is never inserted this way.
    if (hasLineFeed(text)) throw TextInjectionError::noActiveTextField();
    auto element = trustedFocusedElement(targetPID);
    if (!element || !element->isEditable()) throw TextInjectionError::noActiveTextField();
    const auto length = element->length();
    if (!length) throw TextInjectionError::noActiveTextField();
    const bool placeholderOnly = *length > 0 && showsOnlyPlaceholder(*element, *length);
    ElementTextValue value(*element, *length, placeholderOnly);
    const auto range = selectionOf(*element);
    const auto units = accessibility::toUtf16(text);
    if (!allowDuplicates && adjacentDuplicate(value, range, units)) throw TextInjectionError::duplicateSuppressed();
    // Never into a non-empty field whose caret is unknown, or at offset 0 with nothing
    // selected.
    if (value.length() > 0 && (!range || (range->location == 0 && range->length == 0)))
        throw TextInjectionError::noActiveTextField();
    auto [start, end] = insertionBounds(value, range);
    if (placeholderOnly) {
        start = 0;
        end = *length;
    }
    std::u16string old;
    if (end > start) {
        auto read = element->text(start, end);
        if (!read) throw TextInjectionError::noActiveTextField();
        old = std::move(*read);
    }
    if (!replaceRange(*element, *length, start, end, old, units)) throw TextInjectionError::noActiveTextField();
    element->setCaret(start + static_cast<std::int64_t>(units.size()));
}

bool AccessibilityTextInjector::canSafelyReplaceViaKeyboard(std::string_view originalInsertedText,
                                                            std::int32_t targetPID) {
    if (!desktop().isTrusted()) return false;
    if (originalInsertedText.empty() || hasLineFeed(originalInsertedText)) return false;
    auto element = trustedFocusedElement(targetPID);
    if (!element || hasActiveMarkedText(targetPID)) return false;
    const auto length = element->length();
    if (!length || *length == 0) return false;
    const auto range = selectionOf(*element);
    if (!range || range->length != 0) return false;
    const auto original = accessibility::toUtf16(originalInsertedText);
    const auto caret = range->location;
    const auto n = static_cast<std::int64_t>(original.size());
    if (caret < n || caret > *length) return false;
    ElementTextValue value(*element, *length, false);
    const auto before = value.slice(scalarSafeOffset(value, caret - n), scalarSafeOffset(value, caret));
    return before && canonicallyEqualUnits(*before, original);
}

bool AccessibilityTextInjector::replaceRecentlyInsertedAX(std::string_view originalInsertedText,
                                                          std::string_view correctedFullText,
                                                          std::optional<std::int32_t> targetPID) {
    if (!desktop().isTrusted()) return false;
    if (originalInsertedText.empty() || originalInsertedText == correctedFullText) return false;
    if (hasLineFeed(originalInsertedText) || hasLineFeed(correctedFullText)) return false;
    auto element = trustedFocusedElement(targetPID);
    if (!element || hasActiveMarkedText(targetPID) || !element->isEditable()) return false;
    const auto length = element->length();
    if (!length || *length == 0) return false;
    const auto range = selectionOf(*element);
    if (!range || range->length != 0) return false;
    const auto original = accessibility::toUtf16(originalInsertedText);
    const auto corrected = accessibility::toUtf16(correctedFullText);
    const auto caret = range->location;
    const auto n = static_cast<std::int64_t>(original.size());
    if (*length < n || *length < caret || caret < n) return false;
    ElementTextValue value(*element, *length, false);
    const auto start = scalarSafeOffset(value, caret - n);
    const auto end = scalarSafeOffset(value, caret);
    const auto before = value.slice(start, end);
    if (!before || !canonicallyEqualUnits(*before, original)) return false;
    if (!replaceRange(*element, *length, start, end, *before, corrected)) return false;
    element->setCaret(start + static_cast<std::int64_t>(corrected.size()));
    return true;
}

std::optional<ScreenRect> AccessibilityTextInjector::getCaretBounds(std::optional<std::int32_t> targetPID) {
    auto element = focusedElement(targetPID);
    if (!element) return std::nullopt;
    const auto range = element->selection();
    if (!range) return std::nullopt;
    std::optional<ScreenRect> rect;
    if (range->length > 0) {
        rect = toRect(element->rangeBox(range->location, range->location + range->length));
    } else {
        const auto caret = range->location;
        const auto length = element->length();
        if (!length || caret < *length) rect = toRect(element->characterBox(caret));
        // Behind the last character the bus answers an empty box at (0, 0): the caret
        // then stands at the trailing edge of the character before it.
        const bool behindLast = (length && caret >= *length) || (rect && *rect == ScreenRect{});
        if (behindLast && caret > 0) {
            std::int64_t previous = caret - 1;
            if (previous > 0) {
                const auto pair = element->text(previous - 1, previous + 1);
                if (pair && pair->size() == 2 && (*pair)[0] >= 0xD800 && (*pair)[0] <= 0xDBFF &&
                    (*pair)[1] >= 0xDC00 && (*pair)[1] <= 0xDFFF)
                    previous -= 1;
            }
            if (auto before = toRect(element->characterBox(previous)))
                rect = ScreenRect{before->x + before->width, before->y, 0, before->height};
        }
    }
    if (!rect || rect->width < 0 || rect->height <= 0 || (rect->x == 0 && rect->y == 0)) return std::nullopt;
    return rect;
}

std::optional<ScreenRect> AccessibilityTextInjector::getFocusedElementFrame(std::optional<std::int32_t> targetPID) {
    auto element = focusedElement(targetPID);
    if (!element) return std::nullopt;
    auto rect = toRect(element->frame());
    if (!rect || rect->width <= 0 || rect->height <= 0) return std::nullopt;
    return rect;
}

bool AccessibilityTextInjector::hasFocusedEditableElement(std::optional<std::int32_t> targetPID) {
    auto element = focusedElement(targetPID);
    return element && element->isEditable();
}

bool AccessibilityTextInjector::triggerMenuBarPaste(std::optional<std::int32_t> targetPID,
                                                    std::optional<std::string> targetBundleIdentifier) {
    // Without a process the active window's application is the target; on X11 the
    // application whose window is active is the frontmost one.
    (void)targetBundleIdentifier;
    if (!desktop().isTrusted()) return false;
    auto bar = desktop().menuBar(targetPID);
    if (!bar) return false;
    auto menus = bar->children();
    if (menus.empty()) return false;
    // There is no system menu on X11 to drop: every top-level menu is searched.
    std::stable_sort(menus.begin(), menus.end(), [](const auto& a, const auto& b) {
        auto isEdit = [](AccessibleNode& node) {
            const auto title = lowered(node.name().value_or(""));
            return title == "edit" || title == "編集";
        };
        return isEdit(*a) && !isEdit(*b);
    });
    // Breadth first, a level at a time: every node of a level is tested before any of
    // them is opened, which is the order of a first-in, first-out queue, and lets the
    // desktop read a level of siblings in one batch.
    std::vector<std::unique_ptr<AccessibleNode>> level;
    std::unordered_set<std::string> visited{bar->identity()};
    for (auto& menu : menus)
        if (visited.insert(menu->identity()).second) level.push_back(std::move(menu));
    const auto deadline = std::chrono::steady_clock::now() + menuSearchTimeLimit;
    int examined = 0;
    while (!level.empty()) {
        for (auto& node : level) {
            if (++examined > menuSearchNodeLimit || std::chrono::steady_clock::now() > deadline) return false;
            const auto binding = node->firstActionKeyBinding();
            if (binding && isPlainControlVBinding(*binding) && node->isMenuItem() && node->isEnabled())
                return node->pressFirstAction();
        }
        std::vector<std::unique_ptr<AccessibleNode>> next;
        for (auto& node : level) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            for (auto& child : node->children())
                if (visited.insert(child->identity()).second) next.push_back(std::move(child));
            if (static_cast<int>(next.size()) + examined > menuSearchNodeLimit) break;
        }
        level = std::move(next);
    }
    return false;
}

void AccessibilityTextInjector::useAccessibilityForTesting(std::shared_ptr<AccessibilityDesktop> replacement) {
    desktopForTesting() = std::move(replacement);
}

}  // namespace pelora
