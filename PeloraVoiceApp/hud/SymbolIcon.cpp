#include "PeloraVoiceApp/hud/SymbolIcon.h"

#include <QFile>
#include <QHash>
#include <QPaintDevice>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>

// Resources of a static library must be registered by hand.
static void registerSymbolResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(hud_symbols);
        return true;
    }();
    (void)registered;
}

namespace {

QString pathFor(const QString& name) { return QStringLiteral(":/symbols/") + name + QStringLiteral(".svg"); }

} // namespace

bool SymbolIcon::exists(const QString& name) {
    registerSymbolResources();
    return QFile::exists(pathFor(name));
}

QImage SymbolIcon::image(const QString& name, double pixelSize, const QColor& color, double devicePixelRatio) {
    registerSymbolResources();
    static QHash<QString, QImage> cache;
    const int side = std::max(1, int(std::lround(pixelSize * devicePixelRatio)));
    const QString key = name + QLatin1Char('/') + QString::number(side) + QLatin1Char('/') +
                        QString::number(color.rgba(), 16) + QLatin1Char('/') + QString::number(devicePixelRatio);
    if (auto it = cache.constFind(key); it != cache.constEnd())
        return *it;

    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(pathFor(name));
    if (renderer.isValid()) {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, side, side));
        // Tint: keep the drawn shape's coverage, take the colour.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
    }
    image.setDevicePixelRatio(devicePixelRatio);
    cache.insert(key, image);
    return image;
}

void SymbolIcon::paint(QPainter& painter, const QRectF& box, const QString& name, const QColor& color) {
    const double side = std::min(box.width(), box.height());
    const double ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QImage symbol = image(name, side, color, ratio);
    const QRectF target(box.center().x() - side / 2, box.center().y() - side / 2, side, side);
    painter.drawImage(target, symbol);
}
