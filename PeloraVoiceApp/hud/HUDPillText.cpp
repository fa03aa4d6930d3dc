#include "PeloraVoiceApp/hud/HUDPillText.h"

#include "engine/recognition/NumberText.h"

namespace HUDPillText {

std::string elapsed(double seconds) { return pelora::formatFixed(seconds, 1) + "s"; }

std::string latency(double latencyMs, double rtfx) {
    return pelora::formatFixed(latencyMs, 0) + "ms · " + pelora::formatFixed(rtfx, 0) + "×";
}

namespace {

// White space and line breaks as the trimming of the result sees them: ASCII white space,
// NEL, the Unicode spaces and separators, and the ideographic space.
std::size_t whiteSpaceLengthAt(const std::string& s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    if (c == ' ' || (c >= 0x09 && c <= 0x0D))
        return 1;
    if (c == 0xC2 && i + 1 < s.size() && (byte(i + 1) == 0x85 || byte(i + 1) == 0xA0))
        return 2;
    if (i + 2 < s.size()) {
        const unsigned a = byte(i + 1), b = byte(i + 2);
        if (c == 0xE1 && a == 0x9A && b == 0x80)  // U+1680
            return 3;
        if (c == 0xE2 && a == 0x80 && ((b >= 0x80 && b <= 0x8A) || b == 0xA8 || b == 0xA9 || b == 0xAF))
            return 3;  // U+2000...U+200A, U+2028, U+2029, U+202F
        if (c == 0xE2 && a == 0x81 && b == 0x9F)  // U+205F
            return 3;
        if (c == 0xE3 && a == 0x80 && b == 0x80)  // U+3000
            return 3;
    }
    return 0;
}

bool isBlank(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = whiteSpaceLengthAt(s, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

} // namespace

std::string resultLine(const std::string& text) {
    if (isBlank(text))
        return emptyResult;
    std::string line;
    line.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\n')
            line += lineBreakMark;
        else
            line += c;
    }
    return line;
}

std::string reinsertTooltip(const std::string& reinsertBadge) {
    return "現在フォーカスされている入力欄にもう一度挿入します (" + reinsertBadge + ")";
}

bool showsTarget(const std::optional<std::string>& targetAppName) {
    return targetAppName && !targetAppName->empty();
}

} // namespace HUDPillText
