#include "PeloraVoiceApp/window/WindowSymbol.h"

#include "PeloraVoiceApp/window/WindowResources.h"

#include <QFile>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>

namespace window_symbol {

namespace {
QString pathFor(const QString& name) { return QStringLiteral(":/symbols/") + name + QStringLiteral(".svg"); }
}  // namespace

bool exists(const QString& name) {
    registerWindowResources();
    return QFile::exists(pathFor(name));
}

QPixmap pixmap(const QString& name, double pixelSize, const QColor& color, double devicePixelRatio) {
    registerWindowResources();
    static QHash<QString, QPixmap> cache;
    const int side = std::max(1, int(std::lround(pixelSize * devicePixelRatio)));
    const QString key = name + QLatin1Char('/') + QString::number(side) + QLatin1Char('/') +
                        QString::number(color.rgba(), 16) + QLatin1Char('/') + QString::number(devicePixelRatio);
    if (auto it = cache.constFind(key); it != cache.constEnd()) return *it;

    QImage drawn(side, side, QImage::Format_ARGB32);
    drawn.fill(Qt::transparent);
    QSvgRenderer renderer(pathFor(name));
    if (renderer.isValid()) {
        QPainter painter(&drawn);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, side, side));
    }
    // Coverage from darkness: black keeps its coverage, white drawn over it cuts a hole.
    QImage tinted(side, side, QImage::Format_ARGB32);
    for (int y = 0; y < side; ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(drawn.constScanLine(y));
        auto* out = reinterpret_cast<QRgb*>(tinted.scanLine(y));
        for (int x = 0; x < side; ++x) {
            const double light = qGray(in[x]) / 255.0;
            const double coverage = qAlpha(in[x]) / 255.0 * (1.0 - light) * color.alphaF();
            out[x] = qRgba(color.red(), color.green(), color.blue(), int(std::lround(coverage * 255)));
        }
    }
    QPixmap result = QPixmap::fromImage(tinted);
    result.setDevicePixelRatio(devicePixelRatio);
    cache.insert(key, result);
    return result;
}

QIcon icon(const QString& name, const QColor& color, double pixelSize) {
    QIcon result;
    result.addPixmap(pixmap(name, pixelSize, color, 1.0));
    result.addPixmap(pixmap(name, pixelSize, color, 2.0));
    return result;
}

}  // namespace window_symbol
