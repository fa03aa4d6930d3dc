#pragma once
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <vector>

// The travelling wave shown while transcribing: 56 × 20, redrawn at most 30 times a second
// and only while visible.
class OceanProcessingWaveView : public QWidget {
    Q_OBJECT
public:
    static constexpr int frameIntervalMs = 34;  // at most 30 frames a second
    static constexpr QSize canvasSize{56, 20};

    explicit OceanProcessingWaveView(QWidget* parent = nullptr);

    double phase() const { return phase_; }
    // The wave's height at x of a canvas W × H at time t (seconds since the reference date).
    static double waveY(double x, double width, double height, double t);
    // Draws the wave of time t into `frame`.
    static void paintWave(QPainter& painter, const QRectF& frame, double t);
    // Seconds since 2001-01-01 UTC, the time base the wave moves on.
    static double timelineSeconds();

    // The wave repeats every 2π/4.5 s; it is drawn as that many frames of the cycle at 30
    // a second, each painted once and then copied (a gradient stroke costs far more).
    static constexpr int framesPerCycle = 42;
    static double cycleSeconds();
    // The frame of the cycle shown at time t.
    static int frameAt(double t);

    bool isAnimating() const { return timer_.isActive(); }
    QSize sizeHint() const override { return canvasSize; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    const QImage& frame(int index);

    double phase_ = 0;
    std::vector<QImage> frames_;  // painted on first use, at the window's pixel ratio
    double framesRatio_ = 0;
    QTimer timer_;
};
