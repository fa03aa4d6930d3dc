#include "engine/recognition/ModelManager.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <system_error>
#include <vector>

#include <pwd.h>
#include <unistd.h>

#include "engine/recognition/PeloraVoiceError.h"
#include "platform/http/HttpClient.h"
#include "platform/http/Sha256.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kHannBytes = 1280;
constexpr std::int64_t kMelFilterBytes = 131584;
constexpr std::int64_t kWordRowBytes = 1536;  // 768 half-precision values per word
constexpr const char* kManifestName = "manifest.json";

std::string serverRoot() {
    const char* configured = std::getenv(ModelManager::serverEnvironmentVariable);
    std::string root = (configured && *configured) ? configured : ModelManager::defaultServer;
    while (!root.empty() && root.back() == '/') root.pop_back();
    return root;
}

bool isDirectoryAsset(std::string_view name) { return name.ends_with(".mlmodelc"); }

std::optional<std::int64_t> sizeOf(const fs::path& file) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(file, ec);
    if (ec) return std::nullopt;
    return static_cast<std::int64_t>(size);
}

// A compiled model bundle counts when it holds at least one non-empty file.
bool bundleHasContent(const fs::path& bundle) {
    std::error_code ec;
    fs::directory_iterator it(bundle, ec);
    if (ec) return false;
    for (const fs::directory_entry& entry : it) {
        std::error_code entryError;
        if (!entry.is_regular_file(entryError) || entryError) continue;
        const auto size = sizeOf(entry.path());
        if (size && *size >= 1) return true;
    }
    return false;
}

bool assetPresent(const fs::path& folder, std::string_view name) {
    const fs::path asset = folder / name;
    std::error_code ec;
    const fs::file_status status = fs::status(asset, ec);
    if (ec || !fs::exists(status)) return false;
    if (isDirectoryAsset(name)) return fs::is_directory(status) && bundleHasContent(asset);
    if (fs::is_directory(status)) return false;
    const auto size = sizeOf(asset);
    if (!size || *size < 1) return false;
    if (name == "hann_320.f32") return *size == kHannBytes;
    if (name == "mel_filters_257x128.f32") return *size == kMelFilterBytes;
    if (name == "word_unit_f16.bin") return *size % kWordRowBytes == 0;
    return true;
}

std::optional<std::string> readWholeFile(const fs::path& file) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(file.c_str(), "rb"), &std::fclose);
    if (!in) return std::nullopt;
    std::string bytes;
    char block[65536];
    for (;;) {
        const std::size_t n = std::fread(block, 1, sizeof block, in.get());
        bytes.append(block, n);
        if (n < sizeof block) break;
    }
    if (std::ferror(in.get())) return std::nullopt;
    return bytes;
}

[[noreturn]] void throwFileError(const std::string& what, const fs::path& path) {
    throw fs::filesystem_error(what, path, std::error_code(errno, std::generic_category()));
}

// Writes beside the target and renames, so readers never see a half-written file.
void writeFileAtomically(const fs::path& file, std::string_view bytes) {
    const fs::path temporary = file.parent_path() / ("." + file.filename().string() + ".partial");
    {
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(temporary.c_str(), "wb"), &std::fclose);
        if (!out) throwFileError("cannot create", temporary);
        const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out.get()) == bytes.size() &&
                             std::fflush(out.get()) == 0 && ::fsync(fileno(out.get())) == 0;
        if (!written || std::fclose(out.release()) != 0) {
            const int saved = errno;
            std::error_code ignored;
            fs::remove(temporary, ignored);
            errno = saved;
            throwFileError("cannot write", temporary);
        }
    }
    fs::rename(temporary, file);
}

// Moves a verified file into place in one step; only a folder in the way (which a
// rename cannot replace) is removed first.
void replaceWith(const fs::path& temporary, const fs::path& destination) {
    std::error_code ec;
    fs::rename(temporary, destination, ec);
    if (!ec) return;
    std::error_code statusError;
    if (fs::is_directory(fs::symlink_status(destination, statusError))) {
        fs::remove_all(destination);
        fs::rename(temporary, destination);
        return;
    }
    throw fs::filesystem_error("cannot move the downloaded file into place", temporary, destination, ec);
}

http::RequestOptions transferOptions() {
    http::RequestOptions options;
    options.connectTimeout = std::chrono::seconds(30);
    options.stallTimeout = std::chrono::seconds(60);
    // A server that trickles a byte now and then never trips the stall timeout.
    options.minimumRate = {1024, std::chrono::seconds(30)};
    return options;
}

std::string httpStatusPayload(long status, std::string_view what) {
    return "HTTP " + std::to_string(status) + ": " + std::string(what);
}

std::string verificationPayload(std::string_view label) {
    return "Downloaded file failed size/SHA-256 verification: " + std::string(label);
}

}  // namespace

const std::string& ModelManager::remoteBaseURL() {
    static const std::string url = serverRoot() + "/models/";
    return url;
}

