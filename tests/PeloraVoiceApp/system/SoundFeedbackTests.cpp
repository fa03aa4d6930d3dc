#include "PeloraVoiceApp/system/SoundFeedback.h"
#include "tests/support/FakeAudioService.h"

#include <gtest/gtest.h>

namespace {

using pelora::audio::Cue;

TEST(SoundFeedback, EachCuePlaysOnlyWhenSwitchedOn) {
    struct Case {
        void (pelora::SoundFeedback::*play)(bool);
        Cue cue;
    };
    const Case cases[] = {{&pelora::SoundFeedback::playRecordingStart, Cue::tink},
                          {&pelora::SoundFeedback::playCompleted, Cue::pop},
                          {&pelora::SoundFeedback::playError, Cue::basso}};
    for (const auto& c : cases) {
        pelora::testing::FakeAudioService audio;
        pelora::SoundFeedback feedback(audio);
        (feedback.*c.play)(false);
        EXPECT_TRUE(audio.cues.empty()) << int(c.cue);
        (feedback.*c.play)(true);
        EXPECT_EQ(audio.cues, std::vector<Cue>{c.cue});
    }
}

}  // namespace
