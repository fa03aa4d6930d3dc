#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/recognition/EG2Telemetry.h"
#include "engine/recognition/EngineMode.h"
#include "engine/recognition/TranscribedWord.h"

namespace pelora {

// Raised when a record cannot be written to or read from JSON.
class RecordCodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The outcome of one transcription.
struct TranscriptionResult {
    std::string text;
    std::string rawText;
    std::string eg2DirectText;
    std::vector<TranscribedWord> words;
    std::vector<double> pauseTimestamps;
    EG2Telemetry telemetry;
    EngineMode engineMode = EngineMode::hybridJaEn;

    // Sentence-sized timed segments built from the words.
    std::vector<TranscribedWord> sentenceSegments() const;
    // One "[SS.SSs → SS.SSs] text (source)" line per word; the text itself when there are no words.
    std::string formattedTimestamps() const;
    // SubRip subtitles of the sentence segments.
    std::string formattedSRT() const;

    // JSON with keys equal to the field names. Writing refuses non-finite numbers;
    // reading requires every key and throws RecordCodingError otherwise.
    std::string toJSON() const;
    static TranscriptionResult fromJSON(std::string_view json);

    friend bool operator==(const TranscriptionResult& a, const TranscriptionResult& b);
};

// Joins recognised tokens: a space only between an ASCII letter, digit, "," or "." and a
// following ASCII letter or digit.
std::string joinTranscriptTokens(const std::vector<std::string>& tokens);
// "HH:MM:SS,mmm"; negative and non-finite times count as 0.
std::string srtTimestamp(double seconds);

}  // namespace pelora
