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

constexpr const char* kManifestName = "manifest.json";
constexpr const char* kModelExtension = ".bin";

bool isRegularFile(const fs::path& file) {
    std::error_code error;
    return fs::is_regular_file(file, error);
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

SpeechModelCheck::Result SpeechAssetStore::check(const fs::path& file) const {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(file, error);
    const fs::file_time_type modified = error ? fs::file_time_type{} : fs::last_write_time(file, error);
    if (error) return SpeechModelCheck::checkFile(file);
    {
        std::lock_guard lock(checksMutex_);
        if (const auto found = checks_.find(file);
            found != checks_.end() && found->second.size == size && found->second.modified == modified) {
            return found->second.result;
        }
    }
    SpeechModelCheck::Result result = SpeechModelCheck::checkFile(file);
    std::lock_guard lock(checksMutex_);
    checks_[file] = CheckedFile{size, modified, result};
    return result;
}

// Model files where the assets belong, in the order they are considered.
std::vector<fs::path> SpeechAssetStore::candidates() const {
    if (configuration_.modelFile) return {*configuration_.modelFile};
    const fs::path& folder = configuration_.assetFolder;
    std::error_code error;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (it->path().extension() == kModelExtension && isRegularFile(it->path())) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::optional<fs::path> SpeechAssetStore::installedModel() const {
    if (configuration_.modelFile) {
        const fs::path& file = *configuration_.modelFile;
        if (isRegularFile(file) && check(file)) return file;
        return std::nullopt;
    }
    const std::map<std::string, std::int64_t> sizes = listedSizes(configuration_.assetFolder);
    for (const fs::path& file : candidates()) {
        if (const auto listed = sizes.find(file.filename().string()); listed != sizes.end()) {
            std::error_code sizeError;
            const std::uintmax_t size = fs::file_size(file, sizeError);
            if (sizeError || listed->second < 1 || size != static_cast<std::uintmax_t>(listed->second)) continue;
        }
        if (!check(file)) continue;
        return file;
    }
    return std::nullopt;
}

std::optional<std::pair<fs::path, std::string>> SpeechAssetStore::damagedModel() const {
    for (const fs::path& file : candidates()) {
        if (!isRegularFile(file)) continue;
        const SpeechModelCheck::Result result = check(file);
        if (!result) return std::make_pair(file, result.fault);
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
        const fs::path& file = *configuration_.modelFile;
        std::string reason;
        if (const auto damaged = damagedModel()) reason = " (" + damaged->second + ")";
        throw SpeechRecognitionError("指定された日本語音声認識モデルファイルが見つからないか、ggml モデルファイルではありません" +
                                     reason + ": " + file.string());
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
        std::string reason;
        if (const auto damaged = damagedModel()) reason = " (" + damaged->first.filename().string() + ": " + damaged->second + ")";
        throw SpeechRecognitionError("インストールした日本語音声認識アセットに使える ggml モデルファイル (.bin) がありません" +
                                     reason + "。" + placementHint());
    }
}

}  // namespace pelora::speech
