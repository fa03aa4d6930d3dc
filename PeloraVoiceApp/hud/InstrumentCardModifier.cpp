#include "PeloraVoiceApp/hud/InstrumentCardModifier.h"

#include "PeloraVoiceApp/hud/UITheme.h"

#include <QPainter>
#include <QVBoxLayout>

InstrumentCardModifier::InstrumentCardModifier(QWidget* content, bool isHighlighted, QWidget* parent)
    : QWidget(parent), content_(content), isHighlighted_(isHighlighted) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(padding, padding, padding, padding);
    if (content_)
        layout->addWidget(content_);
}

void InstrumentCardModifier::setHighlighted(bool highlighted) {
    isHighlighted_ = highlighted;
    update();
}

void InstrumentCardModifier::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double lineWidth = isHighlighted_ ? 1.5 : 1.0;
    const QColor outline = isHighlighted_ ? UITheme::withOpacity(UITheme::Ocean::accent, 0.55)
                                          : UITheme::withOpacity(palette().color(QPalette::WindowText), 0.09);
    const double inset = lineWidth / 2;
    painter.setBrush(UITheme::cardBg());
    painter.setPen(QPen(outline, lineWidth));
    painter.drawRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), cornerRadius, cornerRadius);
}

InstrumentCardModifier* instrumentCard(QWidget* content, bool highlighted, QWidget* parent) {
    return new InstrumentCardModifier(content, highlighted, parent);
}
