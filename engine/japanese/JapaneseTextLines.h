#pragma once

#include <string>
#include <string_view>
#include <vector>

// Small helpers of the Japanese text rules over UTF-8. Suffix and containment tests
// compare bytes, which is exact for whole UTF-8 sequences: no sequence starts inside another.
namespace pelora::japanese_text {

// Pieces between line feeds; empty pieces are kept, so joining restores the text.
inline std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t at = text.find('\n'); at != std::string_view::npos; at = text.find('\n', from)) {
        lines.emplace_back(text.substr(from, at - from));
        from = at + 1;
    }
    lines.emplace_back(text.substr(from));
    return lines;
}

inline std::string joinLines(const std::vector<std::string>& lines) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) out += '\n';
        out += lines[i];
    }
    return out;
}

inline bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

template <typename Strings>
bool endsWithAny(std::string_view text, const Strings& suffixes) {
    for (const auto& suffix : suffixes) {
        if (text.ends_with(suffix)) return true;
    }
    return false;
}

}  // namespace pelora::japanese_text
