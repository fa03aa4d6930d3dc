#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pelora::speech {

// A stretch of the analysed audio, in seconds from its start.
struct AudioTimeRange {
    double start = 0;
    double duration = 0;
};

// One attributed run of a result's text: a piece of it with the attributes the
// transcriber gave that piece (either may be missing).
struct TranscriptionRun {
    std::string text;
    std::optional<float> confidence;
    std::optional<AudioTimeRange> audioTimeRange;
};

// One result of the transcriber. Its text is made of its runs, in order; a volatile
// (not final) result may still be replaced by later ones.
struct SpeechTranscriptionResult {
    bool isFinal = true;
    std::vector<TranscriptionRun> runs;
    AudioTimeRange range;

    // The plain characters: the runs' texts joined.
    std::string text() const;
};

}  // namespace pelora::speech
