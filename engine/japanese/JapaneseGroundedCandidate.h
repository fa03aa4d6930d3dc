#pragma once

#include <string>
#include <string_view>

namespace pelora {

// A candidate replacement offered to the decision service: one form of the transcript,
// what it could be instead, and the whole transcript with that replacement made.
struct JapaneseGroundedCandidate {
    std::string id;  // "candidate_<n>" for local rules, "cohort_<n>" for cohort candidates
    std::string originalSpan;
    std::string replacementSpan;
    std::string rewrittenTranscript;
    std::string source;  // "MIRK" for local rules, "MIRK-Cohort" for cohorts
    double phoneticDistance = 0;
    double confidence = 0;  // 0 to 1

    // JSON with keys equal to the field names; all seven are required when reading
    // (RecordCodingError otherwise).
    std::string toJSON() const;
    static JapaneseGroundedCandidate fromJSON(std::string_view json);

    friend bool operator==(const JapaneseGroundedCandidate& a, const JapaneseGroundedCandidate& b);
};

}  // namespace pelora
