#include "PeloraVoiceApp/hud/HUDFloatingView.h"

#include "PeloraVoiceApp/hud/HUDPillText.h"
#include "PeloraVoiceApp/hud/OceanProcessingWaveView.h"
#include "PeloraVoiceApp/hud/OceanWaveformView.h"
#include "PeloraVoiceApp/hud/PeloraOceanPillSurface.h"
#include "PeloraVoiceApp/hud/SymbolIcon.h"
#include "PeloraVoiceApp/hud/UITheme.h"

#include <QFontMetricsF>
#include <QHelpEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace {

constexpr double meterBarWidth = 3;
constexpr double meterSpacing = 2.5;
constexpr double meterMaxHeight = 24;
constexpr double targetNameMaxWidth = 150;

QString q(const std::string& s) { return QString::fromStdString(s); }

QFont pillFont(double px, QFont::Weight weight) { return UITheme::roundedFont(px, weight); }

double advance(const QFont& f, const QString& text) { return QFontMetricsF(f).horizontalAdvance(text); }
double lineHeight(const QFont& f) { return QFontMetricsF(f).height(); }

// Digits get one fixed width (the widest digit), so the time does not jiggle as it counts.
double tabularDigitWidth(const QFont& f) {
    const QFontMetricsF metrics(f);
    double widest = 0;
    for (QChar c = u'0'; c <= u'9'; c = QChar(c.unicode() + 1))
        widest = std::max(widest, metrics.horizontalAdvance(c));
    return widest;
}

double tabularAdvance(const QFont& f, const QString& text) {
    const QFontMetricsF metrics(f);
    const double digit = tabularDigitWidth(f);
    double width = 0;
    for (QChar c : text)
        width += c.isDigit() ? digit : metrics.horizontalAdvance(c);
    return width;
}

// The result on its one line, cut at the tail. Shaping costs the whole string, and a long
// file's result runs to tens of thousands of characters: only a head that overflows the
// line at any visible glyph width is shaped.
QString elidedResultLine(const QString& line, const QFont& font, double maxWidth) {
    const QFontMetricsF metrics(font);
    constexpr qsizetype head = 400;
    if (line.size() <= head)
        return metrics.elidedText(line, Qt::ElideRight, maxWidth);
    qsizetype cut = head;
    if (line.at(cut - 1).isHighSurrogate())
        --cut;
    const QString start = line.left(cut);
    const QString shown = metrics.elidedText(start, Qt::ElideRight, maxWidth);
    // A head of marks without width fits whole, yet the text goes on.
    return shown == start ? metrics.elidedText(start + QChar(0x2026), Qt::ElideRight, maxWidth) : shown;
}

void drawTabular(QPainter& painter, const QRectF& box, const QFont& f, const QString& text) {
    const QFontMetricsF metrics(f);
    const double digit = tabularDigitWidth(f);
    const double baseline = box.center().y() - metrics.height() / 2 + metrics.ascent();
    double x = box.left();
    painter.setFont(f);
    for (QChar c : text) {
        const double cell = c.isDigit() ? digit : metrics.horizontalAdvance(c);
        const double glyph = metrics.horizontalAdvance(c);
        painter.drawText(QPointF(x + (cell - glyph) / 2, baseline), QString(c));
        x += cell;
    }
}

// Lays items out left to right, centred vertically on `centreY`.
QRectF itemAt(double& x, double width, double height, double centreY) {
    QRectF r(x, centreY - height / 2, width, height);
    x += width;
    return r;
}

} // namespace

HUDFloatingView::HUDFloatingView(HUDStateModel& model, QWidget* parent)
    : QWidget(parent), model_(model),
      meter_(new OceanWaveformView(model.barLevels(), meterBarWidth, meterSpacing, meterMaxHeight, this)),
      wave_(new OceanProcessingWaveView(this)) {
    setMouseTracking(true);  // hover over the reinsert button brings its help text
    meter_->hide();
    wave_->hide();
    shownLevels_ = model_.barLevels();
    observer_ = model_.observe([this] { modelChanged(); });
    laidOutMode_ = HUDMode::Hidden{};
    relayout();
}

