#pragma once
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <vector>

// The bar level meter: bars centred vertically, shrinking towards both ends, filled with
// the Ocean gradient and a glow that grows with the level. Level changes ease out over 0.08 s.
class OceanWaveformView : public QWidget {
    Q_OBJECT
public:
    static constexpr double defaultBarWidth = 3.0;
    static constexpr double defaultSpacing = 2.5;
    static constexpr double defaultMaxHeight = 26.0;
    static constexpr int easeMilliseconds = 80;

    explicit OceanWaveformView(std::vector<float> levels, double barWidth = defaultBarWidth,
                               double spacing = defaultSpacing, double maxHeight = defaultMaxHeight,
                               QWidget* parent = nullptr);
    // Twelve levels shaped from one audio level.
    OceanWaveformView(float audioLevel, bool isRecording, bool isLockedHandsFree, QWidget* parent = nullptr);

    const std::vector<float>& levels() const { return levels_; }
    // What is drawn now (on its way to levels() while an ease runs).
    const std::vector<float>& shownLevels() const { return shown_; }
    bool isEasing() const { return easeTimer_.isActive(); }
    void setLevels(std::vector<float> levels);
    double barWidth() const { return barWidth_; }
    double spacing() const { return spacing_; }
    double maxHeight() const { return maxHeight_; }

    // The twelve levels of the one-level constructor.
    static std::vector<float> levelsFor(float audioLevel, bool isRecording, bool isLockedHandsFree);
    // Height of bar `index` of `count` at a level (clamped to 0.1...1.0), at least 4.
    static double barHeight(std::size_t index, std::size_t count, float level, double maxHeight);
    // Width of the row of bars.
    static double rowWidth(std::size_t count, double barWidth, double spacing);
    // Draws the bars centred vertically in `frame`, starting at its left.
    static void paintBars(QPainter& painter, const QRectF& frame, const std::vector<float>& levels, double barWidth,
                          double spacing, double maxHeight);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void step();
    // Moves the shown levels to where the ease is now; true when it has arrived.
    bool advanceEase();

    std::vector<float> levels_;   // the target levels
    std::vector<float> shown_;    // what is drawn now
    std::vector<float> from_;     // where the running ease started
    double barWidth_;
    double spacing_;
    double maxHeight_;
    QElapsedTimer easeClock_;
    QTimer easeTimer_;  // fires only when an ease runs and no update has come for a frame
};
