#include "PeloraVoiceApp/hud/HUDPresenter.h"

HUDPresenter::HUDPresenter(HUDWindow& window, MainThreadScheduler& scheduler, Placement placement)
    : window_(window), scheduler_(scheduler), placement_(std::move(placement)) {
    // The model lives inside the presenter, so the close button can never outlive it.
    stateModel_.onDismissRequested = [this] { hideHUD(); };
}

void HUDPresenter::place() {
    if (placement_)
        window_.placeAt(placement_(windowSize));
}

void HUDPresenter::showRecording(double seconds, float level, std::string engineBadge,
                                 std::optional<std::string> targetAppName, bool isHandsFreeLocked) {
    autoHideTask_.cancel();
    window_.setIgnoresMouseEvents(true);
    stateModel_.pushLevel(level);
    const bool wasHidden = stateModel_.mode().isHidden();
    stateModel_.setMode(HUDMode::Recording{seconds, level, std::move(engineBadge), std::move(targetAppName),
                                           isHandsFreeLocked});
    if (wasHidden || !window_.isOnScreen())
        place();
    window_.orderFront();
}

void HUDPresenter::showTranscribing(std::string engineBadge, std::optional<std::string> targetAppName) {
    autoHideTask_.cancel();
    window_.setIgnoresMouseEvents(true);
    stateModel_.setMode(HUDMode::Transcribing{std::move(engineBadge), std::move(targetAppName)});
    if (!window_.isOnScreen())
        place();
    window_.orderFront();
}

void HUDPresenter::showCompleted(std::string text, double latencyMs, double rtfx, std::string outcomeSummary,
                                 bool isDirectInsert, std::string reinsertBadge) {
    autoHideTask_.cancel();
    window_.setIgnoresMouseEvents(false);
    stateModel_.setMode(HUDMode::Completed{std::move(text), latencyMs, rtfx, std::move(outcomeSummary),
                                           isDirectInsert, std::move(reinsertBadge)});
    if (!window_.isOnScreen())
        place();
    window_.orderFront();
    // The task dies with the presenter, so a late hide never reaches a destroyed panel.
    autoHideTask_ = scheduler_.postAfter(isDirectInsert ? directInsertHideDelay : otherHideDelay,
                                         [this] { hideHUD(); });
}

void HUDPresenter::hideHUD() {
    autoHideTask_.cancel();
    window_.setIgnoresMouseEvents(true);
    stateModel_.setMode(HUDMode::Hidden{});
    window_.orderOut();
}
