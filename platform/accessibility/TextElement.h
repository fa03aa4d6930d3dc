#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/accessibility/ScreenBox.h"

namespace pelora::accessibility {

// One element of another application, usually a text field. Every offset is in UTF-16
// code units of the element's text; the implementation converts to what the toolkit
// counts. Reads answer nothing when the element cannot say; writes answer false.
class TextElement {
public:
    virtual ~TextElement() = default;

    virtual std::int32_t processIdentifier() const = 0;
    // Its text can be changed: it offers text editing, says it is editable and does not
    // say it is read-only.
    virtual bool isEditable() = 0;
    // Its text is a password: it yields no text.
    virtual bool isPasswordText() = 0;

    // Length of its text.
    virtual std::optional<std::int64_t> length() = 0;
    // The units start..end of its text, exactly (a cut through a surrogate pair keeps
    // the half on this side). Offsets are clamped to the text.
    virtual std::optional<std::u16string> text(std::int64_t start, std::int64_t end) = 0;
    // The selection, else the caret as an empty range.
    virtual std::optional<UnitRange> selection() = 0;
    // The text shown while the field is empty (object attribute "placeholder-text").
    virtual std::optional<std::string> placeholder() = 0;

    virtual bool deleteText(std::int64_t start, std::int64_t end) = 0;
    virtual bool insertText(std::int64_t position, std::u16string_view text) = 0;
    virtual bool setCaret(std::int64_t offset) = 0;

    // The box of the character at `offset`, of the units start..end, and of the element.
    virtual std::optional<ScreenBox> characterBox(std::int64_t offset) = 0;
    virtual std::optional<ScreenBox> rangeBox(std::int64_t start, std::int64_t end) = 0;
    virtual std::optional<ScreenBox> frame() = 0;
};

}  // namespace pelora::accessibility
