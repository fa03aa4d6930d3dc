#pragma once

#include <atomic>
#include <filesystem>
#include <mutex>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/speech/SpeechModelCheck.h"
#include "platform/speech/SpeechRecognition.h"

namespace pelora::speech {

// The recogniser's language assets on disk: one ggml model file in the asset folder,
// installed there by the configured installer or placed there by the user, or a file the
// user names. Safe to use from several threads; installations run one at a time.
class SpeechAssetStore {
public:
    explicit SpeechAssetStore(SpeechAssetConfiguration configuration);

    // The model file when it is present and verified: a sound ggml model file (the named
    // one, else the first "*.bin" of the folder by name) whose size matches the folder's
    // "manifest.json" wherever that lists it. Digests are checked by the installer when
    // a file arrives, not on every look-up; the whole header and tensor table are checked
    // against the file's size (once per file version).
    std::optional<std::filesystem::path> installedModel() const;

    // The first model file where the assets belong that is there but failed the check,
    // and what is wrong with it.
    std::optional<std::pair<std::filesystem::path, std::string>> damagedModel() const;

    // The check of one file, remembered while the file's size and time stay the same.
    SpeechModelCheck::Result check(const std::filesystem::path& file) const;

    // An installation is running in this process.
    bool isInstalling() const { return installing_.load(); }

    // Runs the installer unless the model is installed; waits for an installation that is
    // already running, in this process or another (a lock file in the asset folder), and
    // installs nothing when that one installed the model. Throws SpeechRecognitionError,
    // whose message names the asset folder (where a model file can also be placed by hand).
    void install(const AssetProgressCallback& onProgress = {});

    // Where a model file can be placed, as the error messages tell it.
    std::string placementHint() const;

    const SpeechAssetConfiguration& configuration() const { return configuration_; }

private:
    struct CheckedFile {
        std::uintmax_t size = 0;
        std::filesystem::file_time_type modified{};
        SpeechModelCheck::Result result;
    };
    std::vector<std::filesystem::path> candidates() const;

    SpeechAssetConfiguration configuration_;
    mutable std::mutex checksMutex_;
    mutable std::map<std::filesystem::path, CheckedFile> checks_;
    std::mutex installMutex_;
    std::atomic<bool> installing_{false};
};

}  // namespace pelora::speech
