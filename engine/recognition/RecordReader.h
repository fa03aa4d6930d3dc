#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace pelora {

// Strict reading of one record's JSON object, shared by the engine's records. Every
// failure is a RecordCodingError whose message starts with the record's name.
class RecordReader {
public:
    using Json = nlohmann::ordered_json;

    // Parses `text`; anything but a JSON object fails.
    RecordReader(std::string_view text, std::string record);
    // Reads an object nested inside another record.
    RecordReader(const Json& object, std::string record);

    const Json& object() const { return *object_; }

    // The value under `key`; a missing key or a null fails.
    const Json& require(const char* key) const;
    std::string string(const char* key) const;
    double number(const char* key) const;
    // A number a 32-bit float can hold; a larger magnitude fails rather than becoming infinite.
    float float32(const char* key) const;
    // A whole number; a fractional or out-of-range number fails.
    std::int64_t integer(const char* key) const;
    bool boolean(const char* key) const;
    std::vector<std::string> strings(const char* key) const;

    [[noreturn]] void fail(const std::string& what) const;

private:
    std::string record_;
    Json parsed_;
    const Json* object_;
};

// Compact JSON text; text that is not valid UTF-8 is written as U+FFFD, never refused.
std::string dumpRecord(const nlohmann::ordered_json& json);

}  // namespace pelora
