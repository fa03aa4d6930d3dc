#pragma once

#include <memory>
#include <span>
#include <string_view>

#include "engine/recognition/TranscriptionStages.h"
#include "platform/speech/SpeechRecognition.h"

namespace pelora {

// The engine's Japanese recognition: the on-device recogniser run over the samples in
// memory, its final results collected into one text and timed runs.
class SpeechAnalyzerTranscription final : public JapaneseSpeechRecognizer {
public:
    // Over the system's recogniser (JapaneseSpeechAssets::sharedRecognition()).
    SpeechAnalyzerTranscription();
    explicit SpeechAnalyzerTranscription(std::shared_ptr<speech::SpeechRecognition> recognition);

    // Ensures the assets (no progress callback), hands the samples to the recogniser in
    // memory (nothing is written to disk) and analyses them while a separate thread
    // collects the results. Text = the final results' texts joined with no separator;
    // every run carries `source`. Errors: those of ensureJapaneseSpeechAssets and the
    // recogniser's own (opening the input, the analysis, the result sequence).
    JapaneseSpeechTranscript transcribeWithSpeechAnalyzer(std::span<const float> samples,
                                                          std::string_view source) override;
    // The same, with the analyser's progress passed on to `onProgress` (may be empty).
    JapaneseSpeechTranscript transcribeWithSpeechAnalyzer(std::span<const float> samples, std::string_view source,
                                                          const RecognitionProgress& onProgress) override;

private:
    std::shared_ptr<speech::SpeechRecognition> recognition_;
};

}  // namespace pelora
