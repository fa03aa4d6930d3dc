#include "engine/recognition/JapaneseTimelineSegmentationStage.h"

#include "engine/recognition/JapaneseTimelineSegmenter.h"

namespace pelora {

std::vector<TranscribedWord> JapaneseTimelineSegmentationStage::segment(
    std::string_view finalText, const std::vector<TranscribedWord>& rawSegments,
    const std::vector<double>& pauseTimestamps, double totalDuration, std::string_view source) const {
    return JapaneseTimelineSegmenter::segment(finalText, rawSegments, pauseTimestamps, totalDuration, source);
}

std::vector<double> JapaneseTimelineSegmentationStage::detectPauseBoundaries(
    const std::vector<TranscribedWord>& words, const std::vector<double>& explicitPauses) const {
    return JapaneseTimelineSegmenter::detectPauseBoundaries(words, explicitPauses);
}

}  // namespace pelora
