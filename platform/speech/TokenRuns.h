#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/speech/SpeechTranscriptionResult.h"

namespace pelora::speech {

// One text token of the recogniser, as it came out: its bytes may be only part of a
// UTF-8 character, since the vocabulary is made of byte sequences.
struct RecognizedToken {
    std::string text;
    float probability = 1;
    std::optional<AudioTimeRange> time;
};

// The runs of one result: consecutive tokens are joined until their bytes end on a
// character boundary, so every run is whole UTF-8 text. A joined run's confidence is
// the product of its tokens' probabilities (the chance of the whole piece), its time
// range spans from the first timed token's start to the last timed token's end. Bytes
// that form no character become U+FFFD. Tokens with no bytes give no run.
std::vector<TranscriptionRun> runsFromTokens(const std::vector<RecognizedToken>& tokens);

// `bytes` with every invalid UTF-8 sequence replaced by U+FFFD.
std::string validUTF8(std::string_view bytes);

}  // namespace pelora::speech
