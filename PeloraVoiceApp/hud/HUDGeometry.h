#pragma once
#include <algorithm>

// Plain geometry of the overlay's logic, in the desktop's logical pixels with the origin at
// the top-left of the X screen and y growing downward (X11's and Qt's convention).
struct HUDPoint {
    double x = 0;
    double y = 0;
    bool operator==(const HUDPoint&) const = default;
};

struct HUDSize {
    double width = 0;
    double height = 0;
    bool operator==(const HUDSize&) const = default;
};

// Edges are left + width and top + height (QRect::right() would be one less).
struct HUDRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double left() const { return x; }
    double top() const { return y; }
    double right() const { return x + width; }
    double bottom() const { return y + height; }
    double centreX() const { return x + width / 2; }
    double centreY() const { return y + height / 2; }
    bool isEmpty() const { return !(width > 0) || !(height > 0); }
    bool contains(HUDPoint p) const { return p.x >= left() && p.x < right() && p.y >= top() && p.y < bottom(); }
    // Overlap with a positive area; empty rectangles and rectangles that only touch do not intersect.
    bool intersects(const HUDRect& other) const {
        return !isEmpty() && !other.isEmpty() && left() < other.right() && other.left() < right() &&
               top() < other.bottom() && other.top() < bottom();
    }
    HUDRect grownBy(double margin) const { return {x - margin, y - margin, width + 2 * margin, height + 2 * margin}; }
    bool operator==(const HUDRect&) const = default;
};
