#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pelora {

// Measurements of one transcription. Times are milliseconds unless named otherwise.
struct EG2Telemetry {
    double audioDurationSeconds = 0;
    double totalProcessingMs = 0;
    double logMelMs = 0;
    double encoderL11Ms = 0;
    double readerP6Ms = 0;
    double scorerAndRerankMs = 0;
    double japaneseDecodeMs = 0;
    double postProcessingMs = 0;
    std::int64_t windowCount = 0;
    std::int64_t activeFrameCount = 0;
    std::int64_t pauseSegmentCount = 0;
    std::vector<std::string> detectedEnglishEmbeddingTerms;
    std::vector<std::string> appliedRuleAnnotations;

    // Real-time factor; 0 when no processing time was measured.
    double rtfx() const { return totalProcessingMs > 0 ? audioDurationSeconds / (totalProcessingMs / 1000.0) : 0; }

    friend bool operator==(const EG2Telemetry& a, const EG2Telemetry& b);
};

}  // namespace pelora
