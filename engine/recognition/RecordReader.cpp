#include "engine/recognition/RecordReader.h"

#include <cmath>
#include <limits>

#include "engine/recognition/TranscriptionResult.h"

namespace pelora {

RecordReader::RecordReader(std::string_view text, std::string record) : record_(std::move(record)) {
    try {
        parsed_ = Json::parse(text.begin(), text.end());
    } catch (const Json::exception& error) {
        fail(std::string("not valid JSON: ") + error.what());
    }
    object_ = &parsed_;
    if (!object_->is_object()) fail("not a JSON object");
}

RecordReader::RecordReader(const Json& object, std::string record) : record_(std::move(record)), object_(&object) {
    if (!object_->is_object()) fail("not a JSON object");
}

void RecordReader::fail(const std::string& what) const { throw RecordCodingError(record_ + ": " + what); }

const RecordReader::Json& RecordReader::require(const char* key) const {
    const auto it = object_->find(key);
    if (it == object_->end()) fail(std::string("missing key \"") + key + "\"");
    if (it->is_null()) fail(std::string("\"") + key + "\" is null");
    return *it;
}

std::string RecordReader::string(const char* key) const {
    const Json& value = require(key);
    if (!value.is_string()) fail(std::string("\"") + key + "\" is not a string");
    return value.get<std::string>();
}

double RecordReader::number(const char* key) const {
    const Json& value = require(key);
    if (!value.is_number()) fail(std::string("\"") + key + "\" is not a number");
    return value.get<double>();
}

float RecordReader::float32(const char* key) const {
    const double value = number(key);
    if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max())
        fail(std::string("\"") + key + "\" does not fit in a 32-bit float");
    return static_cast<float>(value);
}

std::int64_t RecordReader::integer(const char* key) const {
    const Json& value = require(key);
    // Whole numbers above the signed range arrive unsigned; they would wrap to negatives.
    if (value.is_number_unsigned() &&
        value.get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        fail(std::string("\"") + key + "\" is not an integer");
    if (value.is_number_integer()) return value.get<std::int64_t>();
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.2e18) return static_cast<std::int64_t>(d);
    }
    fail(std::string("\"") + key + "\" is not an integer");
}

bool RecordReader::boolean(const char* key) const {
    const Json& value = require(key);
    if (!value.is_boolean()) fail(std::string("\"") + key + "\" is not a boolean");
    return value.get<bool>();
}

std::vector<std::string> RecordReader::strings(const char* key) const {
    const Json& value = require(key);
    if (!value.is_array()) fail(std::string("\"") + key + "\" is not an array");
    std::vector<std::string> out;
    out.reserve(value.size());
    for (const Json& element : value) {
        if (!element.is_string()) fail(std::string("\"") + key + "\" holds a non-string element");
        out.push_back(element.get<std::string>());
    }
    return out;
}

std::string dumpRecord(const nlohmann::ordered_json& json) {
    return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace pelora
