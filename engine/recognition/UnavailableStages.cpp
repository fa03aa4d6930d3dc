#include "engine/recognition/UnavailableStages.h"

#include <algorithm>

#include "engine/recognition/PeloraVoiceError.h"

namespace pelora {

JapaneseSpeechTranscript UnavailableJapaneseSpeechRecognizer::transcribeWithSpeechAnalyzer(std::span<const float>,
                                                                                           std::string_view) {
    throw PeloraVoiceError::invalidModelAsset("日本語オンデバイス音声認識アセットがこの環境で利用できません (status: unsupported)。");
}

std::vector<TranscribedWord> RunsAsTimelineSegmentation::segment(std::string_view finalText,
                                                                 const std::vector<TranscribedWord>& rawSegments,
                                                                 const std::vector<double>&, double totalDuration,
                                                                 std::string_view source) const {
    if (finalText.empty()) return {};
    if (rawSegments.empty()) return {TranscribedWord(std::string(finalText), std::nullopt, 0, totalDuration, 1, std::string(source))};
    return rawSegments;
}

std::vector<double> RunsAsTimelineSegmentation::detectPauseBoundaries(const std::vector<TranscribedWord>&,
                                                                      const std::vector<double>& explicitPauses) const {
    std::vector<double> pauses = explicitPauses;
    std::sort(pauses.begin(), pauses.end());
    return pauses;
}

}  // namespace pelora
