#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace pelora {

// Punctuation class assigned to a word by the punctuation head.
enum class Punct : std::int64_t { none = 0, comma = 1, period = 2, question = 3 };

namespace punct {
inline constexpr std::array<Punct, 4> allCases{Punct::none, Punct::comma, Punct::period, Punct::question};
inline std::optional<Punct> fromRawValue(std::int64_t raw) {
    if (raw < 0 || raw > 3) return std::nullopt;
    return static_cast<Punct>(raw);
}
inline std::string_view englishSuffix(Punct p) {
    switch (p) {
        case Punct::comma: return ",";
        case Punct::period: return ".";
        case Punct::question: return "?";
        case Punct::none: break;
    }
    return {};
}
inline std::string_view japaneseSuffix(Punct p) {
    switch (p) {
        case Punct::comma: return "、";
        case Punct::period: return "。";
        case Punct::question: return "？";
        case Punct::none: break;
    }
    return {};
}
}  // namespace punct

}  // namespace pelora
