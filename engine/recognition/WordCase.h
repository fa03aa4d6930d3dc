#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pelora {

// Casing class assigned to a word by the punctuation head.
enum class WordCase : std::uint8_t { lower = 0, cap = 1, upper = 2 };

namespace word_case {
inline constexpr std::array<WordCase, 3> allCases{WordCase::lower, WordCase::cap, WordCase::upper};
inline std::optional<WordCase> fromRawValue(std::int64_t raw) {
    if (raw < 0 || raw > 2) return std::nullopt;
    return static_cast<WordCase>(raw);
}
// lower leaves the text as it is; cap upper-cases the first user-perceived character;
// upper upper-cases everything (full case mapping, so one character may grow).
std::string apply(WordCase wordCase, std::string_view text);
}  // namespace word_case

}  // namespace pelora
