#pragma once

#include "engine/recognition/TranscriptionResult.h"

#include <chrono>
#include <optional>
#include <string>

namespace pelora {

// One finished transcription kept in the in-memory history (newest first).
struct HistoryEntry {
    std::string id;  // UUID text
    std::chrono::system_clock::time_point createdAt;
    std::string sourceName;
    std::optional<std::string> targetAppName;
    TranscriptionResult result;

    friend bool operator==(const HistoryEntry&, const HistoryEntry&) = default;
};

}  // namespace pelora
