#include "engine/recognition/EngineMode.h"

namespace pelora::engine_mode {

std::string_view rawValue(EngineMode mode) {
    switch (mode) {
        case EngineMode::hybridJaEn: return "hybrid_ja_en";
        case EngineMode::pureEG2English: return "pure_eg2_en";
        case EngineMode::appleSpeechJa: return "apple_speech_ja";
    }
    return {};
}

std::string_view displayName(EngineMode mode) {
    switch (mode) {
        case EngineMode::hybridJaEn: return "EG2 Hybrid JA+EN（推奨・日本語＋英語混じり超高速）";
        case EngineMode::pureEG2English: return "Pure EG2 CoreML（英語22.9万語ベクトル直引き）";
        case EngineMode::appleSpeechJa: return "Apple SpeechTranscriber JA（日本語オンデバイス単体）";
    }
    return {};
}

std::string_view shortBadge(EngineMode mode) {
    switch (mode) {
        case EngineMode::hybridJaEn: return "EG2 + JA Hybrid ANE";
        case EngineMode::pureEG2English: return "Pure EG2 CoreML";
        case EngineMode::appleSpeechJa: return "SpeechTranscriber JA";
    }
    return {};
}

std::optional<EngineMode> fromRawValue(std::string_view raw) {
    for (EngineMode mode : allCases) {
        if (rawValue(mode) == raw) return mode;
    }
    return std::nullopt;
}

}  // namespace pelora::engine_mode
