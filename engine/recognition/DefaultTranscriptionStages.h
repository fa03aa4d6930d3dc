#pragma once

#include <filesystem>
#include <optional>

#include "engine/recognition/TranscriptionStages.h"

namespace pelora {

// The real recognisers and correction stages. The EG2 pipeline is left out when it
// cannot be built (no complete model folder, unreadable assets).
TranscriptionStages makeDefaultTranscriptionStages(const std::optional<std::filesystem::path>& eg2Folder);

}  // namespace pelora
