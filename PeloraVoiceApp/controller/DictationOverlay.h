#pragma once

#include <functional>
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
    // The result: its text, the latency and real-time factor, what became of it, and whether it
    // went straight into the target (the pill then hides sooner).
    virtual void showCompleted(std::string text, double latencyMs, double rtfx, std::string outcomeSummary,
                               bool isDirectInsert, std::string reinsertBadge) = 0;
    virtual void hideHUD() = 0;
    // The pill's reinsert and copy buttons (main thread); empty handlers detach.
    virtual void setActionHandlers(std::function<void()> onReinsertRequested,
                                   std::function<void(const std::string& text)> onCopyRequested) = 0;
};

}  // namespace pelora
