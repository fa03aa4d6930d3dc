#include "PeloraVoiceApp/controller/HistoryEntry.h"

#include "engine/recognition/RecordReader.h"

#include <cmath>

namespace pelora {

namespace {

using json = nlohmann::ordered_json;

// 2001-01-01T00:00:00Z in seconds of the Unix epoch.
constexpr double referenceDateUnixSeconds = 978307200.0;
// Dates from 1747 to 2254, well inside what a time point holds.
constexpr double maxReferenceSeconds = 8e9;

bool isUUIDText(std::string_view text) {
    if (text.size() != 36) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') return false;
        } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string HistoryEntry::toJSON() const {
    json j;
    j["id"] = id;
    const double unixSeconds = std::chrono::duration<double>(createdAt.time_since_epoch()).count();
    j["createdAt"] = unixSeconds - referenceDateUnixSeconds;
    j["sourceName"] = sourceName;
    if (targetAppName) j["targetAppName"] = *targetAppName;
    j["result"] = json::parse(result.toJSON());
    return dumpRecord(j);
}

HistoryEntry HistoryEntry::fromJSON(std::string_view text) {
    RecordReader j(text, "HistoryEntry");
    HistoryEntry entry;
    entry.id = j.string("id");
    if (!isUUIDText(entry.id)) j.fail("\"id\" is not a UUID: " + entry.id);
    const double seconds = j.number("createdAt");
    // The clock counts nanoseconds in 64 bits (about 292 years either side of 1970).
    if (!std::isfinite(seconds) || std::fabs(seconds) > maxReferenceSeconds) j.fail("\"createdAt\" is out of range");
    entry.createdAt = std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
        std::chrono::duration<double>(seconds + referenceDateUnixSeconds)));
    entry.sourceName = j.string("sourceName");
    const json& object = j.object();
    if (const auto it = object.find("targetAppName"); it != object.end() && !it->is_null()) {
        if (!it->is_string()) j.fail("\"targetAppName\" is not a string");
        entry.targetAppName = it->get<std::string>();
    }
    entry.result = TranscriptionResult::fromJSON(j.require("result").dump());
    return entry;
}

}  // namespace pelora
