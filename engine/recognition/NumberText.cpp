#include "engine/recognition/NumberText.h"

#include <charconv>
#include <cmath>

namespace pelora {

std::string formatFixed(double value, int precision, int width) {
    std::string body;
    if (std::isnan(value)) {
        body = "nan";
    } else if (std::isinf(value)) {
        body = value > 0 ? "inf" : "-inf";
    } else {
        char buf[512];
        auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, precision);
        body.assign(buf, ec == std::errc() ? end : buf);
    }
    if (static_cast<int>(body.size()) >= width) return body;
    // Zero padding goes after the sign, as printf's "0" flag does; non-finite values pad with spaces.
    std::size_t pad = static_cast<std::size_t>(width) - body.size();
    if (!std::isfinite(value)) return std::string(pad, ' ') + body;
    std::size_t signLength = (!body.empty() && body[0] == '-') ? 1 : 0;
    return body.substr(0, signLength) + std::string(pad, '0') + body.substr(signLength);
}

}  // namespace pelora
