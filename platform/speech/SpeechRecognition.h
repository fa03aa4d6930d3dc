#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "platform/speech/ResultSequence.h"
#include "platform/speech/SpeechTranscriptionResult.h"

// The on-device speech recogniser as the engine sees it: which locales it serves, the
// state and installation of its language assets, and an analyser that turns an audio
// file into a sequence of results. The recogniser library stays behind this header.
namespace pelora::speech {

// Where the language assets of a locale stand.
enum class AssetStatus { unsupported, supported, downloading, installed };

// A failure of the recogniser or of its asset installation; what() is the message
// shown to the user.
class SpeechRecognitionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An audio file opened for analysis.
class AudioInputFile {
public:
    virtual ~AudioInputFile() = default;
};

// An analyser over one fresh transcriber for one locale.
class SpeechAnalyzer {
public:
    virtual ~SpeechAnalyzer() = default;
    // The transcriber's results; valid for the analyser's lifetime.
    virtual ResultSequence& results() = 0;
    // Analyses `file` to its end on the calling thread, handing results to results() as
    // they are ready; with `finishAfterFile` the sequence then finishes. Throws
    // SpeechRecognitionError when the analysis cannot run.
    virtual void start(AudioInputFile& file, bool finishAfterFile) = 0;

    // How far start() has come through its input: a fraction from 0 to 1 that never goes
    // back, called on the analysing thread. Set before start(); an analyser that cannot
    // tell never calls it.
    using ProgressHandler = std::function<void(double fraction)>;
    virtual void setProgressHandler(ProgressHandler handler) { (void)handler; }
};

// How far a download of language assets has come.
struct AssetDownloadProgress {
    std::string fileName;
    std::int64_t receivedBytes = 0;
    std::int64_t totalBytes = -1;  // -1 while unknown
    double bytesPerSecond = 0;     // recent rate; 0 while unknown
    double secondsLeft = -1;       // -1 while unknown
};
using AssetProgressCallback = std::function<void(const AssetDownloadProgress&)>;

// Installs the language assets of a locale.
class AssetInstallationRequest {
public:
    virtual ~AssetInstallationRequest() = default;
    // Blocks until the assets are installed; throws SpeechRecognitionError otherwise.
    // `onProgress` (may be empty) is called on this thread while files download.
    virtual void downloadAndInstall(const AssetProgressCallback& onProgress) = 0;
};

class SpeechRecognition {
public:
    virtual ~SpeechRecognition() = default;

    // The supported locale equivalent to `identifier` ("ja_JP", "ja-JP", ...), or none.
    virtual std::optional<std::string> supportedLocale(std::string_view identifier) = 0;
    virtual AssetStatus assetStatus(const std::string& locale) = 0;
    // None when there is nothing to install.
    virtual std::unique_ptr<AssetInstallationRequest> assetInstallationRequest(const std::string& locale) = 0;
    // Opens an audio file for analysis; throws SpeechRecognitionError when it cannot be read.
    virtual std::unique_ptr<AudioInputFile> openAudioFile(const std::filesystem::path& file) = 0;
    // 16 kHz mono samples as analysis input, read in place: they must outlive the input.
    // Nothing is written to disk.
    virtual std::unique_ptr<AudioInputFile> openSamples(std::span<const float> samples) = 0;
    virtual std::unique_ptr<SpeechAnalyzer> makeAnalyzer(const std::string& locale) = 0;
};

// Where the language assets live and how they get there.
struct SpeechAssetConfiguration {
    using Installer =
        std::function<void(const std::filesystem::path& assetFolder, const AssetProgressCallback& onProgress)>;

    SpeechAssetConfiguration() = default;
    SpeechAssetConfiguration(std::filesystem::path assetFolder, std::optional<std::filesystem::path> modelFile,
                             Installer installer, std::string modelFileName = {}, bool otherModelFilesServe = true)
        : assetFolder(std::move(assetFolder)),
          modelFile(std::move(modelFile)),
          installer(std::move(installer)),
          modelFileName(std::move(modelFileName)),
          otherModelFilesServe(otherModelFilesServe) {}

    // Holds the model file ("*.bin") of the installed assets.
    std::filesystem::path assetFolder;
    // A model file named by the user; when set it stands for the assets and nothing is installed.
    std::optional<std::filesystem::path> modelFile;
    // Fetches the assets into the asset folder, each file verified before it takes its
    // final name, reporting progress; throws on failure. Called one installation at a
    // time, across processes too (a lock file in the asset folder).
    Installer installer;
    // The model file of the folder to use ("ggml-small.bin"); empty: the first model
    // file of the folder by name.
    std::string modelFileName;
    // When the named model file is missing, another model file of the folder stands in.
    bool otherModelFilesServe = true;
};

// The recogniser of this system (whisper.cpp over a ggml model file), Japanese only.
std::shared_ptr<SpeechRecognition> makeSpeechRecognition(SpeechAssetConfiguration configuration);

}  // namespace pelora::speech
