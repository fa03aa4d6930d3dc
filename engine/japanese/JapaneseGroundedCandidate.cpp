#include "engine/japanese/JapaneseGroundedCandidate.h"

#include <cmath>

#include "engine/recognition/RecordReader.h"
#include "engine/recognition/TranscriptionResult.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {

using Json = nlohmann::ordered_json;

}  // namespace

std::string JapaneseGroundedCandidate::toJSON() const {
    if (!std::isfinite(phoneticDistance) || !std::isfinite(confidence)) {
        throw RecordCodingError("JapaneseGroundedCandidate: a number is not finite");
    }
    Json json;
    json["id"] = id;
    json["originalSpan"] = originalSpan;
    json["replacementSpan"] = replacementSpan;
    json["rewrittenTranscript"] = rewrittenTranscript;
    json["source"] = source;
    json["phoneticDistance"] = phoneticDistance;
    json["confidence"] = confidence;
    return dumpRecord(json);
}

JapaneseGroundedCandidate JapaneseGroundedCandidate::fromJSON(std::string_view text) {
    RecordReader json(text, "JapaneseGroundedCandidate");
    JapaneseGroundedCandidate candidate;
    candidate.id = json.string("id");
    candidate.originalSpan = json.string("originalSpan");
    candidate.replacementSpan = json.string("replacementSpan");
    candidate.rewrittenTranscript = json.string("rewrittenTranscript");
    candidate.source = json.string("source");
    candidate.phoneticDistance = json.number("phoneticDistance");
    candidate.confidence = json.number("confidence");
    return candidate;
}

bool operator==(const JapaneseGroundedCandidate& a, const JapaneseGroundedCandidate& b) {
    return text::canonicallyEqual(a.id, b.id) && text::canonicallyEqual(a.originalSpan, b.originalSpan) &&
           text::canonicallyEqual(a.replacementSpan, b.replacementSpan) &&
           text::canonicallyEqual(a.rewrittenTranscript, b.rewrittenTranscript) &&
           text::canonicallyEqual(a.source, b.source) && a.phoneticDistance == b.phoneticDistance &&
           a.confidence == b.confidence;
}

}  // namespace pelora
