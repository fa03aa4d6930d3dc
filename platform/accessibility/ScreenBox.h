#pragma once

#include <cstdint>

namespace pelora::accessibility {

// A rectangle in screen pixels, origin at the top left of the screen, as the bus reports it.
struct ScreenBox {
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;

    friend bool operator==(const ScreenBox&, const ScreenBox&) = default;
};

// A range of UTF-16 code units: `location` and `length`, like a selection.
struct UnitRange {
    std::int64_t location = 0;
    std::int64_t length = 0;

    friend bool operator==(const UnitRange&, const UnitRange&) = default;
};

}  // namespace pelora::accessibility
