#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace pelora {

// The three recognition modes; stored and shown by their raw value.
enum class EngineMode { hybridJaEn, pureEG2English, appleSpeechJa };

namespace engine_mode {
inline constexpr std::array<EngineMode, 3> allCases{EngineMode::hybridJaEn, EngineMode::pureEG2English,
                                                    EngineMode::appleSpeechJa};
std::string_view rawValue(EngineMode mode);
inline std::string_view id(EngineMode mode) { return rawValue(mode); }
std::string_view displayName(EngineMode mode);
std::string_view shortBadge(EngineMode mode);
std::optional<EngineMode> fromRawValue(std::string_view raw);
}  // namespace engine_mode

}  // namespace pelora
