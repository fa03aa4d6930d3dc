#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "engine/injection/AccessibilityTextInjector.h"

namespace pelora {

// A text field's value read range by range (UTF-16 units), so that the insertion steps
// read only the units around the caret, whatever the size of the document.
class AccessibleTextValue {
public:
    virtual ~AccessibleTextValue() = default;
    virtual std::int64_t length() const = 0;
    // Units a..b (clamped); nothing when the field cannot be read.
    virtual std::optional<std::u16string> slice(std::int64_t a, std::int64_t b) = 0;
};

// A value held in memory.
class StringTextValue final : public AccessibleTextValue {
public:
    explicit StringTextValue(std::u16string_view value) : value_(value) {}
    std::int64_t length() const override { return static_cast<std::int64_t>(value_.size()); }
    std::optional<std::u16string> slice(std::int64_t a, std::int64_t b) override;

private:
    std::u16string_view value_;
};

// The offset clamped to 0...length, moved one unit back when it falls between the two
// halves of a surrogate pair.
std::int64_t scalarSafeOffset(AccessibleTextValue& value, std::int64_t offset);
// The scalar-safe units that an insertion replaces: the selection clamped to the value,
// or the end of the value when there is no selection.
std::pair<std::int64_t, std::int64_t> insertionBounds(AccessibleTextValue& value,
                                                       std::optional<TextSelectionRange> selection);
// The text already stands just before or just after the caret (canonically equal); with
// no selection, at the end of the value.
bool adjacentDuplicate(AccessibleTextValue& value, std::optional<TextSelectionRange> selection,
                       std::u16string_view text);
// Canonical equality of two UTF-16 strings.
bool canonicallyEqualUnits(std::u16string_view a, std::u16string_view b);

}  // namespace pelora
