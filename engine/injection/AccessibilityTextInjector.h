#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "engine/injection/ScreenRect.h"

namespace pelora {

namespace accessibility {
class AccessibilityDesktop;
}
namespace synthkeys {
class SyntheticKeyboard;
}

// A selection in a text element: location and length in UTF-16 code units of its text.
struct TextSelectionRange {
    std::int64_t location = 0;
    std::int64_t length = 0;

    friend bool operator==(const TextSelectionRange&, const TextSelectionRange&) = default;
};

// What computeInsertion gives: the element's new text and where the caret goes.
struct TextInsertion {
    std::u16string value;
    std::int64_t caret = 0;  // UTF-16 units

    friend bool operator==(const TextInsertion&, const TextInsertion&) = default;
};

// Puts text into other applications' focused fields. Stateless: every operation is
// synchronous, runs on the caller's thread and blocks while the target answers.
class AccessibilityTextInjector {
public:
    // ---- Accessibility: the focused element through the accessibility bus ----

    // Assistive access is on: the accessibility bus answers and org.a11y.Status IsEnabled
    // is true. Nothing else here reads or writes another application without it.
    static bool isAccessibilityTrusted();
    // Turns assistive access on (IsEnabled true). True when the setting was accepted;
    // applications started before may need a restart to show their fields.
    static bool requestAccessibilityAccess();

    // Inserts `text` (UTF-8) at the caret, or over the selection, of the focused editable
    // element of the process (none: of the active window's process). Only the replaced
    // range changes, so formatting elsewhere in a rich-text field stays. Throws
    // TextInjectionError: accessibilityNotEnabled without trust; noActiveTextField for a
    // line feed in the text, no settable element, a non-empty field without a usable
    // caret, or a write that does not take; duplicateSuppressed when duplicates are not
    // allowed and the text already stands just before or after the caret.
    static void injectDirectAX(std::string_view text, std::optional<std::int32_t> targetPID, bool allowDuplicates);

    // True only when the process is trusted, the text is non-empty without a line feed,
    // the focused element has a caret without selection and exactly `originalInsertedText`
    // stands just before it.
    static bool canSafelyReplaceViaKeyboard(std::string_view originalInsertedText, std::int32_t targetPID);
    // Under the same conditions replaces the original text before the caret by the
    // corrected one, checks the change and puts the caret behind it; when the new text
    // cannot be written the original is put back. True on success.
    static bool replaceRecentlyInsertedAX(std::string_view originalInsertedText, std::string_view correctedFullText,
                                          std::optional<std::int32_t> targetPID);

    // The caret's box (the character at the caret, or the selection's box); behind the
    // last character, that character's trailing edge. None when unknown or unusable.
    static std::optional<ScreenRect> getCaretBounds(std::optional<std::int32_t> targetPID);
    // The focused element's box when its width and height are positive.
    static std::optional<ScreenRect> getFocusedElementFrame(std::optional<std::int32_t> targetPID);
    // The focused element takes text (editable text interface and EDITABLE state).
    static bool hasFocusedEditableElement(std::optional<std::int32_t> targetPID);
    // The accessibility bus shows no input-method composition: always false.
    static bool hasActiveMarkedText(std::optional<std::int32_t> targetPID);

    // Presses the enabled Paste item (key binding Control+V and nothing else) of the
    // target's menu bar, Edit menu first. False without trust, menu bar or such item.
    static bool triggerMenuBarPaste(std::optional<std::int32_t> targetPID,
                                    std::optional<std::string> targetBundleIdentifier);

    // ---- Pure steps of the insertion (all offsets UTF-16 code units) ----

    static TextInsertion computeInsertion(std::u16string_view currentValue,
                                          std::optional<TextSelectionRange> selectionRange, std::u16string_view text);
    // The offset clamped to the string, moved one unit back when it would split a
    // surrogate pair.
    static std::size_t safeScalarIndex(std::int64_t utf16Offset, std::u16string_view in);
    // A value equal to a non-empty placeholder counts as empty.
    static std::optional<std::u16string> normalizeAXValueForInsertion(std::optional<std::u16string> currentValue,
                                                                      std::optional<std::u16string> placeholderValue);
    // The text already stands just before or just after the caret (canonically equal).
    static bool shouldSuppressAdjacentDuplicate(std::u16string_view currentValue,
                                                std::optional<TextSelectionRange> selectionRange,
                                                std::u16string_view text);

    // Tests put their own desktop behind the injector; nullptr restores the real one.
    // Not for use while other threads use the injector.
    static void useAccessibilityForTesting(std::shared_ptr<accessibility::AccessibilityDesktop> desktop);

    // ---- Synthetic key events (AccessibilityTextInjectorKeys.cpp) -------------------
    // Keys go to whichever window has the keyboard focus, through the X display's XTest
    // extension; Command is Control here. Each operation first releases modifiers that
    // are still held (its keys carry only the modifiers it presses itself), blocks the
    // calling thread, whichever it is, for its pauses, and throws TextInjectionError:
    // postEventNotPermitted when no display takes synthetic events (nothing posted),
    // injectionFailed when a key cannot be found or the display goes away (what was
    // posted stays posted). A stop request cuts the pauses short, never the sequence.

    // True when a display answers and offers synthetic events.
    static bool mayPostEvents();
    // Control+V; Control+Shift+V for a terminal-like target, where Control+V is a key
    // of its own.
    static void simulateCommandVPaste(bool terminalLike = false, std::stop_token stop = {});
    static void simulateShiftReturnKey(std::stop_token stop = {});
    // Extends the selection leftwards by `count` characters; nothing at all below 1.
    static void simulateShiftLeftSelection(int count, std::stop_token stop = {});
    // One BackSpace.
    static void simulateDeleteKey(std::stop_token stop = {});
    // One Right key: a selection collapses to its end, so a correction that fails after
    // selecting never leaves the user's text selected for the next keystroke to replace.
    static void simulateRightKey(std::stop_token stop = {});
    // Types the text, each code point whole and once, line feeds as Shift+Return.
    // Nothing at all for an empty text.
    static void simulateUnicodeTyping(std::string_view text, std::stop_token stop = {});

    // Tests put their own keyboard behind the operations; nullptr restores the display's.
    // Not for use while other threads post keys.
    static void useKeyboardForTesting(std::shared_ptr<synthkeys::SyntheticKeyboard> keyboard);
    // ---- end of synthetic key events -----------------------------------------------
};

}  // namespace pelora
