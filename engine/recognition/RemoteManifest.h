#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/recognition/ManifestFile.h"

namespace pelora {

// The model server's list of files, "manifest.json".
struct RemoteManifest {
    std::int64_t totalBytes = 0;  // "total_bytes": only for progress figures
    std::int64_t version = 0;     // "version": read, not used
    std::vector<ManifestFile> files;

    // Every key is required with its JSON type; unknown keys are ignored.
    // Throws std::invalid_argument naming the first fault.
    static RemoteManifest decode(std::string_view json);
};

}  // namespace pelora
