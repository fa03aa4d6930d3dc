#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/text/Regex.h"

namespace pelora {

// A span of the transcript that looks misrecognised, with the text around it.
struct MirkSpanSuspicion {
    std::string span;  // exactly as found in the transcript
    std::optional<std::string> leftContext;
    std::optional<std::string> rightContext;
    std::optional<std::string> reason;  // local rules use "MIRK文脈意図一致"
    std::optional<std::string> suggestedReplacement;
    double confidence = 0;  // 0 to 1

    MirkSpanSuspicion() = default;
    MirkSpanSuspicion(std::string span, std::optional<std::string> leftContext = std::nullopt,
                      std::optional<std::string> rightContext = std::nullopt,
                      std::optional<std::string> reason = std::nullopt,
                      std::optional<std::string> suggestedReplacement = std::nullopt, double confidence = 0)
        : span(std::move(span)), leftContext(std::move(leftContext)), rightContext(std::move(rightContext)),
          reason(std::move(reason)), suggestedReplacement(std::move(suggestedReplacement)), confidence(confidence) {}

    // Where the span stands in `text` (UTF-8 byte range): preferably the occurrence with
    // its contexts around it, else its first bare occurrence; none when it does not occur
    // or is empty.
    std::optional<text::TextRange> resolveRange(std::string_view text) const;

    // JSON with keys equal to the field names; absent optional fields are not written and
    // may be absent (or null) when reading; "span" and "confidence" are required.
    std::string toJSON() const;
    static MirkSpanSuspicion fromJSON(std::string_view json);

    friend bool operator==(const MirkSpanSuspicion& a, const MirkSpanSuspicion& b);
};

}  // namespace pelora
