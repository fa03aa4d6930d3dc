#pragma once
#include <QPainterPath>
#include <QRectF>

class QPainter;

// The dark capsule behind the pill's content: a translucent fill under a faint diagonal
// gradient, an angular-gradient border (stronger when selected) and two soft shadows. On a
// desktop without a compositor the window is shaped to the capsule instead, so the fill is
// opaque and the shadows (which would fall outside the shape) are left out.
class PeloraOceanPillSurface {
public:
    PeloraOceanPillSurface() = delete;

    static QPainterPath capsulePath(const QRectF& capsule);
    static void paint(QPainter& painter, const QRectF& capsule, bool borderSelected, bool translucent);
};
