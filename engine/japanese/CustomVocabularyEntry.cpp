#include "engine/japanese/CustomVocabularyEntry.h"

#include <algorithm>
#include <array>
#include <optional>
#include <cstdint>
#include <cstdio>
#include <random>

#include <nlohmann/json.hpp>

#include "engine/recognition/TranscriptionResult.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {

using Json = nlohmann::ordered_json;

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

char upperHex(char c) { return (c >= 'a' && c <= 'f') ? static_cast<char>(c - 'a' + 'A') : c; }

// The upper-case 8-4-4-4-12 form of a UUID text, or nothing when the text is no UUID.
std::optional<std::string> canonicalUUID(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    std::string out(text);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? out[i] != '-' : !isHex(out[i])) return std::nullopt;
        out[i] = upperHex(out[i]);
    }
    return out;
}

bool sameUUID(std::string_view a, std::string_view b) {
    const auto ca = canonicalUUID(a);
    const auto cb = canonicalUUID(b);
    if (ca && cb) return *ca == *cb;
    return a == b;
}

bool sameTexts(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const std::string& x, const std::string& y) { return text::canonicallyEqual(x, y); });
}

const Json& requireKey(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end()) throw RecordCodingError(std::string("CustomVocabularyEntry: missing key \"") + key + "\"");
    if (it->is_null()) throw RecordCodingError(std::string("CustomVocabularyEntry: \"") + key + "\" is null");
    return *it;
}

std::string requireString(const Json& object, const char* key) {
    const Json& value = requireKey(object, key);
    if (!value.is_string()) throw RecordCodingError(std::string("CustomVocabularyEntry: \"") + key + "\" is not a string");
    return value.get<std::string>();
}

std::vector<std::string> requireStrings(const Json& object, const char* key) {
    const Json& value = requireKey(object, key);
    if (!value.is_array()) throw RecordCodingError(std::string("CustomVocabularyEntry: \"") + key + "\" is not an array");
    std::vector<std::string> out;
    out.reserve(value.size());
    for (const Json& element : value) {
        if (!element.is_string()) {
            throw RecordCodingError(std::string("CustomVocabularyEntry: \"") + key + "\" holds a non-string element");
        }
        out.push_back(element.get<std::string>());
    }
    return out;
}

}  // namespace

std::string CustomVocabularyEntry::newID() {
    thread_local std::mt19937_64 generator{[] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(), device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }()};
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
        const std::uint64_t random = generator();
        for (std::size_t k = 0; k < 8; ++k) bytes[i + k] = static_cast<std::uint8_t>(random >> (8 * k));
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9], bytes[10],
                  bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

std::string CustomVocabularyEntry::toJSON() const {
    Json json;
    json["id"] = canonicalUUID(id).value_or(id);
    json["reading"] = reading;
    json["surface"] = surface;
    json["aliases"] = aliases;
    json["contextHints"] = contextHints;
    json["enabled"] = enabled;
    // Bad UTF-8 in a field is written as U+FFFD rather than refusing the whole entry.
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

CustomVocabularyEntry CustomVocabularyEntry::fromJSON(std::string_view text) {
    Json json;
    try {
        json = Json::parse(text);
    } catch (const Json::exception& error) {
        throw RecordCodingError(std::string("CustomVocabularyEntry: ") + error.what());
    }
    if (!json.is_object()) throw RecordCodingError("CustomVocabularyEntry: not a JSON object");

    CustomVocabularyEntry entry;
    const std::string idText = requireString(json, "id");
    const auto id = canonicalUUID(idText);
    if (!id) throw RecordCodingError("CustomVocabularyEntry: \"id\" is not a UUID: " + idText);
    entry.id = *id;
    entry.reading = requireString(json, "reading");
    entry.surface = requireString(json, "surface");
    entry.aliases = requireStrings(json, "aliases");
    entry.contextHints = requireStrings(json, "contextHints");
    const Json& enabled = requireKey(json, "enabled");
    if (!enabled.is_boolean()) throw RecordCodingError("CustomVocabularyEntry: \"enabled\" is not a boolean");
    entry.enabled = enabled.get<bool>();
    return entry;
}

bool operator==(const CustomVocabularyEntry& a, const CustomVocabularyEntry& b) {
    return sameUUID(a.id, b.id) && text::canonicallyEqual(a.reading, b.reading) &&
           text::canonicallyEqual(a.surface, b.surface) && sameTexts(a.aliases, b.aliases) &&
           sameTexts(a.contextHints, b.contextHints) && a.enabled == b.enabled;
}

}  // namespace pelora
