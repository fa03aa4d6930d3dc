#include "PeloraVoiceApp/hud/UITheme.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>

#include <cmath>

namespace {

QColor srgb(double r, double g, double b) { return QColor::fromRgbF(float(r), float(g), float(b), 1.0f); }

// Qt sizes fonts in whole pixels or in points; fractional pixel sizes go through points at
// the primary screen's logical resolution.
void setPixelSize(QFont& font, double pixelSize) {
    if (std::abs(pixelSize - std::round(pixelSize)) < 1e-6) {
        font.setPixelSize(int(std::lround(pixelSize)));
        return;
    }
    double dpi = 96;
    if (QGuiApplication::instance())
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            dpi = screen->logicalDotsPerInchY();
    font.setPointSizeF(pixelSize * 72.0 / dpi);
}

} // namespace

const QColor UITheme::Ocean::cyan = srgb(0.2, 0.8, 0.9);
const QColor UITheme::Ocean::blue = srgb(0.1, 0.6, 0.9);
const QColor UITheme::Ocean::teal = srgb(0.2, 0.7, 0.8);
const QColor UITheme::Ocean::deep = srgb(0.3, 0.5, 0.9);
const QColor UITheme::Ocean::accent = srgb(0.15, 0.75, 0.85);
const QColor UITheme::Ocean::success = srgb(0.2, 0.8, 0.6);
const QColor UITheme::Ocean::error = srgb(1.0, 0.4, 0.4);
const std::array<QColor, 5> UITheme::Ocean::gradientColors = {
    srgb(0.2, 0.8, 0.9), srgb(0.1, 0.6, 0.9), srgb(0.2, 0.7, 0.8), srgb(0.3, 0.5, 0.9), srgb(0.2, 0.8, 0.9)};

const QColor UITheme::Colors::accent = srgb(0.15, 0.75, 0.85);
const QColor UITheme::Colors::eg2Emerald = srgb(0.2, 0.8, 0.6);
const QColor UITheme::Colors::recordingRed = srgb(1.0, 0.4, 0.4);
const QColor UITheme::Colors::amber = srgb(0.95, 0.62, 0.14);

const QColor UITheme::accentEmerald = srgb(0.15, 0.75, 0.85);
const QColor UITheme::accentSuccess = srgb(0.2, 0.8, 0.6);
const QColor UITheme::accentBlue = srgb(0.1, 0.6, 0.9);
const QColor UITheme::accentAmber = srgb(0.95, 0.62, 0.14);

QColor UITheme::canvasBg() { return QGuiApplication::palette().color(QPalette::Window); }

QColor UITheme::cardBg() { return QGuiApplication::palette().color(QPalette::Base); }

QColor UITheme::subtleBorder() { return withOpacity(QGuiApplication::palette().color(QPalette::WindowText), 0.09); }

QFont UITheme::roundedFont(double pixelSize, QFont::Weight weight) {
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    setPixelSize(font, pixelSize);
    font.setWeight(weight);
    return font;
}

QFont UITheme::monospacedFont(double pixelSize, QFont::Weight weight) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::Monospace);
    setPixelSize(font, pixelSize);
    font.setWeight(weight);
    return font;
}

QColor UITheme::withOpacity(QColor color, double opacity) {
    color.setAlphaF(float(color.alphaF() * opacity));
    return color;
}
