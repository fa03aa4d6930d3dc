#include "PeloraVoiceApp/hud/ShortcutKeycapBadge.h"

#include "PeloraVoiceApp/hud/UITheme.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

constexpr double horizontalPadding = 7;
constexpr double verticalPadding = 3;
constexpr double cornerRadius = 6;

QFont badgeFont() { return UITheme::roundedFont(11, QFont::Bold); }

} // namespace

ShortcutKeycapBadge::ShortcutKeycapBadge(QString text, bool isHighlighted, QWidget* parent)
    : QWidget(parent), text_(std::move(text)), isHighlighted_(isHighlighted) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

ShortcutKeycapBadge::ShortcutKeycapBadge(const QStringList& tokens, bool isHighlighted, QWidget* parent)
    : ShortcutKeycapBadge(tokens.join(QLatin1Char(' ')), isHighlighted, parent) {}

void ShortcutKeycapBadge::setText(QString text) {
    text_ = std::move(text);
    updateGeometry();
    update();
}

void ShortcutKeycapBadge::setHighlighted(bool highlighted) {
    isHighlighted_ = highlighted;
    update();
}

QSize ShortcutKeycapBadge::sizeHint() const {
    const QFontMetricsF metrics(badgeFont());
    return QSize(int(std::ceil(metrics.horizontalAdvance(text_) + 2 * horizontalPadding)),
                 int(std::ceil(metrics.height() + 2 * verticalPadding)));
}

void ShortcutKeycapBadge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor primary = palette().color(QPalette::WindowText);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setBrush(isHighlighted_ ? UITheme::withOpacity(UITheme::Ocean::accent, 0.18)
                                    : UITheme::withOpacity(primary, 0.07));
    painter.setPen(QPen(isHighlighted_ ? UITheme::withOpacity(UITheme::Ocean::accent, 0.5)
                                       : UITheme::withOpacity(primary, 0.15),
                        1.0));
    painter.drawRoundedRect(box, cornerRadius, cornerRadius);
    painter.setFont(badgeFont());
    painter.setPen(primary);
    painter.drawText(QRectF(rect()), Qt::AlignCenter, text_);
}
