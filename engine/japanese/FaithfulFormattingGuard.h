#pragma once

#include <cstddef>
#include <string_view>

namespace pelora {

// Decides whether one written form may replace another at all: only forms that sound
// the same or nearly the same (or a vocabulary alias and its surface) keep the text
// faithful to what was said.
class FaithfulFormattingGuard {
public:
    FaithfulFormattingGuard() = delete;

    static bool isSafeReplacement(std::string_view original, std::string_view candidate);
    static bool isFaithfulEdit(std::string_view original, std::string_view candidate) {
        return isSafeReplacement(original, candidate);
    }
    // Scalars in U+3400–U+4DBF or U+4E00–U+9FFF (々 and kana do not count).
    static std::size_t kanjiCount(std::string_view text);
};

}  // namespace pelora