const std::string& ModelManager::remoteManifestURL() {
    static const std::string url = serverRoot() + "/models/v5/manifest.json";
    return url;
}

fs::path ModelManager::applicationSupportDirectory() {
    // Per the XDG base-directory rules, an unset, empty or relative value is ignored.
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data && fs::path(data).is_absolute())
        return fs::path(data);
    fs::path home;
    if (const char* env = std::getenv("HOME"); env && *env) {
        home = env;
    } else {
        std::vector<char> buffer(16384);
        passwd entry{};
        passwd* found = nullptr;
        if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
            home = found->pw_dir;
    }
    return home / ".local" / "share";
}

fs::path ModelManager::sharedModelsDirectory() { return applicationSupportDirectory() / "PeloraVoice2" / "models"; }

fs::path ModelManager::legacyModelsDirectory() {
    return applicationSupportDirectory() / "ai.mosvik.eg2demo" / "models";
}

std::optional<fs::path> ModelManager::bundleModelsDirectory() {
    std::error_code ec;
    const fs::path program = fs::read_symlink("/proc/self/exe", ec);
    if (ec || program.empty()) return std::nullopt;
    return program.parent_path() / "models";
}

std::optional<fs::path> ModelManager::resolveModelsDirectory() {
    std::vector<fs::path> candidates;
    if (auto bundle = bundleModelsDirectory()) candidates.push_back(*bundle);
    candidates.push_back(sharedModelsDirectory());
    candidates.push_back(legacyModelsDirectory());
    for (const fs::path& candidate : candidates)
        if (isCompleteModelDirectory(candidate)) return candidate;
    return std::nullopt;
}

bool ModelManager::isCompleteModelDirectory(const fs::path& folder) {
    for (std::string_view name : requiredAssets)
        if (!assetPresent(folder, name)) return false;

    // A folder filled by a download is judged against the manifest it was filled from;
    // an unreadable manifest leaves the verdict to the required assets alone.
    const fs::path manifestFile = folder / kManifestName;
    std::error_code ec;
    if (!fs::exists(manifestFile, ec)) return true;
    const auto bytes = readWholeFile(manifestFile);
    if (!bytes) return true;
    RemoteManifest manifest;
    try {
        manifest = RemoteManifest::decode(*bytes);
    } catch (const std::invalid_argument&) {
        return true;
    }
    for (const ManifestFile& file : manifest.files) {
        if (!isSafeRelativeAssetPath(file.path, folder)) return false;
        const auto size = sizeOf(folder / file.path);
        if (!size || *size != file.size || *size <= 0) return false;
    }
    return true;
}

bool ModelManager::isSafeRelativeAssetPath(std::string_view path, const fs::path& baseFolder) {
    const std::string trimmed = text::trimWhitespaceAndNewlines(path);
    if (trimmed.empty() || trimmed.front() == '/' || trimmed.front() == '~') return false;
    // A NUL would silently cut the name short where the file system reads it.
    if (trimmed.find('\\') != std::string::npos || trimmed.find('\0') != std::string::npos) return false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = trimmed.find('/', start);
        const std::string_view piece =
            std::string_view(trimmed).substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (piece.empty() || piece == "." || piece == "..") return false;
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    const std::string base = (baseFolder.lexically_normal() / "").string();
    const std::string full = (baseFolder / trimmed).lexically_normal().string();
    return full.size() > base.size() && full.starts_with(base);
}

fs::path ModelManager::ensureSharedModelsDirectory() {
    const fs::path shared = sharedModelsDirectory();
    const auto resolved = resolveModelsDirectory();
    if (!resolved) throw PeloraVoiceError::modelsNotFound(shared.string());
    if (*resolved == shared) return *resolved;

    std::error_code ec;
    if (fs::exists(shared, ec)) return *resolved;  // something else owns the shared location

    // Best effort: without the link each program still loads the resolved folder.
    fs::create_directories(shared.parent_path(), ec);
    fs::create_directory_symlink(*resolved, shared, ec);
    return isCompleteModelDirectory(shared) ? shared : *resolved;
}

