#include "PeloraVoiceApp/window/ElidedLabel.h"

#include <QFontMetrics>
#include <QResizeEvent>

namespace pelora {

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setTextFormat(Qt::PlainText);
}

void ElidedLabel::setFullText(const QString& text) {
    full_ = text;
    setToolTip(text);
    setAccessibleName(text);
    elide();
}

QSize ElidedLabel::minimumSizeHint() const { return {0, QLabel::minimumSizeHint().height()}; }

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::elide() {
    QString line = full_;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    setText(fontMetrics().elidedText(line, Qt::ElideRight, std::max(0, contentsRect().width())));
}

}  // namespace pelora
