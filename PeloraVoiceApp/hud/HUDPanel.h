#pragma once
#include "PeloraVoiceApp/MainThreadScheduler.h"
#include "PeloraVoiceApp/hud/HUDPlacement.h"
#include "PeloraVoiceApp/hud/HUDPresenter.h"
#include "PeloraVoiceApp/hud/HUDWindow.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class HUDFloatingView;

// The overlay's window: a 520 × 68 top-level that the window manager never manages
// (override-redirect), above everything, on every workspace and in no task bar. It never
// takes the focus; it lets clicks through except while it shows a result; it never grabs
// the pointer or keyboard. Without a compositor it is shaped to the capsule.
class HUDPanel : public QWidget, private HUDWindow {
    Q_OBJECT
public:
    // The caret or focused field to place the pill at (top-left coordinates), or nothing.
    using AnchorLookup = std::function<std::optional<HUDRect>()>;

    explicit HUDPanel(MainThreadScheduler& scheduler, AnchorLookup anchorLookup = defaultAnchorLookup());
    HUDPanel();
    ~HUDPanel() override;

    HUDStateModel& stateModel() { return presenter_->stateModel(); }

    void showRecording(double seconds, float level, std::string engineBadge,
                       std::optional<std::string> targetAppName, bool isHandsFreeLocked);
    void showTranscribing(std::string engineBadge, std::optional<std::string> targetAppName);
    void showCompleted(std::string text, double latencyMs, double rtfx, std::string outcomeSummary,
                       bool isDirectInsert, std::string reinsertBadge);
    void hideHUD();

    // Does, while nothing is on screen, the work the pill's first appearance would otherwise
    // do at that moment (fonts, glyphs, symbols): a step per turn of the main loop.
    void prepareFirstShow(int step = 0);

    // Where a window of this size goes now: the screen under the pointer, the caret of the
    // focused field (accessibility), the fallbacks.
    static QPoint computeAnchoredOrigin(QSize windowSize);
    static QPoint computeAnchoredOrigin(QSize windowSize, const AnchorLookup& anchorLookup);
    // The caret bounds of the focused field, else its frame; a caret query that timed out
    // (a hung application) skips the frame query.
    static AnchorLookup defaultAnchorLookup();

    bool ignoresMouseEvents() const { return ignoresMouse_; }
    bool usesCompositor() const { return composited_; }
    bool hasPendingAutoHide() const { return presenter_->hasPendingAutoHide(); }
    HUDFloatingView* floatingView() const { return view_; }

    // A compositing manager runs on this display (someone owns _NET_WM_CM_S<screen>).
    static bool compositorRunning();

private:
    // HUDWindow
    bool isOnScreen() const override;
    void setIgnoresMouseEvents(bool ignores) override;
    void placeAt(HUDPoint topLeft) override;
    void orderFront() override;
    void orderOut() override;

    void applyInputTransparency();
    void applySurfaceMode(bool composited);
    void shapeToCapsule();

    AnchorLookup anchorLookup_;
    bool ignoresMouse_ = true;
    bool composited_ = false;
    HUDFloatingView* view_ = nullptr;
    std::unique_ptr<HUDPresenter> presenter_;
};
