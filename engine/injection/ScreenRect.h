#pragma once

namespace pelora {

// A rectangle in screen pixels with the origin at the top left of the screen, as the
// accessibility bus reports it (X11 screen coordinates; no conversion needed).
struct ScreenRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    friend bool operator==(const ScreenRect&, const ScreenRect&) = default;
};

}  // namespace pelora
