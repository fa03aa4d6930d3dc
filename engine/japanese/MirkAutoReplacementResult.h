#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/japanese/InsertedTextCorrection.h"

namespace pelora {

// The result of one contextual auto-replacement pass.
struct MirkAutoReplacementResult {
    std::string originalText;
    std::string correctedText;
    std::vector<std::string> appliedAnnotations;  // labels of the changes, in order
    std::optional<InsertedTextCorrection> inPlaceCorrection;

    // True exactly when the corrected text differs from the original (annotations alone do not count).
    bool didReplace() const;

    friend bool operator==(const MirkAutoReplacementResult& a, const MirkAutoReplacementResult& b);
};

}  // namespace pelora
