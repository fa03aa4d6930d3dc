#pragma once

// The engine for dictations on the private desktop, where no speech weights exist: the
// boot finds everything in place at once, and the transcriber's Japanese recogniser is
// scripted while every correction stage after it is the engine's own.
#include "PeloraVoiceApp/controller/DictationEngine.h"
#include "engine/japanese/JapaneseEmbeddingReranker.h"
#include "engine/japanese/JapaneseInputProcessor.h"
#include "engine/recognition/JapaneseTimelineSegmentationStage.h"
#include "engine/recognition/TranscriptionStages.h"

#include <atomic>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace pelora::dictation_desktop {

// Answers `answers` in turn (round and round) when the input holds about
// `expectedSoundSeconds` of sound (from the first to the last loud 10 ms frame, within
// `tolerance`), else nothing; with `expectedSoundSeconds` 0 it answers every input at once.
// What it measured is kept for a failure message.
class ScriptedJapaneseRecognizer final : public JapaneseSpeechRecognizer {
public:
    ScriptedJapaneseRecognizer(std::vector<std::string> answers, double expectedSoundSeconds, double tolerance)
        : answers_(std::move(answers)), expected_(expectedSoundSeconds), tolerance_(tolerance) {}

    JapaneseSpeechTranscript transcribeWithSpeechAnalyzer(std::span<const float> samples,
                                                          std::string_view source) override {
        const double sound = soundSeconds(samples);
        lastSoundSeconds = sound;
        lastInputSeconds = static_cast<double>(samples.size()) / 16000;
        const int turn = runs++;
        if (expected_ > 0 && std::fabs(sound - expected_) > tolerance_) return {};
        const std::string& answer = answers_[static_cast<std::size_t>(turn) % answers_.size()];
        TranscribedWord run;
        run.text = answer;
        run.rawText = answer;
        run.start = 0;
        run.end = lastInputSeconds;
        run.confidence = 0.95f;
        run.source = std::string(source);
        return {answer, {run}};
    }

    // From the first to the last 10 ms frame whose RMS is above 0.01.
    static double soundSeconds(std::span<const float> samples) {
        constexpr std::size_t frame = 160;
        long first = -1, last = -1;
        for (std::size_t i = 0; i + frame <= samples.size(); i += frame) {
            double energy = 0;
            for (std::size_t k = i; k < i + frame; ++k) energy += double(samples[k]) * samples[k];
            if (std::sqrt(energy / frame) > 0.01) {
                if (first < 0) first = static_cast<long>(i / frame);
                last = static_cast<long>(i / frame);
            }
        }
        return first < 0 ? 0 : double(last - first + 1) * frame / 16000;
    }

    std::atomic<double> lastSoundSeconds{0};
    std::atomic<double> lastInputSeconds{0};
    std::atomic<int> runs{0};

private:
    std::vector<std::string> answers_;
    double expected_;
    double tolerance_;
};

class ScriptedJapaneseEngine final : public DictationEngine {
public:
    explicit ScriptedJapaneseEngine(std::shared_ptr<ScriptedJapaneseRecognizer> recognizer)
        : recognizer_(std::move(recognizer)) {}

    std::optional<std::filesystem::path> resolveModelsDirectory() override { return std::filesystem::path("/models"); }
    std::filesystem::path ensureOrDownloadModels(const Progress&) override { return "/models"; }
    std::string ensureJapaneseSpeechAssets(const Progress&) override { return "ja_JP"; }
    std::shared_ptr<const PeloraHybridTranscriber> makeTranscriber() override {
        TranscriptionStages stages;
        stages.speech = recognizer_;
        stages.reranker = std::make_shared<JapaneseEmbeddingReranker>();
        stages.inputProcessor = std::make_shared<JapaneseInputProcessor>();
        stages.segmenter = std::make_shared<JapaneseTimelineSegmentationStage>();
        return std::make_shared<const PeloraHybridTranscriber>(std::move(stages));
    }

private:
    std::shared_ptr<ScriptedJapaneseRecognizer> recognizer_;
};

}  // namespace pelora::dictation_desktop
