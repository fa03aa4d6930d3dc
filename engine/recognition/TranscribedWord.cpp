#include "engine/recognition/TranscribedWord.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "platform/text/UnicodeText.h"

namespace pelora {

std::string shortestDoubleText(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    if (value == 0) return std::signbit(value) ? "-0.0" : "0.0";

    char buf[64];
    auto [sciEnd, ec1] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    std::string sci(buf, sciEnd);
    auto ePos = sci.find('e');
    int exponent = std::stoi(sci.substr(ePos + 1));
    if (exponent < -4 || exponent >= 16) {
        // Exponent with a sign and at least two digits.
        std::string mantissa = sci.substr(0, ePos);
        char expText[16];
        std::snprintf(expText, sizeof expText, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
        return mantissa + expText;
    }
    auto [fixEnd, ec2] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    std::string fixed(buf, fixEnd);
    if (fixed.find('.') == std::string::npos) fixed += ".0";
    return fixed;
}

std::string TranscribedWord::id() const { return shortestDoubleText(start) + "-" + shortestDoubleText(end) + "-" + text; }

bool operator==(const TranscribedWord& a, const TranscribedWord& b) {
    return text::canonicallyEqual(a.text, b.text) && text::canonicallyEqual(a.rawText, b.rawText) &&
           a.start == b.start && a.end == b.end && a.confidence == b.confidence &&
           text::canonicallyEqual(a.source, b.source);
}

}  // namespace pelora
