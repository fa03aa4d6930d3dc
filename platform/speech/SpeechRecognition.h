#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

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
};

// Installs the language assets of a locale.
class AssetInstallationRequest {
public:
    virtual ~AssetInstallationRequest() = default;
    // Blocks until the assets are installed; throws SpeechRecognitionError otherwise.
    virtual void downloadAndInstall() = 0;
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
    // Holds the model file ("*.bin") of the installed assets.
    std::filesystem::path assetFolder;
    // A model file named by the user; when set it stands for the assets and nothing is installed.
    std::optional<std::filesystem::path> modelFile;
    // Fetches the assets into the asset folder, each file verified before it takes its
    // final name; throws on failure. Called one installation at a time.
    std::function<void(const std::filesystem::path& assetFolder)> installer;
};

// The recogniser of this system (whisper.cpp over a ggml model file), Japanese only.
std::shared_ptr<SpeechRecognition> makeSpeechRecognition(SpeechAssetConfiguration configuration);

}  // namespace pelora::speech
