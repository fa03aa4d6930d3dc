#pragma once

#include <memory>
#include <span>
#include <string_view>

#include "engine/recognition/TranscriptionStages.h"
#include "platform/speech/SpeechRecognition.h"

namespace pelora {

// The engine's Japanese recognition: the on-device recogniser run over a temporary WAV
// file of the samples, its final results collected into one text and timed runs.
class SpeechAnalyzerTranscription final : public JapaneseSpeechRecognizer {
public:
    // Over the system's recogniser (JapaneseSpeechAssets::sharedRecognition()).
    SpeechAnalyzerTranscription();
    explicit SpeechAnalyzerTranscription(std::shared_ptr<speech::SpeechRecognition> recognition);

    // Ensures the assets (no progress callback), writes the samples to a temporary WAV
    // file, analyses it while a separate thread collects the results, and removes the file
    // on every path. Text = the final results' texts joined with no separator; every run
    // carries `source`. Errors: those of ensureJapaneseSpeechAssets and of writing the WAV,
    // and the recogniser's own (opening the file, the analysis, the result sequence).
    JapaneseSpeechTranscript transcribeWithSpeechAnalyzer(std::span<const float> samples,
                                                          std::string_view source) override;

private:
    std::shared_ptr<speech::SpeechRecognition> recognition_;
};

}  // namespace pelora
