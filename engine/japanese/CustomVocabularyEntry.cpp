#include "engine/japanese/CustomVocabularyEntry.h"

#include <algorithm>
#include <array>
#include <optional>
#include <cstdint>
#include <cstdio>
#include <random>

#include "engine/recognition/RecordReader.h"
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
    return dumpRecord(json);
}

CustomVocabularyEntry CustomVocabularyEntry::fromJSON(std::string_view text) {
    RecordReader json(text, "CustomVocabularyEntry");
    CustomVocabularyEntry entry;
    const std::string idText = json.string("id");
    const auto id = canonicalUUID(idText);
    if (!id) json.fail("\"id\" is not a UUID: " + idText);
    entry.id = *id;
    entry.reading = json.string("reading");
    entry.surface = json.string("surface");
    entry.aliases = json.strings("aliases");
    entry.contextHints = json.strings("contextHints");
    entry.enabled = json.boolean("enabled");
    return entry;
}

bool operator==(const CustomVocabularyEntry& a, const CustomVocabularyEntry& b) {
    return sameUUID(a.id, b.id) && text::canonicallyEqual(a.reading, b.reading) &&
           text::canonicallyEqual(a.surface, b.surface) && sameTexts(a.aliases, b.aliases) &&
           sameTexts(a.contextHints, b.contextHints) && a.enabled == b.enabled;
}

}  // namespace pelora
