#pragma once
#include "platform/audio/AudioService.h"

#include <memory>

namespace pelora::audio {

// The sound server over one libpulse connection, kept for the life of the object and
// made again (every second) after the server went away. Its own thread runs the
// connection; the source state is cached from the server's change notifications.
class PulseAudioService final : public AudioService {
public:
    PulseAudioService();
    ~PulseAudioService() override;
    PulseAudioService(const PulseAudioService&) = delete;
    PulseAudioService& operator=(const PulseAudioService&) = delete;

    CaptureStart startCapture(CaptureHandlers handlers, std::chrono::milliseconds timeLimit) override;
    SourceState sourceState() override;
    void playCue(Cue cue) override;

    // Cue tones, for tests: frequency in Hz and length in milliseconds.
    static double cueFrequency(Cue cue);
    static int cueMilliseconds(Cue cue);

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace pelora::audio
