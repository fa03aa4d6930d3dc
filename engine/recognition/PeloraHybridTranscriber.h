#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/recognition/EngineMode.h"
#include "engine/recognition/TranscriptionResult.h"
#include "engine/recognition/TranscriptionStages.h"
#include "platform/speech/SpeechRecognition.h"

namespace pelora {

// The engine's single entry point from 16 kHz mono samples to a TranscriptionResult.
// Immutable after construction; calls may overlap.
class PeloraHybridTranscriber {
public:
    // Builds the real stages. Never fails: without a loadable EG2 pipeline the
    // Japanese modes still work and only the EG2-only mode reports missing models.
    explicit PeloraHybridTranscriber(const std::optional<std::filesystem::path>& eg2Folder = std::nullopt);
    explicit PeloraHybridTranscriber(TranscriptionStages stages);

    bool isEG2Loaded() const { return stages_.eg2 != nullptr; }

    // `audioFileURL` is accepted and not used: the recogniser works from the samples.
    // `onRecognitionProgress` (may be empty) follows the Japanese recogniser through the
    // samples (RecognitionProgress) in the modes that run it; the EG2-only mode never calls it.
    TranscriptionResult transcribeSamples(std::span<const float> samples,
                                          const std::optional<std::filesystem::path>& audioFileURL, EngineMode mode,
                                          const JapaneseInputOptions& options,
                                          const std::vector<CustomVocabularyEntry>& customVocabulary,
                                          const std::optional<FocusedTextContext>& focusedContext,
                                          std::optional<bool> enableHomophoneReranking,
                                          const RecognitionProgress& onRecognitionProgress = {}) const;

    TranscriptionResult transcribeFile(const std::filesystem::path& url, EngineMode mode,
                                       const JapaneseInputOptions& options,
                                       const std::vector<CustomVocabularyEntry>& customVocabulary,
                                       const std::optional<FocusedTextContext>& focusedContext,
                                       std::optional<bool> enableHomophoneReranking) const;

    // Finds the supported Japanese locale and installs the on-device recogniser's assets
    // when they are missing (JapaneseSpeechAssets); returns the locale. Blocks for the
    // whole download; `onProgress` may be empty. `onDownloadProgress` (may be empty)
    // follows a model download as it goes.
    static std::string ensureJapaneseSpeechAssets(const std::function<void(const std::string&)>& onProgress = {},
                                                  const speech::AssetProgressCallback& onDownloadProgress = {});

    // Payload of the EG2-only mode's missing-models error: the legacy model folder.
    static constexpr const char* missingModelsPayload = "~/.local/share/ai.mosvik.eg2demo/models";
    static constexpr const char* pureEG2RuleAnnotation = "HeadOnlyPunct (punct_headonly.mlmodelc + punct_case.json)";

private:
    TranscriptionResult transcribePureEG2(std::span<const float> samples, double t0) const;
    TranscriptionResult transcribeAppleSpeech(std::span<const float> samples, double t0,
                                              const JapaneseInputOptions& options,
                                              const std::vector<CustomVocabularyEntry>& customVocabulary,
                                              const std::optional<FocusedTextContext>& focusedContext,
                                              bool rerank, const RecognitionProgress& onProgress) const;
    TranscriptionResult transcribeHybrid(std::span<const float> samples, double t0, const JapaneseInputOptions& options,
                                         const std::vector<CustomVocabularyEntry>& customVocabulary,
                                         const std::optional<FocusedTextContext>& focusedContext, bool rerank,
                                         const RecognitionProgress& onProgress) const;

    TranscriptionStages stages_;
};

}  // namespace pelora
