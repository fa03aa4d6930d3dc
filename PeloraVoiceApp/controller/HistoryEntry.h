#pragma once

#include "engine/recognition/TranscriptionResult.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace pelora {

// One finished transcription kept in the in-memory history (newest first).
struct HistoryEntry {
    std::string id;  // UUID text
    std::chrono::system_clock::time_point createdAt;
    std::string sourceName;
    std::optional<std::string> targetAppName;
    TranscriptionResult result;

    // JSON keyed by the field names: "id" (UUID text), "createdAt" (seconds since
    // 2001-01-01T00:00:00Z, the time base of the other edition's documents), "sourceName",
    // "targetAppName" (written only when present) and "result". Reading requires every key
    // but "targetAppName" and throws RecordCodingError otherwise.
    std::string toJSON() const;
    static HistoryEntry fromJSON(std::string_view json);

    friend bool operator==(const HistoryEntry&, const HistoryEntry&) = default;
};

}  // namespace pelora
