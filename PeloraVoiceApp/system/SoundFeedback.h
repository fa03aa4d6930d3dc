#pragma once

#include "platform/audio/AudioService.h"

namespace pelora {

// The short sounds that mark a dictation's start, its result and a failure; each plays
// only when sound feedback is on, never waits, and plays nothing without a sound server.
class SoundFeedback {
public:
    explicit SoundFeedback(audio::AudioService& audio) : audio_(audio) {}

    void playRecordingStart(bool enabled) { play(enabled, audio::Cue::tink); }  // "Tink"
    void playCompleted(bool enabled) { play(enabled, audio::Cue::pop); }        // "Pop"
    void playError(bool enabled) { play(enabled, audio::Cue::basso); }          // "Basso"

private:
    void play(bool enabled, audio::Cue cue) {
        if (enabled) audio_.playCue(cue);
    }
    audio::AudioService& audio_;
};

}  // namespace pelora
