#pragma once
// Text as it reached the screen, for GUI tests on the private desktop (Qt programs only;
// header-only, so the support library itself needs no Qt):
//   - grabScreen(): a screenshot of the X root window;
//   - compareText(): the ink of a screen region against the same text drawn here, in a
//     font and colour the test names, and against the boxes of missing glyphs;
//   - missingGlyphs(): the characters of a text that no installed font can draw.
#include <QFont>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QString>
#include <QStringList>
#include <QTextLayout>

#include <algorithm>
#include <cstdlib>
#include <map>

namespace pelora::testing {

inline QImage grabScreen() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
}

inline int colourDistance(QColor a, QColor b) {
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
}

// The most frequent colour of a region: the background that text is drawn on.
inline QColor dominantColour(const QImage& image, const QRect& region) {
    std::map<QRgb, int> counts;
    for (int y = region.top(); y <= region.bottom(); ++y)
        for (int x = region.left(); x <= region.right(); ++x) ++counts[image.pixel(x, y)];
    QRgb best = 0;
    int most = -1;
    for (const auto& [colour, count] : counts)
        if (count > most) {
            best = colour;
            most = count;
        }
    return QColor(best);
}

struct TextInk {
    int inked = 0;           // pixels the text drawn here changes from the background
    int differing = 0;       // pixels where the screen and the text drawn here differ
    int differingBoxes = 0;  // pixels where the screen and as many boxes (missing glyphs) differ
};

// Draws `text` in `font` and `colour` into `region` of a copy of the screen's background
// (`rect` is where the text's box lies on the screen, in device pixels; `flags` are
// QPainter::drawText flags), and compares it with what `screen` shows there, pixel by pixel
// (a pixel differs when a channel is off by more than `tolerance`).
inline TextInk compareText(const QImage& screen, const QRect& rect, const QString& text, const QFont& font,
                           const QColor& colour, int flags, int tolerance = 48) {
    const QRect region = rect.intersected(screen.rect());
    TextInk ink;
    if (region.isEmpty()) return ink;
    const QColor background = dominantColour(screen, region);
    auto draw = [&](const QString& what) {
        QImage image(region.size(), QImage::Format_RGB32);
        image.fill(background);
        QPainter painter(&image);
        painter.setFont(font);
        painter.setPen(colour);
        painter.drawText(QRect(rect.topLeft() - region.topLeft(), rect.size()), flags, what);
        return image;
    };
    const QImage expected = draw(text);
    // Boxes: code points no font has, as many as the text has characters.
    QString boxes;
    for (QChar c : text) boxes += c.isSpace() ? c : QChar(0x0378);
    const QImage missing = draw(boxes);
    for (int y = 0; y < region.height(); ++y) {
        for (int x = 0; x < region.width(); ++x) {
            const QColor shown = screen.pixelColor(region.left() + x, region.top() + y);
            const QColor drawn = expected.pixelColor(x, y);
            ink.inked += colourDistance(drawn, background) > tolerance;
            ink.differing += colourDistance(shown, drawn) > tolerance;
            ink.differingBoxes += colourDistance(shown, missing.pixelColor(x, y)) > tolerance;
        }
    }
    return ink;
}

// The characters of `text` that neither `font` nor any fallback font has a glyph for
// (laid out one by one: glyph 0 is the "missing glyph" box).
inline QStringList missingGlyphs(const QString& text, const QFont& font) {
    QStringList missing;
    const auto codePoints = text.toUcs4();
    for (char32_t codePoint : codePoints) {
        const QString one = QString::fromUcs4(&codePoint, 1);
        if (one.trimmed().isEmpty() || QChar::category(codePoint) == QChar::Other_Control ||
            QChar::category(codePoint) == QChar::Other_Format)
            continue;
        QTextLayout layout(one, font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        bool drawn = false;
        for (const QGlyphRun& run : layout.glyphRuns())
            for (quint32 index : run.glyphIndexes()) drawn = drawn || index != 0;
        if (!drawn && !missing.contains(one)) missing.push_back(one);
    }
    return missing;
}

}  // namespace pelora::testing
