#pragma once
#include "PeloraVoiceApp/hud/HUDStateModel.h"

#include <QFont>
#include <QPixmap>
#include <QRectF>
#include <QString>
#include <QWidget>

#include <functional>

class OceanWaveformView;
class OceanProcessingWaveView;

// The panel's content: one dark capsule whose inside follows the model's mode (recording
// light, time, target, hands-free badge and meter; the transcribing wave; the result with
// its outcome, reinsert and close buttons). Painted with QPainter; it redraws on every
// change of the model.
class HUDFloatingView : public QWidget {
    Q_OBJECT
public:
    // Where everything sits, in the view's coordinates (empty rectangles for what the mode
    // does not show).
    struct Layout {
        QRectF capsule;
        bool borderSelected = false;
        // recording
        QRectF light, time, target, targetSymbol, targetName, handsFree, meter;
        QColor lightColour;
        // transcribing
        QRectF wave, title, targetLine;
        // completed
        QRectF symbol, summary, latency, result, reinsert, reinsertSymbol, reinsertLabel, close;
        QString symbolName;
        QColor outcomeColour;
        // texts as drawn (elided where they must fit)
        QString timeText, targetText, latencyText, resultText, reinsertText, tooltip;
    };

    static constexpr double resultMaxWidth = 230;
    static constexpr double outerPadding = 8;

    explicit HUDFloatingView(HUDStateModel& model, QWidget* parent = nullptr);
    ~HUDFloatingView() override;

    const Layout& currentLayout() const { return layout_; }
    // Whether the surface is drawn translucent with shadows (a compositor runs) or opaque
    // inside a shaped window.
    void setTranslucent(bool translucent);
    // Told whenever the capsule's rectangle changes (the panel shapes its window to it).
    std::function<void(const QRectF&)> onCapsuleChanged;

    OceanWaveformView* meter() const { return meter_; }
    OceanProcessingWaveView* processingWave() const { return wave_; }

    // The fonts of the pill.
    static QFont timeFont();
    static QFont resultFont();

    // Loads what the pill's first appearance would otherwise load on the spot: its fonts
    // (with the fallback that holds Japanese), their glyphs and the symbols. Shows nothing.
    // Done in steps 0 ... firstPaintSteps - 1, each short enough for one turn of the loop.
    static int firstPaintSteps();
    static void prepareFirstPaint(int step);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    enum class Button { none, reinsert, close };

    void modelChanged();
    void relayout();
    Button buttonAt(QPointF point) const;

    HUDStateModel& model_;
    HUDStateModel::ObserverId observer_;
    HUDMode laidOutMode_;
    std::vector<float> shownLevels_;
    Layout layout_;
    bool translucent_ = false;
    Button pressed_ = Button::none;
    QPixmap surfaceCache_;
    QRectF surfaceCapsule_;
    bool surfaceSelected_ = false;
    bool surfaceTranslucent_ = false;
    OceanWaveformView* meter_;
    OceanProcessingWaveView* wave_;
};
