#pragma once

#include "PeloraVoiceApp/controller/DictationEngine.h"

namespace pelora {

// The engine itself: the model store and its downloader, the Japanese speech assets
// and the hybrid transcriber over the default model folder.
class PeloraDictationEngine final : public DictationEngine {
public:
    std::optional<std::filesystem::path> resolveModelsDirectory() override;
    std::filesystem::path ensureOrDownloadModels(const Progress& onProgress) override;
    std::string ensureJapaneseSpeechAssets(const Progress& onProgress) override;
    std::shared_ptr<const PeloraHybridTranscriber> makeTranscriber() override;
};

}  // namespace pelora
