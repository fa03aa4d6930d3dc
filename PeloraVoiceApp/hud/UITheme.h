#pragma once
#include <QColor>
#include <QFont>

#include <array>

// The application's look in one place: the Ocean palette, spacings, radii and fonts. Sizes
// are device-independent pixels; fonts are sized in pixels, not points.
class UITheme {
public:
    UITheme() = delete;

    struct Ocean {
        static const QColor cyan;
        static const QColor blue;
        static const QColor teal;
        static const QColor deep;
        static const QColor accent;
        static const QColor success;
        static const QColor error;
        // cyan, blue, teal, deep, cyan: a closed loop for angular gradients.
        static const std::array<QColor, 5> gradientColors;
    };

    struct Space {
        static constexpr double xxs = 4, xs = 6, sm = 10, md = 16, lg = 24, xl = 32;
    };

    struct Radius {
        static constexpr double sm = 8, md = 12, lg = 16, pill = 999;
    };

    struct Colors {
        static const QColor accent;
        static const QColor eg2Emerald;
        static const QColor recordingRed;
        static const QColor amber;
    };

    static const QColor accentEmerald;
    static const QColor accentSuccess;
    static const QColor accentBlue;
    static const QColor accentAmber;
    // The desktop's own window and control backgrounds and label colour (from the palette).
    static QColor canvasBg();
    static QColor cardBg();
    static QColor subtleBorder();

    // The default sans-serif (which has Japanese glyphs here) at a pixel size and weight.
    static QFont roundedFont(double pixelSize, QFont::Weight weight = QFont::Normal);
    // The system's fixed-pitch font: equal-width digits for times and figures.
    static QFont monospacedFont(double pixelSize, QFont::Weight weight = QFont::Normal);

    // A colour at an opacity (0...1) on top of its own alpha.
    static QColor withOpacity(QColor color, double opacity);
};
