#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/recognition/TranscribedWord.h"

namespace pelora {
class HeadOnlyPunct;
}

// The last steps of an EG2 run: the stream of 40 ms frame decisions becomes words, pause
// times and confident terms (a greedy collapse), and the words become a punctuated,
// cased English text.
namespace pelora::EG2WordDecoding {

// One kept output frame: a word index or -1 for blank, the frame's best dot product
// (before calibration) and its time in seconds from the start of the recording.
struct Frame {
    std::int64_t decision = -1;
    float score = 0;
    double time = 0;
};

struct Decoded {
    std::vector<TranscribedWord> words;
    std::vector<double> pauseTimestamps;
    std::vector<TranscribedWord> highConfidenceTerms;
};

// Runs of one index merge into one word, blanks separate words, the repeat token
// re-emits the previous word; a blank run of 7 or more frames between words is a pause.
Decoded decode(const std::vector<Frame>& frames, const std::vector<std::string>& wordList);

// Sets each word's text to its rendered form and returns the joined text. The head, when
// given, decides punctuation and case; its failure leaves every word unpunctuated.
std::string render(std::vector<TranscribedWord>& words, HeadOnlyPunct* punctHead);

}  // namespace pelora::EG2WordDecoding
