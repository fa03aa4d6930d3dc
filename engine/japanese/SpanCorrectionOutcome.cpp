#include "engine/japanese/SpanCorrectionOutcome.h"

#include <utility>

#include "platform/text/UnicodeText.h"

namespace pelora {

SpanCorrectionOutcome SpanCorrectionOutcome::fixed(std::string correctedText, std::string replacement,
                                                   double confidence) {
    SpanCorrectionOutcome outcome;
    outcome.fixed_ = Fixed{std::move(correctedText), std::move(replacement), confidence};
    return outcome;
}

SpanCorrectionOutcome SpanCorrectionOutcome::unchanged() { return {}; }

bool operator==(const SpanCorrectionOutcome::Fixed& a, const SpanCorrectionOutcome::Fixed& b) {
    return text::canonicallyEqual(a.correctedText, b.correctedText) &&
           text::canonicallyEqual(a.replacement, b.replacement) && a.confidence == b.confidence;
}

}  // namespace pelora
