#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "engine/recognition/RemoteManifest.h"

namespace pelora {

// The EG2 model folder: finding a complete one among the standard places, sharing it
// under one location for every program, and downloading it once from the model
// server, each file checked by size and SHA-256 against the server's manifest.
//
// Locations (application-support folder = $XDG_DATA_HOME, else ~/.local/share):
//   shared  <data>/PeloraVoice2/models
//   legacy  <data>/ai.mosvik.eg2demo/models
//   bundle  <folder of the running program>/models
class ModelManager {
public:
    using ProgressCallback = std::function<void(const std::string&)>;

    // A folder is complete when these exist with their sizes, in this order of checking.
    static constexpr std::array<std::string_view, 10> requiredAssets = {
        "hann_320.f32",
        "mel_filters_257x128.f32",
        "eg2_audio_l11.mlmodelc",
        "reader_P6.mlmodelc",
        "reader_P6.json",
        "reader_words.json",
        "word_unit_f16.bin",
        "scorer_blk_d128_k16_b4_t500.mlmodelc",
        "punct_headonly.mlmodelc",
        "punct_case.json",
    };

    // The model server is "scheme://host[:port]" taken from this variable, else the default.
    static constexpr const char* serverEnvironmentVariable = "PELORAVOICE_MODEL_SERVER";
    static constexpr const char* defaultServer = "https://models.peloravoice.app";
    // Built once, on first use.
    static const std::string& remoteBaseURL();      // <server>/models/
    static const std::string& remoteManifestURL();  // <server>/models/v5/manifest.json

    static std::filesystem::path applicationSupportDirectory();
    static std::filesystem::path sharedModelsDirectory();
    static std::filesystem::path legacyModelsDirectory();
    static std::optional<std::filesystem::path> bundleModelsDirectory();

    // The first complete folder of: bundle, shared, legacy.
    static std::optional<std::filesystem::path> resolveModelsDirectory();
    // The ten required assets present with their sizes and, when the folder holds a
    // readable "manifest.json", every file it lists present with its listed size.
    static bool isCompleteModelDirectory(const std::filesystem::path& folder);
    // Whether a manifest path names something inside `baseFolder`.
    static bool isSafeRelativeAssetPath(std::string_view path, const std::filesystem::path& baseFolder);

    // The folder recognisers should load from; links the shared location to it when
    // that location is free. Never downloads. Throws PeloraVoiceError modelsNotFound.
    static std::filesystem::path ensureSharedModelsDirectory();

    // The folder to load from, downloading the models into the shared folder first when
    // no complete folder exists. Blocks until done: call it off the user-interface
    // thread. `onProgress` (may be empty) receives Japanese status lines on the calling
    // thread. Throws PeloraVoiceError, HttpError (transport), std::invalid_argument
    // (manifest decoding) or std::filesystem::filesystem_error.
    static std::filesystem::path ensureOrDownloadModels(const ProgressCallback& onProgress = {});

    // Size check, then the SHA-256 check when `sha256` is 64 characters after trimming.
    static bool fileMatches(const std::filesystem::path& file, std::int64_t size, std::string_view sha256);

    // --- Building blocks for installing manifest-listed files (also used for other assets) ---

    struct FetchedManifest {
        RemoteManifest manifest;
        std::string bytes;  // exactly as served
    };
    // GET and decode a manifest. A non-2xx status throws modelsNotFound "HTTP <status>: <url>".
    static FetchedManifest fetchManifest(const std::string& url);

    // A manifest "url" made absolute against `baseURL`; text that is not a URL
    // reference is appended to the base as an escaped path.
    static std::string sourceURL(std::string_view url, std::string_view baseURL);

    // 64 hexadecimal digits after trimming white space.
    static bool isValidSha256(std::string_view sha256);

    // Downloads `sourceURL` into a temporary file beside `destination`, verifies size and
    // SHA-256 (a valid digest is required) and renames it over `destination`. The
    // transfer stops as soon as it exceeds `size`. `label` names the file in errors:
    //   invalid digest        invalidModelAsset "Manifest entry has no valid SHA-256: <label>"
    //   non-2xx status        modelsNotFound "HTTP <status>: <label>"
    //   wrong size or digest  invalidModelAsset "Downloaded file failed size/SHA-256 verification: <label>"
    // Transport failures throw HttpError; file-system failures filesystem_error. No
    // temporary file stays behind, and `destination` is untouched unless verified.
    static void downloadVerifiedFile(const std::string& sourceURL, const std::filesystem::path& destination,
                                     std::int64_t size, std::string_view sha256, std::string_view label);

    // "初回モデルダウンロード中... <percent>% (<done> / <total> MB)"
    static std::string progressLine(std::int64_t completedBytes, std::int64_t totalBytes);
};

}  // namespace pelora
