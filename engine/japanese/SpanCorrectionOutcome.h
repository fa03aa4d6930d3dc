#pragma once

#include <optional>
#include <string>

namespace pelora {

// The outcome of correcting one span: the corrected text, or nothing changed.
class SpanCorrectionOutcome {
public:
    struct Fixed {
        std::string correctedText;  // the whole corrected text
        std::string replacement;    // what was put in place of the span
        double confidence = 0;

        friend bool operator==(const Fixed& a, const Fixed& b);
    };

    static SpanCorrectionOutcome fixed(std::string correctedText, std::string replacement, double confidence);
    static SpanCorrectionOutcome unchanged();

    bool isFixed() const { return fixed_.has_value(); }
    // The values of a fixed outcome; null for an unchanged one.
    const Fixed* fixedValue() const { return fixed_ ? &*fixed_ : nullptr; }

    friend bool operator==(const SpanCorrectionOutcome&, const SpanCorrectionOutcome&) = default;

private:
    std::optional<Fixed> fixed_;
};

}  // namespace pelora
