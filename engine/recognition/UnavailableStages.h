#pragma once

#include "engine/recognition/TranscriptionStages.h"

// Stand-ins for stages that this build does not provide. Each says plainly what it is:
// the recogniser refuses to run, the text stages pass their input through untouched.
namespace pelora {

class UnavailableJapaneseSpeechRecognizer final : public JapaneseSpeechRecognizer {
public:
    // Throws invalidModelAsset with the recogniser's "unsupported assets" text.
    JapaneseSpeechTranscript transcribeWithSpeechAnalyzer(std::span<const float> samples,
                                                          std::string_view source) override;
};

class PassThroughHomophoneReranking final : public HomophoneReranking {
public:
    CorrectedText rerank(std::string_view text, const std::vector<TranscribedWord>&,
                         const std::vector<CustomVocabularyEntry>&,
                         const std::optional<FocusedTextContext>&) const override {
        return {std::string(text), {}};
    }
};

class PassThroughPostProcessing final : public JapanesePostProcessing {
public:
    CorrectedText process(std::string_view text, const JapaneseInputOptions&, int) const override {
        return {std::string(text), {}};
    }
};

// The recogniser's runs stand as the timeline; explicit pauses pass through sorted.
class RunsAsTimelineSegmentation final : public TimelineSegmentation {
public:
    std::vector<TranscribedWord> segment(std::string_view finalText, const std::vector<TranscribedWord>& rawSegments,
                                         const std::vector<double>& pauseTimestamps, double totalDuration,
                                         std::string_view source) const override;
    std::vector<double> detectPauseBoundaries(const std::vector<TranscribedWord>& words,
                                              const std::vector<double>& explicitPauses) const override;
};

}  // namespace pelora
