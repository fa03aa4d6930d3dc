#include "platform/speech/SpeechAssetStore.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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
    std::vector<fs::path> files;
    if (!configuration_.modelFileName.empty()) {
        files.push_back(folder / configuration_.modelFileName);
        if (!configuration_.otherModelFilesServe) return files;
    }
    std::error_code error;
    std::vector<fs::path> others;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (it->path().extension() == kModelExtension && isRegularFile(it->path()) &&
            it->path().filename() != configuration_.modelFileName) {
            others.push_back(it->path());
        }
    }
    std::sort(others.begin(), others.end());
    files.insert(files.end(), others.begin(), others.end());
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

namespace {

// An exclusive lock on "<folder>/.install.lock" across processes. The file is removed
// when the lock is released; a process that locked a file already removed tries again
// on the new one, so two processes never both hold the lock.
class InstallLock {
public:
    explicit InstallLock(const fs::path& folder) : file_(folder / ".install.lock") {
        fs::create_directories(folder);
        for (;;) {
            fd_ = ::open(file_.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
            if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "cannot create " + file_.string());
            int locked;
            do {
                locked = ::flock(fd_, LOCK_EX);
            } while (locked != 0 && errno == EINTR);
            if (locked != 0) {
                const int error = errno;
                ::close(fd_);
                throw std::system_error(error, std::generic_category(), "cannot lock " + file_.string());
            }
            struct stat held {}, named {};
            if (::fstat(fd_, &held) == 0 && ::stat(file_.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
                held.st_dev == named.st_dev) {
                return;
            }
            ::close(fd_);  // the holder before us removed it: lock the new one
        }
    }
    ~InstallLock() {
        ::unlink(file_.c_str());  // before the lock goes, so nobody waits on a removed file for ever
        ::close(fd_);
    }
    InstallLock(const InstallLock&) = delete;
    InstallLock& operator=(const InstallLock&) = delete;

private:
    fs::path file_;
    int fd_ = -1;
};

}  // namespace

void SpeechAssetStore::install(const AssetProgressCallback& onProgress) {
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
        const InstallLock crossProcess(configuration_.assetFolder);
        // Another process may have installed the model while this one waited.
        if (installedModel()) return;
        configuration_.installer(configuration_.assetFolder, onProgress);
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
