#pragma once

#include "engine/recognition/PeloraHybridTranscriber.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace pelora {

// The engine's construction and boot calls as the controller uses them. Each one may
// block for long (downloads, model loading): the controller calls them on workers only,
// and they report progress on the calling thread.
class DictationEngine {
public:
    using Progress = std::function<void(const std::string& line)>;

    virtual ~DictationEngine() = default;

    // A complete model folder, or none.
    virtual std::optional<std::filesystem::path> resolveModelsDirectory() = 0;
    // Downloads the models on first use; throws on network, verification or file errors.
    virtual std::filesystem::path ensureOrDownloadModels(const Progress& onProgress) = 0;
    // Installs the Japanese speech assets when missing; returns the locale; throws when
    // Japanese recognition cannot work here.
    virtual std::string ensureJapaneseSpeechAssets(const Progress& onProgress) = 0;
    // The transcriber over the default model folder, with or without its acoustic model.
    virtual std::shared_ptr<const PeloraHybridTranscriber> makeTranscriber() = 0;
};

}  // namespace pelora
