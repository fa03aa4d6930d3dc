#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelora {

// One recogniser model the whisper.cpp project publishes with its SHA-1 digest.
struct SpeechModelCatalogueEntry {
    std::string name;                 // "small"
    std::int64_t publishedBytes = 0;  // the size as published (rounded), for the space check and progress
    std::string sha1;                 // 40 hexadecimal digits
    std::string fileName() const { return "ggml-" + name + ".bin"; }
};

// The multilingual recogniser models the Japanese speech assets can be installed from,
// and where their files live. English-only models are not offered: they cannot
// recognise Japanese.
class SpeechModelCatalogue {
public:
    static constexpr const char* defaultModelName = "small";  // good Japanese at dictation speed on a laptop CPU
    static constexpr const char* modelNameEnvironmentVariable = "PELORAVOICE_SPEECH_MODEL_NAME";
    // The project's public model repository; files are <base><fileName>.
    static constexpr const char* publicRepositoryURL = "https://huggingface.co/ggerganov/whisper.cpp/resolve/main/";

    SpeechModelCatalogue(std::vector<SpeechModelCatalogueEntry> entries, std::string baseURL);
    static const SpeechModelCatalogue& builtIn();

    const std::vector<SpeechModelCatalogueEntry>& entries() const { return entries_; }
    const std::string& baseURL() const { return baseURL_; }
    std::string url(const SpeechModelCatalogueEntry& entry) const { return baseURL_ + entry.fileName(); }

    // The entry of that name, or nullptr.
    const SpeechModelCatalogueEntry* find(std::string_view name) const;
    // "tiny, base, small, ..."
    std::string names() const;
    // Throws speech::SpeechRecognitionError naming the valid names when `name` is not in
    // the catalogue.
    const SpeechModelCatalogueEntry& entry(std::string_view name) const;

    // The name chosen by the environment variable, else the default.
    static std::string chosenName();

private:
    std::vector<SpeechModelCatalogueEntry> entries_;
    std::string baseURL_;
};

}  // namespace pelora
