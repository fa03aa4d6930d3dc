#include "PeloraVoiceApp/window/TileButton.h"

#include <QLayout>
#include <QPainter>

namespace pelora {

TileButton::TileButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
}

void TileButton::setTile(double radius, QColor fill, QColor outline, double outlineWidth) {
    radius_ = radius;
    fill_ = fill;
    outline_ = outline;
    outlineWidth_ = outlineWidth;
    update();
}

void TileButton::letMouseThrough() {
    for (QWidget* child : findChildren<QWidget*>()) child->setAttribute(Qt::WA_TransparentForMouseEvents);
}

QSize TileButton::sizeHint() const { return layout() ? layout()->sizeHint() : QSize(40, 40); }
QSize TileButton::minimumSizeHint() const { return layout() ? layout()->minimumSize() : QSize(20, 20); }

void TileButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect());
    if (fill_.alpha() > 0) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill_);
        painter.drawRoundedRect(box, radius_, radius_);
    }
    if (outlineWidth_ > 0 && outline_.alpha() > 0) {
        const double half = outlineWidth_ / 2;
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(outline_, outlineWidth_));
        painter.drawRoundedRect(box.adjusted(half, half, -half, -half), std::max(0.0, radius_ - half),
                                std::max(0.0, radius_ - half));
    }
    if (hasFocus()) {
        QColor ring = palette().color(QPalette::Highlight);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(ring, 2));
        painter.drawRoundedRect(box.adjusted(1, 1, -1, -1), std::max(2.0, radius_), std::max(2.0, radius_));
    }
}

}  // namespace pelora
