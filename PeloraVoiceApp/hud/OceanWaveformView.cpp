#include "PeloraVoiceApp/hud/OceanWaveformView.h"

#include "PeloraVoiceApp/hud/UITheme.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

float clampLevel(float level) {
    if (std::isnan(level))
        return 0.1f;
    return std::clamp(level, 0.1f, 1.0f);
}

} // namespace

OceanWaveformView::OceanWaveformView(std::vector<float> levels, double barWidth, double spacing, double maxHeight,
                                     QWidget* parent)
    : QWidget(parent), levels_(std::move(levels)), shown_(levels_), barWidth_(barWidth), spacing_(spacing),
      maxHeight_(maxHeight) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    easeTimer_.setInterval(25);  // 40 frames a second for an ease that no update follows
    easeTimer_.setTimerType(Qt::PreciseTimer);
    connect(&easeTimer_, &QTimer::timeout, this, &OceanWaveformView::step);
}

OceanWaveformView::OceanWaveformView(float audioLevel, bool isRecording, bool isLockedHandsFree, QWidget* parent)
    : OceanWaveformView(levelsFor(audioLevel, isRecording, isLockedHandsFree), defaultBarWidth, defaultSpacing,
                        defaultMaxHeight, parent) {}

std::vector<float> OceanWaveformView::levelsFor(float audioLevel, bool isRecording, bool isLockedHandsFree) {
    static const float weights[] = {0.35f, 0.55f, 0.75f, 0.92f, 1.0f, 0.86f, 0.96f, 1.0f, 0.88f, 0.7f, 0.5f, 0.32f};
    const float level = std::isnan(audioLevel) ? 0.0f : audioLevel;
    const float base = isRecording ? std::clamp(level, 0.08f, 1.0f) : 0.08f;
    const float lift = isLockedHandsFree ? 0.06f : 0.0f;
    std::vector<float> levels;
    levels.reserve(std::size(weights));
    for (float w : weights)
        levels.push_back(std::min(std::max(base * w + lift, 0.1f), 1.0f));
    return levels;
}

double OceanWaveformView::barHeight(std::size_t index, std::size_t count, float level, double maxHeight) {
    const double n = double(count);
    const double distance = std::abs(double(index) - (n - 1) / 2);
    const double factor = 1.0 - 0.35 * distance / std::max(n / 2, 1.0);
    return std::max(4.0, double(clampLevel(level)) * maxHeight * factor);
}

double OceanWaveformView::rowWidth(std::size_t count, double barWidth, double spacing) {
    return count == 0 ? 0.0 : double(count) * barWidth + double(count - 1) * spacing;
}

void OceanWaveformView::paintBars(QPainter& painter, const QRectF& frame, const std::vector<float>& levels,
                                  double barWidth, double spacing, double maxHeight) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const double centreY = frame.center().y();
    const double radius = barWidth * 0.5;
    // One gradient for every bar, laid over each bar's own box (top to bottom).
    static const QBrush fill = [] {
        QLinearGradient gradient(0, 0, 0, 1);
        gradient.setCoordinateMode(QGradient::ObjectMode);
        gradient.setColorAt(0.0, UITheme::Ocean::cyan);
        gradient.setColorAt(0.5, UITheme::Ocean::accent);
        gradient.setColorAt(1.0, UITheme::Ocean::blue);
        return QBrush(gradient);
    }();
    for (std::size_t i = 0; i < levels.size(); ++i) {
        const float v = clampLevel(levels[i]);
        const double height = barHeight(i, levels.size(), v, maxHeight);
        const QRectF bar(frame.left() + double(i) * (barWidth + spacing), centreY - height / 2, barWidth, height);
        // Glow: a soft halo of cyan (about 3 wide) whose strength follows the level.
        const double glow = v * 0.55;
        for (int ring = 2; ring >= 1; --ring) {
            const double grow = 1.5 * ring;
            painter.setBrush(UITheme::withOpacity(UITheme::Ocean::cyan, glow * 0.25 / ring));
            painter.drawRoundedRect(bar.adjusted(-grow, -grow, grow, grow), radius + grow, radius + grow);
        }
        painter.setBrush(fill);
        painter.drawRoundedRect(bar, radius, radius);
    }
    painter.restore();
}

QSize OceanWaveformView::sizeHint() const {
    return QSize(int(std::ceil(rowWidth(levels_.size(), barWidth_, spacing_))), int(std::ceil(maxHeight_)));
}

void OceanWaveformView::setLevels(std::vector<float> levels) {
    if (levels.size() != shown_.size() || !isVisible()) {
        // A new shape, or nobody watching: no ease.
        levels_ = std::move(levels);
        shown_ = levels_;
        easeTimer_.stop();
        update();
        return;
    }
    // The new ease starts where the running one has got to. The frame is drawn on this
    // update's own wake-up; the timer is pushed back each time, so while updates keep
    // coming (50 a second while recording) it never fires and they are the only frames.
    advanceEase();
    from_ = shown_;
    levels_ = std::move(levels);
    easeClock_.start();
    easeTimer_.start();
    update();
}

bool OceanWaveformView::advanceEase() {
    if (from_.size() != shown_.size() || !easeClock_.isValid())
        return true;
    const double t = std::min(1.0, double(easeClock_.elapsed()) / easeMilliseconds);
    if (t >= 1.0) {
        shown_ = levels_;  // exactly, not within a rounding of it
        return true;
    }
    const double eased = 1.0 - (1.0 - t) * (1.0 - t) * (1.0 - t);  // ease-out
    for (std::size_t i = 0; i < shown_.size(); ++i)
        shown_[i] = from_[i] + float(eased) * (levels_[i] - from_[i]);
    return false;
}

void OceanWaveformView::step() {
    // Updates have stopped: finish the ease on our own frames.
    if (advanceEase())
        easeTimer_.stop();
    update();
}

void OceanWaveformView::hideEvent(QHideEvent*) {
    // Nobody watching: arrive at once, and no more frames.
    easeTimer_.stop();
    shown_ = levels_;
}

void OceanWaveformView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const double width = rowWidth(shown_.size(), barWidth_, spacing_);
    const QRectF frame((this->width() - width) / 2, 0, width, height());
    paintBars(painter, frame, shown_, barWidth_, spacing_, maxHeight_);
}