HUDFloatingView::~HUDFloatingView() { model_.unobserve(observer_); }

QFont HUDFloatingView::timeFont() { return pillFont(13, QFont::Bold); }
QFont HUDFloatingView::resultFont() { return pillFont(12.5, QFont::Medium); }

namespace {

QList<QFont> pillFonts() {
    return {HUDFloatingView::timeFont(),         HUDFloatingView::resultFont(),
            pillFont(10, QFont::Bold),           pillFont(10, QFont::Medium),
            pillFont(10.5, QFont::Bold),         pillFont(11, QFont::Bold),
            pillFont(11, QFont::DemiBold),       pillFont(12, QFont::DemiBold),
            UITheme::monospacedFont(10, QFont::DemiBold)};
}

}  // namespace

int HUDFloatingView::firstPaintSteps() { return int(pillFonts().size()) + 1; }

void HUDFloatingView::prepareFirstPaint(int step) {
    QImage canvas(32, 32, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    const QList<QFont> fonts = pillFonts();
    if (step >= 0 && step < fonts.size()) {
        // Kana, kanji, Latin, digits and the marks the pill's texts use.
        const QString sample = QString::fromUtf8(HUDPillText::transcribing) +
                               QString::fromUtf8(HUDPillText::reinsertPrefix) +
                               QStringLiteral("今日は会議の資料を確認しました。クリップボードにコピー ABCxyz 0123456789.ms·×s");
        painter.setFont(fonts[step]);
        painter.drawText(QPointF(0, 16), sample);
        (void)QFontMetricsF(fonts[step]).elidedText(sample, Qt::ElideRight, resultMaxWidth);
    } else if (step == fonts.size()) {
        for (const char* name : {"checkmark.circle.fill", "doc.on.clipboard.fill", "arrow.uturn.forward.circle.fill",
                                 "arrow.right.circle.fill", "xmark"})
            SymbolIcon::paint(painter, QRectF(0, 0, 17, 17), QString::fromLatin1(name), Qt::white);
    }
}

void HUDFloatingView::setTranslucent(bool translucent) {
    translucent_ = translucent;
    update();
}

void HUDFloatingView::modelChanged() {
    if (model_.barLevels() != shownLevels_) {
        shownLevels_ = model_.barLevels();
        meter_->setLevels(shownLevels_);
    }
    if (!(model_.mode() == laidOutMode_)) {
        // Most recording ticks change only the level (not drawn) or a time that reads the
        // same ("%.1fs" moves ten times a second): nothing to lay out or paint.
        const auto* next = model_.mode().as<HUDMode::Recording>();
        const auto* shown = laidOutMode_.as<HUDMode::Recording>();
        if (next && shown && next->targetAppName == shown->targetAppName &&
            next->isHandsFreeLocked == shown->isHandsFreeLocked &&
            QString::fromStdString(HUDPillText::elapsed(next->seconds)) == layout_.timeText) {
            laidOutMode_ = model_.mode();
            return;
        }
        const bool wasRecording = laidOutMode_.as<HUDMode::Recording>() != nullptr;
        const Layout before = layout_;
        laidOutMode_ = model_.mode();
        relayout();
        const Layout& now = layout_;
        // A recording tick changes at most the time (the level payload is not drawn): repaint
        // only that, so fifty ticks a second stay cheap.
        const bool sameFrame = wasRecording && laidOutMode_.as<HUDMode::Recording>() && before.capsule == now.capsule &&
                               before.light == now.light && before.lightColour == now.lightColour &&
                               before.time == now.time && before.target == now.target &&
                               before.targetText == now.targetText && before.handsFree == now.handsFree &&
                               before.meter == now.meter;
        if (!sameFrame)
            update();
        else if (before.timeText != now.timeText)
            update(now.time.toAlignedRect().adjusted(-2, -2, 2, 2));
    }
}

void HUDFloatingView::resizeEvent(QResizeEvent*) { relayout(); }

void HUDFloatingView::relayout() {
    const QRectF previousCapsule = layout_.capsule;
    Layout l;
    const double centreY = height() / 2.0;
    const HUDMode& mode = laidOutMode_;

    // Widths first, then the capsule centred in the view, then each item from its left.
    double padH = 16, padV = 10, spacing = 12, contentHeight = 0;
    std::vector<double> widths;

    if (const auto* r = mode.as<HUDMode::Recording>()) {
        l.borderSelected = true;
        l.lightColour = r->isHandsFreeLocked ? UITheme::Ocean::cyan : UITheme::Ocean::accent;
        l.timeText = q(HUDPillText::elapsed(r->seconds));
        const QFont nameFont = pillFont(11, QFont::DemiBold);
        double targetWidth = 0, badgeWidth = 0;
        if (HUDPillText::showsTarget(r->targetAppName)) {
            l.targetText = QFontMetricsF(nameFont).elidedText(q(*r->targetAppName), Qt::ElideRight, targetNameMaxWidth);
            targetWidth = 7 + 10 + 4 + advance(nameFont, l.targetText) + 7;
        }
        if (r->isHandsFreeLocked)
            badgeWidth = 7 + advance(pillFont(10, QFont::Bold), QString::fromUtf8(HUDPillText::handsFreeBadge)) + 7;
        const double timeWidth = tabularAdvance(timeFont(), l.timeText);
        const double meterWidth = OceanWaveformView::rowWidth(HUDStateModel::barCount, meterBarWidth, meterSpacing);
        widths = {22, timeWidth};
        if (targetWidth > 0)
            widths.push_back(targetWidth);
        if (badgeWidth > 0)
            widths.push_back(badgeWidth);
        widths.push_back(meterWidth);
        contentHeight = std::max({22.0, meterMaxHeight, lineHeight(timeFont())});

        double total = 2 * padH + spacing * double(widths.size() - 1);
        for (double w : widths)
            total += w;
        l.capsule = QRectF((width() - total) / 2, centreY - (contentHeight + 2 * padV) / 2, total,
                           contentHeight + 2 * padV);
        double x = l.capsule.left() + padH;
        l.light = itemAt(x, 22, 22, centreY);
        x += spacing;
        l.time = itemAt(x, timeWidth, lineHeight(timeFont()), centreY);
        x += spacing;
        if (targetWidth > 0) {
            l.target = itemAt(x, targetWidth, lineHeight(nameFont) + 6, centreY);
            l.targetSymbol = QRectF(l.target.left() + 7, centreY - 5, 10, 10);
            l.targetName = QRectF(l.targetSymbol.right() + 4, l.target.top(), advance(nameFont, l.targetText),
                                  l.target.height());
            x += spacing;
        }
        if (badgeWidth > 0) {
            l.handsFree = itemAt(x, badgeWidth, lineHeight(pillFont(10, QFont::Bold)) + 6, centreY);
            x += spacing;
        }
        l.meter = itemAt(x, meterWidth, meterMaxHeight, centreY);
    } else if (const auto* t = mode.as<HUDMode::Transcribing>()) {
        l.borderSelected = true;
        const QFont titleFont = pillFont(12, QFont::DemiBold);
        const QFont lineFont = pillFont(10, QFont::Medium);
        const QString title = QString::fromUtf8(HUDPillText::transcribing);
        double columnWidth = advance(titleFont, title);
        double columnHeight = lineHeight(titleFont);
        if (HUDPillText::showsTarget(t->targetAppName)) {
            l.targetText = QFontMetricsF(lineFont).elidedText(
                QString::fromUtf8(HUDPillText::targetPrefix) + q(*t->targetAppName), Qt::ElideRight, 300);
            columnWidth = std::max(columnWidth, advance(lineFont, l.targetText));
            columnHeight += 1 + lineHeight(lineFont);
        }
        const QSizeF waveSize(OceanProcessingWaveView::canvasSize);
        contentHeight = std::max(waveSize.height(), columnHeight);
        const double total = 2 * padH + waveSize.width() + spacing + columnWidth;
        l.capsule = QRectF((width() - total) / 2, centreY - (contentHeight + 2 * padV) / 2, total,
                           contentHeight + 2 * padV);
        double x = l.capsule.left() + padH;
        l.wave = itemAt(x, waveSize.width(), waveSize.height(), centreY);
        x += spacing;
        const double top = centreY - columnHeight / 2;
        l.title = QRectF(x, top, advance(titleFont, title), lineHeight(titleFont));
        if (!l.targetText.isEmpty())
            l.targetLine = QRectF(x, l.title.bottom() + 1, advance(lineFont, l.targetText), lineHeight(lineFont));
    } else if (const auto* c = mode.as<HUDMode::Completed>()) {
        padH = 14;
        padV = 9;
        spacing = 10;
        l.borderSelected = c->isDirectInsert;
        l.symbolName = c->isDirectInsert ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("doc.on.clipboard.fill");
        l.outcomeColour = c->isDirectInsert ? UITheme::Ocean::success : UITheme::Ocean::cyan;
        const QFont summaryFont = pillFont(10.5, QFont::Bold);
        const QFont latencyFont = UITheme::monospacedFont(10, QFont::DemiBold);
        const QFont labelFont = pillFont(11, QFont::Bold);
        l.latencyText = q(HUDPillText::latency(c->latencyMs, c->rtfx));
        l.resultText = elidedResultLine(q(HUDPillText::resultLine(c->text)), resultFont(), resultMaxWidth);
        l.reinsertText = QString::fromUtf8(HUDPillText::reinsertPrefix) + q(c->reinsertBadge);
        l.tooltip = q(HUDPillText::reinsertTooltip(c->reinsertBadge));

        const QString summary = q(c->outcomeSummary);
        const double summaryWidth = advance(summaryFont, summary);
        const double latencyWidth = advance(latencyFont, l.latencyText);
        const double detailHeight = std::max(lineHeight(summaryFont), lineHeight(latencyFont));
        const double resultWidth = std::min(resultMaxWidth, advance(resultFont(), l.resultText));
        const double columnWidth = std::max(summaryWidth + 6 + latencyWidth, resultWidth);
        const double columnHeight = detailHeight + 2 + lineHeight(resultFont());
        const double symbolSide = 17;
        const double buttonWidth = 9 + 11 + 4 + advance(labelFont, l.reinsertText) + 9;
        const double buttonHeight = lineHeight(labelFont) + 10;
        contentHeight = std::max({columnHeight, buttonHeight, symbolSide, 20.0});
        const double total = 2 * padH + symbolSide + columnWidth + buttonWidth + 20 + 3 * spacing;
        l.capsule = QRectF((width() - total) / 2, centreY - (contentHeight + 2 * padV) / 2, total,
                           contentHeight + 2 * padV);
        double x = l.capsule.left() + padH;
        l.symbol = itemAt(x, symbolSide, symbolSide, centreY);
        x += spacing;
        const double top = centreY - columnHeight / 2;
        l.summary = QRectF(x, top, summaryWidth, detailHeight);
        l.latency = QRectF(x + summaryWidth + 6, top, latencyWidth, detailHeight);
        l.result = QRectF(x, top + detailHeight + 2, resultWidth, lineHeight(resultFont()));
        x += columnWidth + spacing;
        l.reinsert = itemAt(x, buttonWidth, buttonHeight, centreY);
        l.reinsertSymbol = QRectF(l.reinsert.left() + 9, centreY - 5.5, 11, 11);
        l.reinsertLabel = QRectF(l.reinsertSymbol.right() + 4, l.reinsert.top(), advance(labelFont, l.reinsertText),
                                 l.reinsert.height());
        x += spacing;
        l.close = itemAt(x, 20, 20, centreY);
    }

    layout_ = l;
    meter_->setVisible(!l.meter.isEmpty());
    if (!l.meter.isEmpty())
        meter_->setGeometry(l.meter.toAlignedRect());
    wave_->setVisible(!l.wave.isEmpty());
    if (!l.wave.isEmpty())
        wave_->move(l.wave.topLeft().toPoint());
    if (layout_.capsule != previousCapsule && onCapsuleChanged)
        onCapsuleChanged(layout_.capsule);
}

void HUDFloatingView::paintEvent(QPaintEvent* event) {
    const Layout& l = layout_;
    if (l.capsule.isEmpty())
        return;
    QPainter painter(this);
    // Most repaints are the meter's or the time's small rectangles: draw only what they touch.
    const QRectF dirty = event->rect();
    const auto touches = [&](const QRectF& item) { return dirty.intersects(item.adjusted(-6, -6, 6, 6)); };
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    // The surface changes only with the capsule; it is drawn once into a cache.
    const double ratio = devicePixelRatioF();
    if (surfaceCache_.isNull() || surfaceCapsule_ != l.capsule || surfaceSelected_ != l.borderSelected ||
        surfaceTranslucent_ != translucent_ || surfaceCache_.devicePixelRatio() != ratio) {
        surfaceCache_ = QPixmap((QSizeF(size()) * ratio).toSize());
        surfaceCache_.setDevicePixelRatio(ratio);
        surfaceCache_.fill(Qt::transparent);
        QPainter cachePainter(&surfaceCache_);
        PeloraOceanPillSurface::paint(cachePainter, l.capsule, l.borderSelected, translucent_);
        surfaceCapsule_ = l.capsule;
        surfaceSelected_ = l.borderSelected;
        surfaceTranslucent_ = translucent_;
    }
    painter.drawPixmap(dirty, surfaceCache_, QRectF(dirty.topLeft() * ratio, dirty.size() * ratio));
    const HUDMode& mode = laidOutMode_;

    if (const auto* r = mode.as<HUDMode::Recording>()) {
        if (touches(l.light)) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(UITheme::withOpacity(l.lightColour, 0.25));
            painter.drawEllipse(l.light);
            const QPointF centre = l.light.center();
            for (int ring = 5; ring >= 1; --ring) {  // the dot's cyan glow
                painter.setBrush(UITheme::withOpacity(UITheme::Ocean::cyan, 0.9 / 6));
                painter.drawEllipse(centre, 4.5 + ring, 4.5 + ring);
            }
            painter.setBrush(l.lightColour);
            painter.drawEllipse(centre, 4.5, 4.5);
        }

        if (touches(l.time)) {
            painter.setPen(Qt::white);
            drawTabular(painter, l.time, timeFont(), l.timeText);
        }

        if (!l.target.isEmpty() && touches(l.target)) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(UITheme::withOpacity(UITheme::Ocean::accent, 0.2));
            painter.drawPath(PeloraOceanPillSurface::capsulePath(l.target));
            const QColor ink = UITheme::withOpacity(Qt::white, 0.92);
            SymbolIcon::paint(painter, l.targetSymbol, QStringLiteral("arrow.right.circle.fill"), ink);
            painter.setPen(ink);
            painter.setFont(pillFont(11, QFont::DemiBold));
            painter.drawText(l.targetName, Qt::AlignLeft | Qt::AlignVCenter, l.targetText);
        }
        if (!l.handsFree.isEmpty() && touches(l.handsFree)) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(UITheme::withOpacity(Qt::white, 0.12));
            painter.drawPath(PeloraOceanPillSurface::capsulePath(l.handsFree));
            painter.setPen(UITheme::Ocean::cyan);
            painter.setFont(pillFont(10, QFont::Bold));
            painter.drawText(l.handsFree, Qt::AlignCenter, QString::fromUtf8(HUDPillText::handsFreeBadge));
        }
        (void)r;
    } else if (mode.as<HUDMode::Transcribing>()) {
        painter.setPen(Qt::white);
        painter.setFont(pillFont(12, QFont::DemiBold));
        painter.drawText(l.title, Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf8(HUDPillText::transcribing));
        if (!l.targetLine.isEmpty()) {
            painter.setPen(UITheme::withOpacity(UITheme::Ocean::cyan, 0.9));
            painter.setFont(pillFont(10, QFont::Medium));
            painter.drawText(l.targetLine, Qt::AlignLeft | Qt::AlignVCenter, l.targetText);
        }
    } else if (const auto* c = mode.as<HUDMode::Completed>()) {
        SymbolIcon::paint(painter, l.symbol, l.symbolName, l.outcomeColour);
        painter.setPen(l.outcomeColour);
        painter.setFont(pillFont(10.5, QFont::Bold));
        painter.drawText(l.summary, Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(c->outcomeSummary));
        painter.setPen(UITheme::withOpacity(Qt::white, 0.6));
        painter.setFont(UITheme::monospacedFont(10, QFont::DemiBold));
        painter.drawText(l.latency, Qt::AlignLeft | Qt::AlignVCenter, l.latencyText);
        painter.setPen(Qt::white);
        painter.setFont(resultFont());
        painter.drawText(l.result, Qt::AlignLeft | Qt::AlignVCenter, l.resultText);

        painter.setPen(Qt::NoPen);
        painter.setBrush(UITheme::withOpacity(UITheme::Ocean::accent, 0.28));
        painter.drawPath(PeloraOceanPillSurface::capsulePath(l.reinsert));
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(UITheme::withOpacity(UITheme::Ocean::cyan, 0.55), 1));
        painter.drawPath(PeloraOceanPillSurface::capsulePath(l.reinsert.adjusted(0.5, 0.5, -0.5, -0.5)));
        SymbolIcon::paint(painter, l.reinsertSymbol, QStringLiteral("arrow.uturn.forward.circle.fill"), Qt::white);
        painter.setPen(Qt::white);
        painter.setFont(pillFont(11, QFont::Bold));
        painter.drawText(l.reinsertLabel, Qt::AlignLeft | Qt::AlignVCenter, l.reinsertText);

        painter.setPen(Qt::NoPen);
        painter.setBrush(UITheme::withOpacity(Qt::white, 0.08));
        painter.drawEllipse(l.close);
        SymbolIcon::paint(painter, l.close.adjusted(5, 5, -5, -5), QStringLiteral("xmark"),
                          UITheme::withOpacity(Qt::white, 0.55));
    }
}

HUDFloatingView::Button HUDFloatingView::buttonAt(QPointF point) const {
    if (!model_.mode().as<HUDMode::Completed>())
        return Button::none;
    if (layout_.reinsert.contains(point))
        return Button::reinsert;
    if (layout_.close.contains(point))
        return Button::close;
    return Button::none;
}

void HUDFloatingView::mousePressEvent(QMouseEvent* event) {
    pressed_ = buttonAt(event->position());
    event->accept();
}

void HUDFloatingView::mouseReleaseEvent(QMouseEvent* event) {
    const Button released = buttonAt(event->position());
    const Button pressed = std::exchange(pressed_, Button::none);
    event->accept();
    if (released == Button::none || released != pressed)
        return;
    // Copied first: the callback may hide the panel and change the model.
    if (released == Button::reinsert) {
        if (auto callback = model_.onReinsertRequested)
            callback();
    } else if (auto callback = model_.onDismissRequested) {
        callback();
    }
}

bool HUDFloatingView::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (buttonAt(help->pos()) == Button::reinsert)
            QToolTip::showText(help->globalPos(), layout_.tooltip, this, layout_.reinsert.toAlignedRect());
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}
