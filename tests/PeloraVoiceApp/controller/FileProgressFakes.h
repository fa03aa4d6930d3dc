#pragma once

// A Japanese recogniser that tells how far it is, and an engine whose transcribers use it,
// for the progress of a file's transcription.
#include "tests/PeloraVoiceApp/controller/ControllerFakes.h"
#include "tests/support/RunCommand.h"

#include <functional>
#include <memory>
#include <vector>

namespace pelora::controller_testing {

// A long WAV file made by ffmpeg in `folder`: 45 minutes of a 300 Hz tone, 8 kHz stereo
// 16-bit, which the decoder mixes and converts chunk by chunk for half a second or more
// even on a fast idle machine, telling its fraction as it goes.
inline std::filesystem::path longToneFile(const std::filesystem::path& folder) {
    const std::filesystem::path file = folder / "long tone.wav";
    pelora::testing::runChecked({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                 "sine=f=300:sample_rate=8000:d=2700", "-ac", "2", "-c:a", "pcm_s16le",
                                 file.string()});
    return file;
}

// Tells each of `fractions` in turn, calling `afterEach` (on the recognising thread) after
// each, then answers `text`. Without a progress callback it only answers.
struct SteppedRecognizer : JapaneseSpeechRecognizer {
    std::vector<double> fractions;
    std::function<void(double)> afterEach;
    std::string text = "ファイルの文字起こしです。";

    JapaneseSpeechTranscript transcribeWithSpeechAnalyzer(std::span<const float> samples,
                                                          std::string_view source) override {
        TranscribedWord run;
        run.text = text;
        run.rawText = text;
        run.start = 0;
        run.end = static_cast<double>(samples.size()) / 16000;
        run.confidence = 1;
        run.source = std::string(source);
        return {text, {run}};
    }
    JapaneseSpeechTranscript transcribeWithSpeechAnalyzer(std::span<const float> samples, std::string_view source,
                                                          const RecognitionProgress& onProgress) override {
        for (double fraction : fractions) {
            if (onProgress) onProgress(fraction);
            if (afterEach) afterEach(fraction);
        }
        return transcribeWithSpeechAnalyzer(samples, source);
    }
};

// An acoustic pipeline that calls `*during` when set (on the recognising thread) and answers nothing.
struct WatchedEG2Pipeline : EG2Pipeline {
    std::shared_ptr<std::function<void()>> during;
    EG2CoreMLOutput runCoreMLPipeline(std::span<const float>) override {
        if (during && *during) (*during)();
        return {};
    }
};

// Builds transcribers over `recognizer` (with an EG2 pipeline that calls `*duringEG2` when
// `transcriberHasEG2`).
struct SteppedEngine : FakeEngine {
    std::shared_ptr<SteppedRecognizer> recognizer = std::make_shared<SteppedRecognizer>();
    std::shared_ptr<std::function<void()>> duringEG2 = std::make_shared<std::function<void()>>();
    std::shared_ptr<const PeloraHybridTranscriber> makeTranscriber() override {
        ++builds;
        TranscriptionStages stages;
        if (transcriberHasEG2) {
            auto eg2 = std::make_unique<WatchedEG2Pipeline>();
            eg2->during = duringEG2;
            stages.eg2 = std::move(eg2);
        }
        stages.speech = recognizer;
        stages.reranker = std::make_shared<JapaneseEmbeddingReranker>();
        stages.inputProcessor = std::make_shared<JapaneseInputProcessor>();
        stages.segmenter = std::make_shared<JapaneseTimelineSegmentationStage>();
        return std::make_shared<const PeloraHybridTranscriber>(std::move(stages));
    }
};

}  // namespace pelora::controller_testing
