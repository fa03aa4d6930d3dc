#include "engine/japanese/JapaneseGroundedCandidate.h"

#include <cmath>

#include <nlohmann/json.hpp>

#include "engine/recognition/TranscriptionResult.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {

using Json = nlohmann::ordered_json;

const Json& requireKey(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end()) throw RecordCodingError(std::string("JapaneseGroundedCandidate: missing key \"") + key + "\"");
    return *it;
}

std::string requireString(const Json& object, const char* key) {
    const Json& value = requireKey(object, key);
    if (!value.is_string()) {
        throw RecordCodingError(std::string("JapaneseGroundedCandidate: \"") + key + "\" is not a string");
    }
    return value.get<std::string>();
}

double requireNumber(const Json& object, const char* key) {
    const Json& value = requireKey(object, key);
    if (!value.is_number()) {
        throw RecordCodingError(std::string("JapaneseGroundedCandidate: \"") + key + "\" is not a number");
    }
    return value.get<double>();
}

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
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

JapaneseGroundedCandidate JapaneseGroundedCandidate::fromJSON(std::string_view text) {
    Json json;
    try {
        json = Json::parse(text);
    } catch (const Json::exception& error) {
        throw RecordCodingError(std::string("JapaneseGroundedCandidate: ") + error.what());
    }
    if (!json.is_object()) throw RecordCodingError("JapaneseGroundedCandidate: not a JSON object");
    JapaneseGroundedCandidate candidate;
    candidate.id = requireString(json, "id");
    candidate.originalSpan = requireString(json, "originalSpan");
    candidate.replacementSpan = requireString(json, "replacementSpan");
    candidate.rewrittenTranscript = requireString(json, "rewrittenTranscript");
    candidate.source = requireString(json, "source");
    candidate.phoneticDistance = requireNumber(json, "phoneticDistance");
    candidate.confidence = requireNumber(json, "confidence");
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
