#pragma once

#include <stdexcept>
#include <string>

namespace pelora {

// The engine's one error type. what() is the user-facing Japanese description:
// a fixed prefix per case followed directly by the payload.
class PeloraVoiceError : public std::runtime_error {
public:
    enum class Case { modelsNotFound, invalidModelAsset, audioDecodeFailed, coreMLPredictionFailed };

    PeloraVoiceError(Case errorCase, std::string payload);

    static PeloraVoiceError modelsNotFound(std::string payload) { return {Case::modelsNotFound, std::move(payload)}; }
    static PeloraVoiceError invalidModelAsset(std::string payload) { return {Case::invalidModelAsset, std::move(payload)}; }
    static PeloraVoiceError audioDecodeFailed(std::string payload) { return {Case::audioDecodeFailed, std::move(payload)}; }
    static PeloraVoiceError coreMLPredictionFailed(std::string payload) {
        return {Case::coreMLPredictionFailed, std::move(payload)};
    }

    Case errorCase() const { return case_; }
    const std::string& payload() const { return payload_; }
    std::string errorDescription() const { return what(); }

    static std::string prefix(Case errorCase);

private:
    Case case_;
    std::string payload_;
};

}  // namespace pelora
