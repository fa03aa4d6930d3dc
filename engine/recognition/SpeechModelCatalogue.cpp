#include "engine/recognition/SpeechModelCatalogue.h"

#include <cstdlib>

#include "platform/speech/SpeechRecognition.h"

namespace pelora {

namespace {

constexpr std::int64_t MiB = 1024 * 1024;
constexpr std::int64_t GiB = 1024 * MiB;

}  // namespace

SpeechModelCatalogue::SpeechModelCatalogue(std::vector<SpeechModelCatalogueEntry> entries, std::string baseURL)
    : entries_(std::move(entries)), baseURL_(std::move(baseURL)) {}

const SpeechModelCatalogue& SpeechModelCatalogue::builtIn() {
    // The multilingual rows of the table in the whisper.cpp source's models/README.md.
    static const SpeechModelCatalogue catalogue(
        {
            {"tiny", 75 * MiB, "bd577a113a864445d4c299885e0cb97d4ba92b5f"},
            {"base", 142 * MiB, "465707469ff3a37a2b9b8d8f89f2f99de7299dac"},
            {"small", 466 * MiB, "55356645c2b361a969dfd0ef2c5a50d530afd8d5"},
            {"medium", 3 * GiB / 2, "fd9727b6e1217c2f614f9b698455c4ffd82463b4"},
            {"large-v1", 29 * GiB / 10, "b1caaf735c4cc1429223d5a74f0f4d0b9b59a299"},
            {"large-v2", 29 * GiB / 10, "0f4c8e34f21cf1a914c59d8b3ce882345ad349d6"},
            {"large-v2-q5_0", 11 * GiB / 10, "00e39f2196344e901b3a2bd5814807a769bd1630"},
            {"large-v3", 29 * GiB / 10, "ad82bf6a9043ceed055076d0fd39f5f186ff8062"},
            {"large-v3-q5_0", 11 * GiB / 10, "e6e2ed78495d403bef4b7cff42ef4aaadcfea8de"},
            {"large-v3-turbo", 3 * GiB / 2, "4af2b29d7ec73d781377bfd1758ca957a807e941"},
            {"large-v3-turbo-q5_0", 547 * MiB, "e050f7970618a659205450ad97eb95a18d69c9ee"},
        },
        publicRepositoryURL);
    return catalogue;
}

const SpeechModelCatalogueEntry* SpeechModelCatalogue::find(std::string_view name) const {
    for (const SpeechModelCatalogueEntry& entry : entries_) {
        if (entry.name == name) return &entry;
    }
    return nullptr;
}

std::string SpeechModelCatalogue::names() const {
    std::string out;
    for (const SpeechModelCatalogueEntry& entry : entries_) {
        if (!out.empty()) out += ", ";
        out += entry.name;
    }
    return out;
}

const SpeechModelCatalogueEntry& SpeechModelCatalogue::entry(std::string_view name) const {
    if (const SpeechModelCatalogueEntry* found = find(name)) return *found;
    const bool englishOnly = name.find(".en") != std::string_view::npos;
    throw speech::SpeechRecognitionError(
        "音声認識モデル \"" + std::string(name) + "\" (" + modelNameEnvironmentVariable + ") はありません" +
        (englishOnly ? " (英語専用モデルは日本語を認識できません)" : "") + "。使えるモデル名: " + names());
}

std::string SpeechModelCatalogue::chosenName() {
    if (const char* named = std::getenv(modelNameEnvironmentVariable); named && *named) return named;
    return defaultModelName;
}

}  // namespace pelora
