#pragma once
#include "platform/audio/AudioService.h"

#include <memory>
#include <mutex>
#include <vector>

namespace pelora::testing {

// A sound server on demand: the test feeds the running capture and sets what starting
// one, the source state and cues do.
class FakeAudioService final : public audio::AudioService {
public:
    FakeAudioService();
    ~FakeAudioService() override;

    audio::CaptureStart startCapture(audio::CaptureHandlers handlers, std::chrono::milliseconds timeLimit) override;
    audio::SourceState sourceState() override { return state; }
    void playCue(audio::Cue cue) override { cues.push_back(cue); }

    // Sends a fragment to the capture started last, while it runs; false when none runs.
    bool feed(std::vector<float> fragment);
    // The stream ends for good (moved onto a monitor, failed).
    bool interrupt();
    bool captureRunning() const;

    audio::SourceState state{true, true};
    audio::CaptureStart::Failure nextFailure = audio::CaptureStart::Failure::none;
    std::string nextMessage;
    std::vector<audio::Cue> cues;
    int starts = 0;
    std::chrono::milliseconds lastTimeLimit{0};

private:
    struct Stream;
    std::shared_ptr<Stream> current_;
};

}  // namespace pelora::testing
