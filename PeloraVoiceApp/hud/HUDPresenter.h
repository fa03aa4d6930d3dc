#pragma once
#include "PeloraVoiceApp/MainThreadScheduler.h"
#include "PeloraVoiceApp/hud/HUDGeometry.h"
#include "PeloraVoiceApp/hud/HUDStateModel.h"
#include "PeloraVoiceApp/hud/HUDWindow.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>

// The overlay's four operations and its automatic hide, over a window it drives. Holds the
// state model the view draws. Main thread only.
class HUDPresenter {
public:
    static constexpr HUDSize windowSize{520, 68};
    static constexpr std::chrono::milliseconds directInsertHideDelay{2600};
    static constexpr std::chrono::milliseconds otherHideDelay{4800};

    // Where the window's top-left goes for a window of the given size (asked each time the
    // pill comes on screen).
    using Placement = std::function<HUDPoint(HUDSize)>;

    HUDPresenter(HUDWindow& window, MainThreadScheduler& scheduler, Placement placement);
    HUDPresenter(const HUDPresenter&) = delete;
    HUDPresenter& operator=(const HUDPresenter&) = delete;

    HUDStateModel& stateModel() { return stateModel_; }
    const HUDStateModel& stateModel() const { return stateModel_; }

    void showRecording(double seconds, float level, std::string engineBadge,
                       std::optional<std::string> targetAppName, bool isHandsFreeLocked);
    void showTranscribing(std::string engineBadge, std::optional<std::string> targetAppName);
    void showCompleted(std::string text, double latencyMs, double rtfx, std::string outcomeSummary,
                       bool isDirectInsert, std::string reinsertBadge);
    void hideHUD();

    bool hasPendingAutoHide() const { return autoHideTask_.isHeld(); }

private:
    void place();

    HUDWindow& window_;
    MainThreadScheduler& scheduler_;
    Placement placement_;
    HUDStateModel stateModel_;
    MainThreadScheduler::Task autoHideTask_;
};
