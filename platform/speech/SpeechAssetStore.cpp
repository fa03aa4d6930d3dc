#include "platform/speech/SpeechAssetStore.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

namespace pelora::speech {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kGgmlMagic = 0x67676d6c;  // first four bytes of a ggml model file
constexpr const char* kManifestName = "manifest.json";
constexpr const char* kModelExtension = ".bin";

bool isRegularFile(const fs::path& file) {
    std::error_code error;
    return fs::is_regular_file(file, error);
}

bool hasGgmlMagic(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::uint32_t magic = 0;
    return in.read(reinterpret_cast<char*>(&magic), sizeof magic) && magic == kGgmlMagic;
}

// Sizes the folder's manifest gives for files directly in the folder, by file name.
// A missing or unreadable manifest lists nothing.
std::map<std::string, std::int64_t> listedSizes(const fs::path& folder) {
    std::map<std::string, std::int64_t> sizes;
    std::ifstream in(folder / kManifestName, std::ios::binary);
    if (!in) return sizes;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const nlohmann::json manifest = nlohmann::json::parse(bytes, nullptr, /*allow_exceptions=*/false);
    if (!manifest.is_object() || !manifest.contains("files") || !manifest["files"].is_array()) return sizes;
    for (const nlohmann::json& entry : manifest["files"]) {
        if (!entry.is_object() || !entry.contains("path") || !entry["path"].is_string() || !entry.contains("size") ||
            !entry["size"].is_number_integer()) {
            continue;
        }
        sizes[entry["path"].get<std::string>()] = entry["size"].get<std::int64_t>();
    }
    return sizes;
}

}  // namespace

SpeechAssetStore::SpeechAssetStore(SpeechAssetConfiguration configuration) : configuration_(std::move(configuration)) {}

std::optional<fs::path> SpeechAssetStore::installedModel() const {
    if (configuration_.modelFile) {
        const fs::path& file = *configuration_.modelFile;
        if (isRegularFile(file) && hasGgmlMagic(file)) return file;
        return std::nullopt;
    }
    const fs::path& folder = configuration_.assetFolder;
    std::error_code error;
    std::vector<fs::path> candidates;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (it->path().extension() == kModelExtension && isRegularFile(it->path())) candidates.push_back(it->path());
    }
    std::sort(candidates.begin(), candidates.end());
    const std::map<std::string, std::int64_t> sizes = listedSizes(folder);
    for (const fs::path& file : candidates) {
        if (!hasGgmlMagic(file)) continue;
        if (const auto listed = sizes.find(file.filename().string()); listed != sizes.end()) {
            std::error_code sizeError;
            const std::uintmax_t size = fs::file_size(file, sizeError);
            if (sizeError || listed->second < 1 || size != static_cast<std::uintmax_t>(listed->second)) continue;
        }
        return file;
    }
    return std::nullopt;
}

std::string SpeechAssetStore::placementHint() const {
    return "日本語対応の whisper.cpp 形式 (ggml) のモデルファイル (.bin) を次のフォルダに置くこともできます: " +
           configuration_.assetFolder.string();
}

void SpeechAssetStore::install() {
    std::lock_guard lock(installMutex_);
    installing_ = true;
    struct Reset {
        std::atomic<bool>& flag;
        ~Reset() { flag = false; }
    } reset{installing_};

    if (installedModel()) return;
    if (configuration_.modelFile) {
        throw SpeechRecognitionError("指定された日本語音声認識モデルファイルが見つからないか、ggml モデルファイルではありません: " +
                                     configuration_.modelFile->string());
    }
    if (!configuration_.installer) {
        throw SpeechRecognitionError("日本語音声認識モデルがインストールされていません。" + placementHint());
    }
    try {
        configuration_.installer(configuration_.assetFolder);
    } catch (const SpeechRecognitionError&) {
        throw;
    } catch (const std::exception& error) {
        throw SpeechRecognitionError(std::string("日本語音声認識モデルをインストールできませんでした (") + error.what() +
                                     ")。" + placementHint());
    }
    if (!installedModel()) {
        throw SpeechRecognitionError("インストールした日本語音声認識アセットに ggml モデルファイル (.bin) がありません。" +
                                     placementHint());
    }
}

}  // namespace pelora::speech
