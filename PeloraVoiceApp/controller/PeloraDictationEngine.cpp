#include "PeloraVoiceApp/controller/PeloraDictationEngine.h"

#include "engine/recognition/ModelManager.h"

namespace pelora {

std::optional<std::filesystem::path> PeloraDictationEngine::resolveModelsDirectory() {
    return ModelManager::resolveModelsDirectory();
}

std::filesystem::path PeloraDictationEngine::ensureOrDownloadModels(const Progress& onProgress) {
    return ModelManager::ensureOrDownloadModels(onProgress);
}

std::string PeloraDictationEngine::ensureJapaneseSpeechAssets(const Progress& onProgress) {
    return PeloraHybridTranscriber::ensureJapaneseSpeechAssets(onProgress);
}

std::shared_ptr<const PeloraHybridTranscriber> PeloraDictationEngine::makeTranscriber() {
    return std::make_shared<const PeloraHybridTranscriber>(std::nullopt);
}

}  // namespace pelora
