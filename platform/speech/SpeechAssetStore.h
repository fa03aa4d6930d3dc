#pragma once

#include <atomic>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "platform/speech/SpeechRecognition.h"

namespace pelora::speech {

// The recogniser's language assets on disk: one ggml model file in the asset folder,
// installed there by the configured installer or placed there by the user, or a file the
// user names. Safe to use from several threads; installations run one at a time.
class SpeechAssetStore {
public:
    explicit SpeechAssetStore(SpeechAssetConfiguration configuration);

    // The model file when it is present and verified: a ggml model file (the named one,
    // else the first "*.bin" of the folder by name) whose size matches the folder's
    // "manifest.json" wherever that lists it. Digests are checked by the installer when
    // a file arrives, not on every look-up.
    std::optional<std::filesystem::path> installedModel() const;

    // An installation is running in this process.
    bool isInstalling() const { return installing_.load(); }

    // Runs the installer unless the model is installed; waits for an installation that is
    // already running. Throws SpeechRecognitionError, whose message names the asset folder
    // (where a model file can also be placed by hand).
    void install();

    // Where a model file can be placed, as the error messages tell it.
    std::string placementHint() const;

    const SpeechAssetConfiguration& configuration() const { return configuration_; }

private:
    SpeechAssetConfiguration configuration_;
    std::mutex installMutex_;
    std::atomic<bool> installing_{false};
};

}  // namespace pelora::speech
