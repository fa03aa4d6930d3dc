#pragma once

#include <cstdint>
#include <string>

namespace pelora {

// One file of a model download manifest.
struct ManifestFile {
    std::string sha256;     // expected digest, 64 hexadecimal digits (case and surrounding space ignored)
    std::string url;        // absolute, or relative to the server's model base URL
    std::int64_t size = 0;  // expected size in bytes
    std::string path;       // destination relative to the model folder, "/"-separated
};

}  // namespace pelora
