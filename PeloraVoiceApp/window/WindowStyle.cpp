#include "PeloraVoiceApp/window/WindowStyle.h"

#include "PeloraVoiceApp/hud/UITheme.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPalette>
#include <QWidget>

namespace window_style {

QFont font(double pixelSize, QFont::Weight weight) { return UITheme::roundedFont(pixelSize, weight); }
QFont monospaced(double pixelSize, QFont::Weight weight) { return UITheme::monospacedFont(pixelSize, weight); }

QColor primary() { return QApplication::palette().color(QPalette::WindowText); }
QColor secondary() { return withOpacity(primary(), 0.50); }
QColor tertiary() { return withOpacity(primary(), 0.26); }
QColor quaternary() { return withOpacity(primary(), 0.10); }
QColor orange() { return QColor::fromRgbF(1.0f, 0.58f, 0.0f); }
QColor red() { return QColor::fromRgbF(1.0f, 0.23f, 0.19f); }
QColor controlBackground() { return QApplication::palette().color(QPalette::Button); }
QColor windowBackground() { return QApplication::palette().color(QPalette::Window); }
QColor withOpacity(QColor color, double opacity) { return UITheme::withOpacity(color, opacity); }

QString css(const QColor& color) {
    return QStringLiteral("rgba(%1, %2, %3, %4)").arg(color.red()).arg(color.green()).arg(color.blue()).arg(color.alpha());
}

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    palette.setColor(QPalette::ButtonText, color);
    widget->setPalette(palette);
}

}  // namespace window_style
