#include "engine/recognition/JapaneseSpeechAssets.h"

#include <cstdlib>
#include <fstream>
#include <system_error>
#include <vector>

#include "engine/recognition/ModelManager.h"
#include "engine/recognition/PeloraVoiceError.h"

namespace pelora {

namespace fs = std::filesystem;

namespace {

constexpr const char* kManifestName = "manifest.json";
constexpr const char* kIncomingName = ".incoming";

void removeIfEmpty(const fs::path& folder) {
    std::error_code ignored;  // still holds verified files for the next attempt, or never made
    fs::remove(folder, ignored);
}

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

std::string JapaneseSpeechAssets::ensureJapaneseSpeechAssets(const ProgressCallback& onProgress,
                                                             const speech::AssetProgressCallback& onDownloadProgress) {
    return ensureJapaneseSpeechAssets(*sharedRecognition(), onProgress, onDownloadProgress);
}

std::string JapaneseSpeechAssets::ensureJapaneseSpeechAssets(speech::SpeechRecognition& recognition,
                                                             const ProgressCallback& onProgress,
                                                             const speech::AssetProgressCallback& onDownloadProgress) {
    std::optional<std::string> locale = recognition.supportedLocale(firstLocaleIdentifier);
    if (!locale) locale = recognition.supportedLocale(secondLocaleIdentifier);
    if (!locale) throw PeloraVoiceError::invalidModelAsset(unsupportedLocaleText);

    switch (recognition.assetStatus(*locale)) {
        case speech::AssetStatus::unsupported: throw PeloraVoiceError::invalidModelAsset(unsupportedAssetsText);
        case speech::AssetStatus::supported:
        case speech::AssetStatus::downloading:
            if (onProgress) onProgress(installingProgressText);
            if (auto request = recognition.assetInstallationRequest(*locale)) request->downloadAndInstall(onDownloadProgress);
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
    const fs::path incoming = folder / kIncomingName;
    try {
        fs::create_directories(folder);
        const ModelManager::FetchedManifest fetched = ModelManager::fetchManifest(manifestURL);
        // Refuse a bad manifest before anything is written.
        for (const ManifestFile& file : fetched.manifest.files) {
            if (!ModelManager::isSafeRelativeAssetPath(file.path, folder))
                throw PeloraVoiceError::invalidModelAsset("Unsafe manifest path: " + file.path);
        }
        // Every file verified beside the folder's own first, so that the folder never
        // holds some new files without the rest.
        std::vector<const ManifestFile*> staged;
        for (const ManifestFile& file : fetched.manifest.files) {
            if (ModelManager::fileMatches(folder / file.path, file.size, file.sha256)) continue;
            const fs::path waiting = incoming / file.path;
            if (!ModelManager::fileMatches(waiting, file.size, file.sha256)) {
                ModelManager::downloadVerifiedFile(ModelManager::sourceURL(file.url, manifestURL), waiting, file.size,
                                                   file.sha256, file.path);
            }
            staged.push_back(&file);
        }
        for (const ManifestFile* file : staged) {
            const fs::path destination = folder / file->path;
            fs::create_directories(destination.parent_path());
            fs::rename(incoming / file->path, destination);
        }
        fs::remove_all(incoming);
        // Last, so that a failed installation leaves no manifest vouching for missing files.
        writeAtomically(folder / kManifestName, fetched.bytes);
    } catch (const PeloraVoiceError& error) {
        removeIfEmpty(incoming);
        // The model store's texts speak of EG2 models; the payload alone says what failed.
        throw installationError(error.payload(), folder);
    } catch (const std::exception& error) {  // transfer, manifest decoding and file-system errors
        removeIfEmpty(incoming);
        throw installationError(error.what(), folder);
    }
}

void JapaneseSpeechAssets::installCatalogueModel(const fs::path& folder, const SpeechModelCatalogue& catalogue,
                                                 const std::string& name, const SpeechModelDownload::Options& options) {
    const SpeechModelCatalogueEntry& entry = catalogue.entry(name);
    SpeechModelDownload::install(folder, entry, catalogue.url(entry), options);
}

std::shared_ptr<speech::SpeechRecognition> JapaneseSpeechAssets::sharedRecognition() {
    static const std::shared_ptr<speech::SpeechRecognition> recognition = [] {
        speech::SpeechAssetConfiguration configuration;
        configuration.assetFolder = assetDirectory();
        if (const char* named = std::getenv(modelEnvironmentVariable); named && *named) configuration.modelFile = named;
        if (const char* server = std::getenv(ModelManager::serverEnvironmentVariable); server && *server) {
            // An organisation's own model server, as before.
            configuration.installer = [](const fs::path& folder, const speech::AssetProgressCallback&) {
                installAssets(folder, remoteManifestURL());
            };
        } else {
            const std::string name = SpeechModelCatalogue::chosenName();
            configuration.modelFileName = "ggml-" + name + ".bin";
            // Without an explicit choice, a model file the user placed under another name serves too.
            const char* chosen = std::getenv(SpeechModelCatalogue::modelNameEnvironmentVariable);
            configuration.otherModelFilesServe = !(chosen && *chosen);
            configuration.installer = [name](const fs::path& folder, const speech::AssetProgressCallback& onProgress) {
                SpeechModelDownload::Options options;
                options.onProgress = onProgress;
                installCatalogueModel(folder, SpeechModelCatalogue::builtIn(), name, options);
            };
        }
        return speech::makeSpeechRecognition(std::move(configuration));
    }();
    return recognition;
}

}  // namespace pelora
