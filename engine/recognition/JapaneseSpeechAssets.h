#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "engine/recognition/SpeechModelCatalogue.h"
#include "engine/recognition/SpeechModelDownload.h"
#include "platform/speech/SpeechRecognition.h"

namespace pelora {

// The on-device Japanese recogniser's language assets: finding its supported Japanese
// locale and installing the assets when they are missing. The assets are one speech
// model file in <data>/PeloraVoice2/speech/ja (data = $XDG_DATA_HOME, else
// ~/.local/share): downloaded from the whisper.cpp project's public model repository
// (the catalogue model chosen by PELORAVOICE_SPEECH_MODEL_NAME, default "small"), or,
// when PELORAVOICE_MODEL_SERVER is set, from that server's manifest; placed there by
// the user; or named by the environment variable below.
class JapaneseSpeechAssets {
public:
    using ProgressCallback = std::function<void(const std::string&)>;

    static constexpr const char* firstLocaleIdentifier = "ja_JP";
    static constexpr const char* secondLocaleIdentifier = "ja-JP";
    static constexpr const char* unsupportedLocaleText =
        "このMacではオンデバイス日本語音声認識 (SpeechTranscriber ja_JP) がサポートされていません。";
    static constexpr const char* unsupportedAssetsText =
        "日本語オンデバイス音声認識アセットがこの環境で利用できません (status: unsupported)。";
    static constexpr const char* installingProgressText = "日本語オンデバイス音声認識アセットをインストール中...";

    // A model file to use instead of the asset folder's.
    static constexpr const char* modelEnvironmentVariable = "PELORAVOICE_SPEECH_MODEL";

    // Finds the supported Japanese locale ("ja_JP", then "ja-JP") and installs its assets
    // unless they are installed, sending `onProgress` (may be empty; called on this thread)
    // one line before installing. Returns the locale. Blocks for the whole download: call
    // it off the user-interface thread. Throws PeloraVoiceError invalidModelAsset with the
    // texts above, or the recogniser's own error when installing fails.
    // `onDownloadProgress` (may be empty) follows the download as it goes.
    static std::string ensureJapaneseSpeechAssets(const ProgressCallback& onProgress = {},
                                                  const speech::AssetProgressCallback& onDownloadProgress = {});
    static std::string ensureJapaneseSpeechAssets(speech::SpeechRecognition& recognition,
                                                  const ProgressCallback& onProgress,
                                                  const speech::AssetProgressCallback& onDownloadProgress = {});

    // <data>/PeloraVoice2/speech/ja
    static std::filesystem::path assetDirectory();
    // <model server>/models/speech/ja/v1/manifest.json; relative file URLs resolve against it.
    static const std::string& remoteManifestURL();

    // Downloads the files the manifest lists into `folder`, each verified by size and
    // SHA-256 in a temporary file, and moves them to their names only when all of them
    // arrived, then stores the manifest: a failure on a later file leaves no earlier file
    // counted as installed (verified files wait in "<folder>/.incoming" for the next
    // attempt). Files already in place with their size and digest are kept. Throws
    // speech::SpeechRecognitionError whose message names `folder`.
    static void installAssets(const std::filesystem::path& folder, const std::string& manifestURL);

    // Downloads the catalogue model `name` into `folder` (SpeechModelDownload). Throws
    // speech::SpeechRecognitionError for a name the catalogue lacks, listing the valid ones.
    static void installCatalogueModel(const std::filesystem::path& folder, const SpeechModelCatalogue& catalogue,
                                      const std::string& name, const SpeechModelDownload::Options& options);

    // The system's recogniser over the asset folder (or the named model file), installing
    // from the model server when one is configured, else from the public repository.
    // Built once.
    static std::shared_ptr<speech::SpeechRecognition> sharedRecognition();

    JapaneseSpeechAssets() = delete;
};

}  // namespace pelora
