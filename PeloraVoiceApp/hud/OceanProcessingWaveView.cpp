#include "PeloraVoiceApp/hud/OceanProcessingWaveView.h"

#include "PeloraVoiceApp/hud/UITheme.h"

#include <QDateTime>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <numbers>

OceanProcessingWaveView::OceanProcessingWaveView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(canvasSize);
    timer_.setInterval(frameIntervalMs);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

double OceanProcessingWaveView::waveY(double x, double width, double height, double t) {
    const double p = x / width * std::numbers::pi;
    return height * 0.5 + std::sin(p) * height * 0.36 * std::sin(3 * p - 4.5 * t);
}

double OceanProcessingWaveView::timelineSeconds() {
    static constexpr qint64 referenceDateMs = 978307200000;  // 2001-01-01T00:00:00Z
    return double(QDateTime::currentMSecsSinceEpoch() - referenceDateMs) / 1000.0;
}

void OceanProcessingWaveView::paintWave(QPainter& painter, const QRectF& frame, double t) {
    const double w = frame.width(), h = frame.height();
    QPainterPath path;
    for (int x = 0; x <= int(w); ++x) {
        const QPointF point(frame.left() + x, frame.top() + waveY(x, w, h, t));
        if (x == 0)
            path.moveTo(point);
        else
            path.lineTo(point);
    }
    QLinearGradient stroke(frame.topLeft(), frame.topRight());
    stroke.setColorAt(0.0, UITheme::Ocean::cyan);
    stroke.setColorAt(0.5, UITheme::Ocean::accent);
    stroke.setColorAt(1.0, UITheme::Ocean::blue);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QBrush(stroke), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(path);
    painter.restore();
}

double OceanProcessingWaveView::cycleSeconds() { return 2 * std::numbers::pi / 4.5; }

int OceanProcessingWaveView::frameAt(double t) {
    const double cycle = cycleSeconds();
    double within = std::fmod(t, cycle);
    if (within < 0)
        within += cycle;
    return std::min(framesPerCycle - 1, int(within / cycle * framesPerCycle));
}

const QImage& OceanProcessingWaveView::frame(int index) {
    const double ratio = devicePixelRatioF();
    if (frames_.size() != std::size_t(framesPerCycle) || framesRatio_ != ratio) {
        frames_.assign(framesPerCycle, QImage());
        framesRatio_ = ratio;
    }
    QImage& image = frames_[std::size_t(index)];
    if (image.isNull()) {
        image = QImage((QSizeF(canvasSize) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        paintWave(painter, QRectF(QPointF(0, 0), QSizeF(canvasSize)), index * cycleSeconds() / framesPerCycle);
    }
    return image;
}

void OceanProcessingWaveView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(QPointF(0, 0), frame(frameAt(timelineSeconds())));
}

void OceanProcessingWaveView::showEvent(QShowEvent*) { timer_.start(); }

void OceanProcessingWaveView::hideEvent(QHideEvent*) { timer_.stop(); }
