#include "engine/japanese/MirkSpanSuspicion.h"

#include <cmath>

#include <nlohmann/json.hpp>

#include "engine/recognition/RecordReader.h"
#include "engine/recognition/TranscriptionResult.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {

using Json = nlohmann::ordered_json;

std::optional<text::TextRange> firstOccurrence(std::string_view text, std::string_view span) {
    const std::size_t position = text.find(span);
    if (position == std::string_view::npos) return std::nullopt;
    return text::TextRange{position, position + span.size()};
}

bool sameOptional(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    if (a.has_value() != b.has_value()) return false;
    return !a || text::canonicallyEqual(*a, *b);
}

std::optional<std::string> optionalString(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return std::nullopt;
    if (!it->is_string()) throw RecordCodingError(std::string("MirkSpanSuspicion: \"") + key + "\" is not a string");
    return it->get<std::string>();
}

}  // namespace

std::optional<text::TextRange> MirkSpanSuspicion::resolveRange(std::string_view text) const {
    if (span.empty()) return std::nullopt;
    const std::string left = leftContext.value_or("");
    const std::string right = rightContext.value_or("");
    if (left.empty() && right.empty()) return firstOccurrence(text, span);
    const std::string needle = left + span + right;
    const std::size_t position = text.find(needle);
    if (position == std::string_view::npos) return firstOccurrence(text, span);
    const std::size_t begin = position + left.size();
    return text::TextRange{begin, begin + span.size()};
}

std::string MirkSpanSuspicion::toJSON() const {
    if (!std::isfinite(confidence)) throw RecordCodingError("MirkSpanSuspicion: confidence is not finite");
    Json json;
    json["span"] = span;
    if (leftContext) json["leftContext"] = *leftContext;
    if (rightContext) json["rightContext"] = *rightContext;
    if (reason) json["reason"] = *reason;
    if (suggestedReplacement) json["suggestedReplacement"] = *suggestedReplacement;
    json["confidence"] = confidence;
    return dumpRecord(json);
}

MirkSpanSuspicion MirkSpanSuspicion::fromJSON(std::string_view text) {
    const RecordReader reader(text, "MirkSpanSuspicion");
    const Json& json = reader.object();
    const auto span = json.find("span");
    if (span == json.end() || !span->is_string()) throw RecordCodingError("MirkSpanSuspicion: \"span\" is missing or not a string");
    const auto confidence = json.find("confidence");
    if (confidence == json.end() || !confidence->is_number()) {
        throw RecordCodingError("MirkSpanSuspicion: \"confidence\" is missing or not a number");
    }
    return MirkSpanSuspicion(span->get<std::string>(), optionalString(json, "leftContext"),
                             optionalString(json, "rightContext"), optionalString(json, "reason"),
                             optionalString(json, "suggestedReplacement"), confidence->get<double>());
}

bool operator==(const MirkSpanSuspicion& a, const MirkSpanSuspicion& b) {
    return text::canonicallyEqual(a.span, b.span) && sameOptional(a.leftContext, b.leftContext) &&
           sameOptional(a.rightContext, b.rightContext) && sameOptional(a.reason, b.reason) &&
           sameOptional(a.suggestedReplacement, b.suggestedReplacement) && a.confidence == b.confidence;
}

}  // namespace pelora
