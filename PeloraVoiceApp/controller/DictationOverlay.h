#pragma once

#include <optional>
#include <string>

namespace pelora {

// The floating overlay's recording and transcribing states as the controller drives them.
// Main thread only.
class DictationOverlay {
public:
    virtual ~DictationOverlay() = default;
    virtual void showRecording(double seconds, float level, std::string engineBadge,
                               std::optional<std::string> targetAppName, bool isHandsFreeLocked) = 0;
    virtual void showTranscribing(std::string engineBadge, std::optional<std::string> targetAppName) = 0;
    virtual void hideHUD() = 0;
};

}  // namespace pelora
