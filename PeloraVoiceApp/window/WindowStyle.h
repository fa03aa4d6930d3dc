#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QWidget;

// The window's look: 1 pt is one device-independent pixel, fonts are sized in pixels and the
// rounded font is the default sans. Secondary, tertiary and quaternary are the text colour
// at 50, 26 and 10 %.
namespace window_style {

QFont font(double pixelSize, QFont::Weight weight = QFont::Normal);
QFont monospaced(double pixelSize, QFont::Weight weight = QFont::Normal);

QColor primary();
QColor secondary();
QColor tertiary();
QColor quaternary();
QColor orange();  // sRGB (1.0, 0.58, 0.0)
QColor red();     // sRGB (1.0, 0.23, 0.19)
QColor controlBackground();
QColor windowBackground();
QColor withOpacity(QColor color, double opacity);

// "rgba(r, g, b, a)" for style sheets.
QString css(const QColor& color);
// Sets the widget's text colour through its palette.
void setTextColor(QWidget* widget, const QColor& color);

}  // namespace window_style
