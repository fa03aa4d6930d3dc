#pragma once
#include "PeloraVoiceApp/hud/HUDMode.h"

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

// The overlay's observable state. Main thread only; observers hear of every assignment of
// `mode` or `barLevels` (after it, so they read the new values).
class HUDStateModel {
public:
    static constexpr std::size_t barCount = 16;
    static constexpr float barFloor = 0.1f;

    HUDStateModel();
    HUDStateModel(const HUDStateModel&) = delete;
    HUDStateModel& operator=(const HUDStateModel&) = delete;

    const HUDMode& mode() const { return mode_; }
    void setMode(HUDMode mode);
    // Oldest first.
    const std::vector<float>& barLevels() const { return barLevels_; }
    void setBarLevels(std::vector<float> levels);
    // Drops the oldest bar and appends the level scaled by 1.4 and clamped to 0.1...1.0,
    // in one assignment. A level that is not a number counts as silence.
    void pushLevel(float level);

    std::function<void()> onReinsertRequested;
    std::function<void(const std::string&)> onCopyRequested;  // no control of the pill calls it
    std::function<void()> onDismissRequested;

    using ObserverId = int;
    ObserverId observe(std::function<void()> observer);
    void unobserve(ObserverId id);

private:
    void notify();

    HUDMode mode_;
    std::vector<float> barLevels_;
    std::map<ObserverId, std::function<void()>> observers_;
    ObserverId nextObserverId_ = 1;
};
