#include "PeloraVoiceApp/window/CardFrame.h"

#include <QPainter>
#include <QPainterPath>

namespace pelora {

CardFrame::CardFrame(double radius, QColor fill, QWidget* parent) : QWidget(parent), radius_(radius), fill_(fill) {}

void CardFrame::setOutline(QColor color, double width) {
    if (outline_ == color && outlineWidth_ == width) return;
    outline_ = color;
    outlineWidth_ = width;
    update();
}

void CardFrame::setFill(QColor color) {
    fill_ = color;
    update();
}

void CardFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect());
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill_);
    painter.drawRoundedRect(box, radius_, radius_);
    if (outlineWidth_ > 0 && outline_.alpha() > 0) {
        const double half = outlineWidth_ / 2;
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(outline_, outlineWidth_));
        painter.drawRoundedRect(box.adjusted(half, half, -half, -half), radius_ - half, radius_ - half);
    }
}

}  // namespace pelora