fs::path ModelManager::ensureOrDownloadModels(const ProgressCallback& onProgress) {
    try {
        return ensureSharedModelsDirectory();
    } catch (const PeloraVoiceError&) {
        // No complete folder anywhere: download one below.
    }

    const fs::path shared = sharedModelsDirectory();
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(shared, ec))) fs::remove(shared, ec);  // points at nothing usable
    fs::create_directories(shared);

    if (onProgress) onProgress("音声認識モデル構成を取得中...");
    const FetchedManifest fetched = fetchManifest(remoteManifestURL());
    const RemoteManifest& manifest = fetched.manifest;

    // Refuse a bad manifest before writing anything.
    for (const ManifestFile& file : manifest.files) {
        if (!isSafeRelativeAssetPath(file.path, shared))
            throw PeloraVoiceError::invalidModelAsset("Unsafe manifest path: " + file.path);
        if (!isValidSha256(file.sha256))
            throw PeloraVoiceError::invalidModelAsset("Manifest entry has no valid SHA-256: " + file.path);
    }
    // The manifest goes in first: until every file it lists is in place with its size,
    // the folder is incomplete, so an interrupted download is resumed, never trusted.
    writeFileAtomically(shared / kManifestName, fetched.bytes);

    std::int64_t completed = 0;
    for (const ManifestFile& file : manifest.files) {
        const fs::path destination = shared / file.path;
        if (fileMatches(destination, file.size, file.sha256)) {
            completed += file.size;
            continue;
        }
        fs::create_directories(destination.parent_path());
        if (onProgress) onProgress(progressLine(completed, manifest.totalBytes));
        downloadVerifiedFile(sourceURL(file.url, remoteBaseURL()), destination, file.size, file.sha256, file.path);
        completed += file.size;
    }

    if (isCompleteModelDirectory(shared)) return shared;
    throw PeloraVoiceError::modelsNotFound(shared.string());
}

bool ModelManager::fileMatches(const fs::path& file, std::int64_t size, std::string_view sha256) {
    if (size < 1) return false;
    const auto actual = sizeOf(file);
    if (!actual || *actual != size) return false;
    const std::string expected = text::toLower(text::trimWhitespaceAndNewlines(sha256));
    if (expected.size() != 64) return true;  // no usable digest: the size decides
    const auto digest = http::sha256HexOfFile(file);
    return digest && *digest == expected;
}

ModelManager::FetchedManifest ModelManager::fetchManifest(const std::string& url) {
    http::RequestOptions options = transferOptions();
    options.totalTimeout = std::chrono::minutes(2);
    options.maxBytes = 16 << 20;
    http::Response response = http::HttpClient::get(url, options);
    if (!response.ok()) throw PeloraVoiceError::modelsNotFound(httpStatusPayload(response.status, url));
    FetchedManifest fetched{RemoteManifest::decode(response.body), std::move(response.body)};
    return fetched;
}

std::string ModelManager::sourceURL(std::string_view url, std::string_view baseURL) {
    if (!url.empty()) {
        if (auto resolved = http::HttpClient::resolve(baseURL, url)) return *resolved;
    }
    std::string base(baseURL);
    if (!base.empty() && base.back() != '/') base.push_back('/');
    std::string_view relative = url;
    while (relative.starts_with('/')) relative.remove_prefix(1);
    return base + http::HttpClient::escapePath(relative);
}

bool ModelManager::isValidSha256(std::string_view sha256) {
    const std::string trimmed = text::trimWhitespaceAndNewlines(sha256);
    return trimmed.size() == 64 && std::all_of(trimmed.begin(), trimmed.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

void ModelManager::downloadVerifiedFile(const std::string& sourceURL, const fs::path& destination, std::int64_t size,
                                        std::string_view sha256, std::string_view label) {
    if (!isValidSha256(sha256))
        throw PeloraVoiceError::invalidModelAsset("Manifest entry has no valid SHA-256: " + std::string(label));
    fs::create_directories(destination.parent_path());
    const fs::path temporary = destination.parent_path() / ("." + destination.filename().string() + ".partial");

    http::RequestOptions options = transferOptions();
    options.maxBytes = std::max<std::int64_t>(size, 0);  // a body longer than promised is not the file
    long status = 0;
    try {
        status = http::HttpClient::download(sourceURL, temporary, options);
    } catch (const http::HttpError& error) {
        if (error.kind() == http::HttpError::Kind::tooLarge)
            throw PeloraVoiceError::invalidModelAsset(verificationPayload(label));
        throw;
    }
    // The HTTP layer leaves no file behind for an error status.
    if (status < 200 || status > 299) throw PeloraVoiceError::modelsNotFound(httpStatusPayload(status, label));

    struct RemoveUnlessMoved {
        const fs::path& file;
        bool moved = false;
        ~RemoveUnlessMoved() {
            if (moved) return;
            std::error_code ignored;
            fs::remove(file, ignored);
        }
    } cleanup{temporary};
    if (!fileMatches(temporary, size, sha256)) throw PeloraVoiceError::invalidModelAsset(verificationPayload(label));
    replaceWith(temporary, destination);
    cleanup.moved = true;
}

std::string ModelManager::progressLine(std::int64_t completedBytes, std::int64_t totalBytes) {
    const double fraction =
        static_cast<double>(completedBytes) / static_cast<double>(std::max<std::int64_t>(totalBytes, 1));
    const int percent = static_cast<int>(std::min(fraction * 100.0, 99.0));
    const double done = static_cast<double>(completedBytes) / 1048576.0;
    const double total = std::max(static_cast<double>(totalBytes) / 1048576.0, 1.0);
    char line[160];
    std::snprintf(line, sizeof line, "初回モデルダウンロード中... %d%% (%.0f / %.0f MB)", percent, done, total);
    return line;
}

}  // namespace pelora
