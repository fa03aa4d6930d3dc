#pragma once

#include "engine/recognition/TranscriptionStages.h"

namespace pelora {

// The timeline stage of the transcriber: the Japanese timeline segmenter behind the stage interface.
class JapaneseTimelineSegmentationStage final : public TimelineSegmentation {
public:
    std::vector<TranscribedWord> segment(std::string_view finalText, const std::vector<TranscribedWord>& rawSegments,
                                         const std::vector<double>& pauseTimestamps, double totalDuration,
                                         std::string_view source) const override;
    std::vector<double> detectPauseBoundaries(const std::vector<TranscribedWord>& words,
                                              const std::vector<double>& explicitPauses) const override;
};

}  // namespace pelora
