#include "engine/recognition/JapaneseSpeechAssets.h"

#include <cstdlib>
#include <fstream>
#include <system_error>

#include "engine/recognition/ModelManager.h"
#include "engine/recognition/PeloraVoiceError.h"

namespace pelora {

namespace fs = std::filesystem;

namespace {

constexpr const char* kManifestName = "manifest.json";

// The manifest is written whole under its final name or not at all.
void writeAtomically(const fs::path& file, const std::string& bytes) {
    const fs::path temporary = file.parent_path() / ("." + file.filename().string() + ".partial");
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
            throw std::runtime_error("cannot write " + file.string());
        }
    }
    fs::rename(temporary, file);
}

std::string placementHint(const fs::path& folder) {
    return "日本語対応の whisper.cpp 形式 (ggml) のモデルファイル (.bin) を " + folder.string() + " に置くか、環境変数 " +
           JapaneseSpeechAssets::modelEnvironmentVariable + " でそのファイルを指定してください。";
}

speech::SpeechRecognitionError installationError(const std::string& detail, const fs::path& folder) {
    return speech::SpeechRecognitionError("日本語音声認識モデルをダウンロードできませんでした (" + detail + ")。" +
                                          placementHint(folder));
}

}  // namespace

std::string JapaneseSpeechAssets::ensureJapaneseSpeechAssets(const ProgressCallback& onProgress) {
    return ensureJapaneseSpeechAssets(*sharedRecognition(), onProgress);
}

std::string JapaneseSpeechAssets::ensureJapaneseSpeechAssets(speech::SpeechRecognition& recognition,
                                                             const ProgressCallback& onProgress) {
    std::optional<std::string> locale = recognition.supportedLocale(firstLocaleIdentifier);
    if (!locale) locale = recognition.supportedLocale(secondLocaleIdentifier);
    if (!locale) throw PeloraVoiceError::invalidModelAsset(unsupportedLocaleText);

    switch (recognition.assetStatus(*locale)) {
        case speech::AssetStatus::unsupported: throw PeloraVoiceError::invalidModelAsset(unsupportedAssetsText);
        case speech::AssetStatus::supported:
        case speech::AssetStatus::downloading:
            if (onProgress) onProgress(installingProgressText);
            if (auto request = recognition.assetInstallationRequest(*locale)) request->downloadAndInstall();
            break;
        case speech::AssetStatus::installed: break;
    }
    return *locale;
}

fs::path JapaneseSpeechAssets::assetDirectory() {
    return ModelManager::applicationSupportDirectory() / "PeloraVoice2" / "speech" / "ja";
}

const std::string& JapaneseSpeechAssets::remoteManifestURL() {
    static const std::string url = [] {
        std::string base = ModelManager::remoteBaseURL();  // "<server>/models/"
        return base + "speech/ja/v1/manifest.json";
    }();
    return url;
}

void JapaneseSpeechAssets::installAssets(const fs::path& folder, const std::string& manifestURL) {
    try {
        fs::create_directories(folder);
        const ModelManager::FetchedManifest fetched = ModelManager::fetchManifest(manifestURL);
        // Refuse a bad manifest before anything is written.
        for (const ManifestFile& file : fetched.manifest.files) {
            if (!ModelManager::isSafeRelativeAssetPath(file.path, folder))
                throw PeloraVoiceError::invalidModelAsset("Unsafe manifest path: " + file.path);
        }
        for (const ManifestFile& file : fetched.manifest.files) {
            const fs::path destination = folder / file.path;
            if (ModelManager::fileMatches(destination, file.size, file.sha256)) continue;
            ModelManager::downloadVerifiedFile(ModelManager::sourceURL(file.url, manifestURL), destination, file.size,
                                               file.sha256, file.path);
        }
        // Last, so that a failed installation leaves no manifest vouching for missing files.
        writeAtomically(folder / kManifestName, fetched.bytes);
    } catch (const PeloraVoiceError& error) {
        // The model store's texts speak of EG2 models; the payload alone says what failed.
        throw installationError(error.payload(), folder);
    } catch (const std::exception& error) {  // transfer, manifest decoding and file-system errors
        throw installationError(error.what(), folder);
    }
}

std::shared_ptr<speech::SpeechRecognition> JapaneseSpeechAssets::sharedRecognition() {
    static const std::shared_ptr<speech::SpeechRecognition> recognition = [] {
        speech::SpeechAssetConfiguration configuration;
        configuration.assetFolder = assetDirectory();
        if (const char* named = std::getenv(modelEnvironmentVariable); named && *named) configuration.modelFile = named;
        configuration.installer = [](const fs::path& folder) { installAssets(folder, remoteManifestURL()); };
        return speech::makeSpeechRecognition(std::move(configuration));
    }();
    return recognition;
}

}  // namespace pelora
