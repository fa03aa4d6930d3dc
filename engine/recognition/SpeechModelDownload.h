#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "engine/recognition/SpeechModelCatalogue.h"
#include "platform/http/HttpClient.h"
#include "platform/speech/SpeechRecognition.h"

namespace pelora {

// One catalogue model downloaded into the asset folder as it should be for a file of
// hundreds of megabytes: the free space checked first, the transfer continued from a
// partial file ("<name>.partial", never the final name) with a range request after any
// interruption, redirects followed only over https and at most five times, a transfer
// that crawls ended as a network error, progress reported, and the SHA-1 digest
// computed while the bytes arrive and checked before the file takes its final name.
class SpeechModelDownload {
public:
    struct Options {
        speech::AssetProgressCallback onProgress;
        // Free bytes for the folder; empty: what the file system says is available.
        std::function<std::int64_t(const std::filesystem::path&)> freeSpace;
        // Below 1 KiB/s for 30 s the transfer is a network error.
        http::RequestOptions::MinimumRate minimumRate{1024, std::chrono::seconds(30)};
        std::string certificateAuthorities;  // PEM file to trust instead of the system's (tests)
        std::chrono::milliseconds progressInterval{200};
    };

    static constexpr const char* partialSuffix = ".partial";
    static constexpr int maxRedirects = 5;

    // Installs `entry` from `url` as <folder>/<entry.fileName()> and returns that path.
    // Throws speech::SpeechRecognitionError whose message says what failed, the folder,
    // and how to place the file by hand: too little space (the folder and the size
    // needed), an HTTP error status, a transfer error (the partial file stays and the
    // next call continues it), a digest mismatch (the partial file is removed).
    static std::filesystem::path install(const std::filesystem::path& folder, const SpeechModelCatalogueEntry& entry,
                                         const std::string& url, const Options& options);

    SpeechModelDownload() = delete;
};

}  // namespace pelora
