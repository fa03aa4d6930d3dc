#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

// Our own symbols (SVG) in one colour for the window's pages, menus and tray: black parts of
// a symbol take the colour, white parts are holes.
namespace window_symbol {

bool exists(const QString& name);
QPixmap pixmap(const QString& name, double pixelSize, const QColor& color, double devicePixelRatio = 1.0);
QIcon icon(const QString& name, const QColor& color, double pixelSize = 16);

}  // namespace window_symbol
