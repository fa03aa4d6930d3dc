#include "PeloraVoiceApp/hud/PeloraOceanPillSurface.h"

#include "PeloraVoiceApp/hud/UITheme.h"

#include <QConicalGradient>
#include <QLinearGradient>
#include <QPainter>

#include <algorithm>

namespace {

const QColor fillColour = QColor::fromRgbF(0.07f, 0.09f, 0.13f);

// A blurred shadow approximated by rings of falling strength (no offscreen blur per frame).
void paintShadow(QPainter& painter, const QRectF& capsule, const QColor& color, double radius, QPointF offset) {
    const int rings = 6;
    painter.setPen(Qt::NoPen);
    for (int i = rings; i >= 1; --i) {
        const double grow = radius * i / rings;
        const QRectF ring = capsule.translated(offset).adjusted(-grow, -grow, grow, grow);
        painter.setBrush(UITheme::withOpacity(color, 1.0 / (rings + 1)));
        painter.drawPath(PeloraOceanPillSurface::capsulePath(ring));
    }
}

} // namespace

QPainterPath PeloraOceanPillSurface::capsulePath(const QRectF& capsule) {
    QPainterPath path;
    const double radius = std::min(capsule.width(), capsule.height()) / 2;
    path.addRoundedRect(capsule, radius, radius);
    return path;
}

void PeloraOceanPillSurface::paint(QPainter& painter, const QRectF& capsule, bool borderSelected, bool translucent) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath shape = capsulePath(capsule);

    if (translucent) {
        paintShadow(painter, capsule, UITheme::withOpacity(UITheme::Ocean::cyan, 0.18), 12, {0, 4});
        paintShadow(painter, capsule, UITheme::withOpacity(Qt::black, 0.45), 10, {0, 4});
        // The shadows are only for around the capsule; clear what lies under it.
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.fillPath(shape, Qt::black);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }

    painter.fillPath(shape, translucent ? UITheme::withOpacity(fillColour, 0.93) : fillColour);
    QLinearGradient sheen(capsule.topLeft(), capsule.bottomRight());
    sheen.setColorAt(0.0, UITheme::withOpacity(UITheme::Ocean::cyan, 0.12));
    sheen.setColorAt(0.5, Qt::transparent);
    sheen.setColorAt(1.0, UITheme::withOpacity(UITheme::Ocean::deep, 0.1));
    painter.fillPath(shape, sheen);

    // Qt's conical gradient turns counter-clockwise from 3 o'clock; the colours are laid
    // in reverse so the border runs clockwise through the palette.
    const double opacity = borderSelected ? 0.55 : 0.35;
    QConicalGradient border(capsule.center(), 0);
    const auto& colours = UITheme::Ocean::gradientColors;
    for (std::size_t i = 0; i < colours.size(); ++i)
        border.setColorAt(double(i) / double(colours.size() - 1),
                          UITheme::withOpacity(colours[colours.size() - 1 - i], opacity));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QBrush(border), 1.2));
    painter.drawPath(capsulePath(capsule.adjusted(0.5, 0.5, -0.5, -0.5)));
    painter.restore();
}
