#include "PeloraVoiceApp/hud/HUDStateModel.h"

#include <algorithm>
#include <cmath>

HUDStateModel::HUDStateModel() : barLevels_(barCount, barFloor) {}

void HUDStateModel::setMode(HUDMode mode) {
    mode_ = std::move(mode);
    notify();
}

void HUDStateModel::setBarLevels(std::vector<float> levels) {
    barLevels_ = std::move(levels);
    notify();
}

void HUDStateModel::pushLevel(float level) {
    if (std::isnan(level))
        level = 0;
    std::vector<float> levels = barLevels_;
    if (!levels.empty())
        levels.erase(levels.begin());
    levels.push_back(std::max(std::min(level * 1.4f, 1.0f), barFloor));
    setBarLevels(std::move(levels));
}

HUDStateModel::ObserverId HUDStateModel::observe(std::function<void()> observer) {
    const ObserverId id = nextObserverId_++;
    observers_.emplace(id, std::move(observer));
    return id;
}

void HUDStateModel::unobserve(ObserverId id) { observers_.erase(id); }

void HUDStateModel::notify() {
    // Copied: an observer may unsubscribe while being told.
    const auto observers = observers_;
    for (const auto& [id, observer] : observers)
        observer();
}
