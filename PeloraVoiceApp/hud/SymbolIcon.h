#pragma once
#include <QColor>
#include <QImage>
#include <QRectF>
#include <QString>

class QPainter;

// Our own symbol set (SVG, drawn in one colour), named as the views name them:
// "arrow.right.circle.fill", "checkmark.circle.fill", "doc.on.clipboard.fill",
// "arrow.uturn.forward.circle.fill", "xmark".
class SymbolIcon {
public:
    SymbolIcon() = delete;

    static bool exists(const QString& name);
    // The symbol filling a square of `pixelSize` device-independent pixels, in `color`, for
    // a device pixel ratio; cached per name, size, colour and ratio.
    static QImage image(const QString& name, double pixelSize, const QColor& color, double devicePixelRatio = 1.0);
    // Draws the symbol centred in `box` (a square of the box's smaller side).
    static void paint(QPainter& painter, const QRectF& box, const QString& name, const QColor& color);
};
