#include "engine/japanese/MirkAutoReplacementResult.h"

#include <algorithm>

#include "platform/text/UnicodeText.h"

namespace pelora {

bool MirkAutoReplacementResult::didReplace() const { return !text::canonicallyEqual(correctedText, originalText); }

bool operator==(const MirkAutoReplacementResult& a, const MirkAutoReplacementResult& b) {
    return text::canonicallyEqual(a.originalText, b.originalText) &&
           text::canonicallyEqual(a.correctedText, b.correctedText) &&
           std::equal(a.appliedAnnotations.begin(), a.appliedAnnotations.end(), b.appliedAnnotations.begin(),
                      b.appliedAnnotations.end(),
                      [](const std::string& x, const std::string& y) { return text::canonicallyEqual(x, y); }) &&
           a.inPlaceCorrection == b.inPlaceCorrection;
}

}  // namespace pelora
