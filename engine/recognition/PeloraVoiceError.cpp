#include "engine/recognition/PeloraVoiceError.h"

namespace pelora {

std::string PeloraVoiceError::prefix(Case errorCase) {
    switch (errorCase) {
        case Case::modelsNotFound: return "EG2モデルが見つかりません: ";
        case Case::invalidModelAsset: return "モデルアセットの読み込みに失敗しました: ";
        case Case::audioDecodeFailed: return "音声ファイルのデコードに失敗しました: ";
        case Case::coreMLPredictionFailed: return "Core ML推論エラー: ";
    }
    return {};
}

PeloraVoiceError::PeloraVoiceError(Case errorCase, std::string payload)
    : std::runtime_error(prefix(errorCase) + payload), case_(errorCase), payload_(std::move(payload)) {}

}  // namespace pelora
