#include "engine/injection/AccessibilityTextInjector.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <limits>
#include <unordered_set>
#include <vector>

#include "engine/injection/AccessibleTextValue.h"
#include "engine/injection/MenuKeyBinding.h"
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

AccessibilityDesktop& desktop() {
    if (auto& testing = desktopForTesting()) return *testing;
    static const auto real = accessibility::atspiDesktop();
    return *real;
}

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

std::unique_ptr<TextElement> focusedElement(std::optional<std::int32_t> targetPID) {
    if (!desktop().isTrusted()) return nullptr;
    auto element = desktop().focusedElement(targetPID);
    // Never another process's element for a target.
    if (element && targetPID && element->processIdentifier() != *targetPID) return nullptr;
    return element;
}

}  // namespace

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
    std::deque<std::unique_ptr<AccessibleNode>> queue;
    std::unordered_set<std::string> visited{bar->identity()};
    for (auto& menu : menus)
        if (visited.insert(menu->identity()).second) queue.push_back(std::move(menu));
    const auto deadline = std::chrono::steady_clock::now() + menuSearchTimeLimit;
    int examined = 0;
    while (!queue.empty()) {
        if (++examined > menuSearchNodeLimit || std::chrono::steady_clock::now() > deadline) return false;
        auto node = std::move(queue.front());
        queue.pop_front();
        if (node->isMenuItem()) {
            const auto binding = node->firstActionKeyBinding();
            if (binding && isPlainControlVBinding(*binding) && node->isEnabled()) return node->pressFirstAction();
        }
        for (auto& child : node->children())
            if (visited.insert(child->identity()).second) queue.push_back(std::move(child));
    }
    return false;
}

void AccessibilityTextInjector::useAccessibilityForTesting(std::shared_ptr<AccessibilityDesktop> replacement) {
    desktopForTesting() = std::move(replacement);
}

}  // namespace pelora
