#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/injection/FocusedTextContext.h"
#include "engine/japanese/CustomVocabularyEntry.h"
#include "engine/japanese/JapaneseInputOptions.h"
#include "engine/recognition/EG2CoreMLOutput.h"
#include "engine/recognition/TranscribedWord.h"

// The operations through which the hybrid transcriber reaches its recognisers and
// correction stages. Each real stage implements one of these; tests script fakes.
namespace pelora {

// The EG2 acoustic pipeline. Runs are synchronous and serialised by the pipeline itself.
class EG2Pipeline {
public:
    virtual ~EG2Pipeline() = default;
    virtual EG2CoreMLOutput runCoreMLPipeline(std::span<const float> samples) = 0;
};

// Text and timed runs of the on-device Japanese recogniser.
struct JapaneseSpeechTranscript {
    std::string text;
    std::vector<TranscribedWord> runs;
};

// How far recognition has come through its samples: a fraction from 0 to 1 that never
// goes back, called on the recognising thread.
using RecognitionProgress = std::function<void(double fraction)>;

class JapaneseSpeechRecognizer {
public:
    virtual ~JapaneseSpeechRecognizer() = default;
    // Every run carries `source`. Throws PeloraVoiceError or the recogniser's own error.
    virtual JapaneseSpeechTranscript transcribeWithSpeechAnalyzer(std::span<const float> samples,
                                                                  std::string_view source) = 0;
    // The same, telling `onProgress` (may be empty) how far it has come. A recogniser that
    // cannot tell runs as above and never calls it.
    virtual JapaneseSpeechTranscript transcribeWithSpeechAnalyzer(std::span<const float> samples,
                                                                  std::string_view source,
                                                                  const RecognitionProgress& onProgress) {
        (void)onProgress;
        return transcribeWithSpeechAnalyzer(samples, source);
    }
};

// (corrected text, annotations or applied rule labels)
using CorrectedText = std::pair<std::string, std::vector<std::string>>;

class HomophoneReranking {
public:
    virtual ~HomophoneReranking() = default;
    virtual CorrectedText rerank(std::string_view text, const std::vector<TranscribedWord>& eg2HighConfidenceTerms,
                                 const std::vector<CustomVocabularyEntry>& customVocabulary,
                                 const std::optional<FocusedTextContext>& focusedContext) const = 0;
};

class JapanesePostProcessing {
public:
    virtual ~JapanesePostProcessing() = default;
    virtual CorrectedText process(std::string_view text, const JapaneseInputOptions& options,
                                  int pauseCount) const = 0;
};

class TimelineSegmentation {
public:
    virtual ~TimelineSegmentation() = default;
    virtual std::vector<TranscribedWord> segment(std::string_view finalText,
                                                 const std::vector<TranscribedWord>& rawSegments,
                                                 const std::vector<double>& pauseTimestamps, double totalDuration,
                                                 std::string_view source) const = 0;
    virtual std::vector<double> detectPauseBoundaries(const std::vector<TranscribedWord>& words,
                                                      const std::vector<double>& explicitPauses) const = 0;
};

// Everything a transcriber works with. `eg2` may be null: the pipeline could not be built.
struct TranscriptionStages {
    std::unique_ptr<EG2Pipeline> eg2;
    std::shared_ptr<JapaneseSpeechRecognizer> speech;
    std::shared_ptr<const HomophoneReranking> reranker;
    std::shared_ptr<const JapanesePostProcessing> inputProcessor;
    std::shared_ptr<const TimelineSegmentation> segmenter;
};

}  // namespace pelora
