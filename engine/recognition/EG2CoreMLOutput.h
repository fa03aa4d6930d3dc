#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/recognition/TranscribedWord.h"

namespace pelora {

// What one run of the EG2 pipeline yields.
struct EG2CoreMLOutput {
    std::string text;
    std::vector<TranscribedWord> words;
    std::vector<double> pauseTimestamps;
    std::vector<TranscribedWord> highConfidenceTerms;
    double logMelMs = 0;
    double encoderL11Ms = 0;
    double readerP6Ms = 0;
    double scorerAndRerankMs = 0;
    std::int64_t windowCount = 0;
    std::int64_t activeFrameCount = 0;
};

}  // namespace pelora
