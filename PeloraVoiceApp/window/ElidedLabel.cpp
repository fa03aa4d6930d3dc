#include "PeloraVoiceApp/window/ElidedLabel.h"

#include <QFontMetrics>
#include <QResizeEvent>

#include <cmath>

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

QString ElidedLabel::lineForEliding(QString text, double width) {
    qsizetype keep = qsizetype(std::ceil(std::max(0.0, width))) + 2;
    if (text.size() > keep + 2) {
        if (text.at(keep - 1).isHighSurrogate()) ++keep;
        text.truncate(keep);
        text += QStringLiteral("……");
    }
    return text;
}

void ElidedLabel::elide() {
    QString line = full_;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const int width = std::max(0, contentsRect().width());
    setText(fontMetrics().elidedText(lineForEliding(line, width), Qt::ElideRight, width));
}

}  // namespace pelora
