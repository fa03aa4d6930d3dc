// The vocabulary editor's actions and the decision service's API key.
#include "PeloraVoiceApp/controller/AppViewModel.h"

#include "platform/text/UnicodeText.h"

#include <algorithm>

namespace pelora {

using P = AppViewModelProperty;

namespace {

// The pieces between ASCII commas, trimmed, without the empty ones.
std::vector<std::string> contextHintsFrom(std::string_view keywords) {
    std::vector<std::string> hints;
    std::size_t start = 0;
    while (start <= keywords.size()) {
        const std::size_t comma = std::min(keywords.find(',', start), keywords.size());
        std::string piece = text::trimWhitespaceAndNewlines(keywords.substr(start, comma - start));
        if (!piece.empty()) hints.push_back(std::move(piece));
        start = comma + 1;
    }
    return hints;
}

// The characters the engine will not put into a request header.
bool holdsControlCharacter(std::string_view key) {
    return std::any_of(key.begin(), key.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

}  // namespace

void AppViewModel::addVocabularyEntry(const std::string& reading, const std::string& surface,
                                      const std::string& contextKeywords) {
    const std::string writtenForm = text::trimWhitespaceAndNewlines(surface);
    if (writtenForm.empty()) return;
    std::string spoken = text::trimWhitespaceAndNewlines(reading);
    if (spoken.empty()) spoken = writtenForm;

    CustomVocabularyEntry entry;
    entry.id = CustomVocabularyEntry::newID();
    entry.reading = spoken;
    entry.surface = writtenForm;
    entry.aliases = {spoken};
    entry.contextHints = contextHintsFrom(contextKeywords);
    entry.enabled = true;

    std::vector<CustomVocabularyEntry> vocabulary;
    vocabulary.reserve(customVocabulary_.size() + 1);
    vocabulary.push_back(std::move(entry));
    vocabulary.insert(vocabulary.end(), customVocabulary_.begin(), customVocabulary_.end());
    setCustomVocabulary(std::move(vocabulary));
    refreshPlaygroundPreview();
}

void AppViewModel::removeVocabularyEntry(const std::string& id) {
    std::vector<CustomVocabularyEntry> vocabulary = customVocabulary_;
    const std::string wanted = text::toUpper(id);
    std::erase_if(vocabulary, [&](const CustomVocabularyEntry& entry) { return text::toUpper(entry.id) == wanted; });
    // Assigned even when nothing matched: the document is written and the preview recomputed.
    setCustomVocabulary(std::move(vocabulary));
    refreshPlaygroundPreview();
}

void AppViewModel::resetVocabularyToDefaults() {
    setCustomVocabulary(JapaneseEmbeddingReranker::defaultVocabulary());
    refreshPlaygroundPreview();
}

bool AppViewModel::saveMirkAPIKey(const std::string& key) {
    const std::string trimmed = text::trimWhitespaceAndNewlines(key);
    // A key with a tab or line break inside could never be sent in a request header.
    if (trimmed.empty() || holdsControlCharacter(trimmed)) return false;
    const bool stored = c_.keyStore.saveAPIKey(trimmed);
    const auto now = c_.keyStore.loadAPIKey();
    assign(isMirkAPIKeyConfigured_, now.has_value() && !now->empty(), P::isMirkAPIKeyConfigured);
    return stored;
}

void AppViewModel::clearMirkAPIKey() {
    c_.keyStore.deleteAPIKey();
    const auto now = c_.keyStore.loadAPIKey();
    assign(isMirkAPIKeyConfigured_, now.has_value() && !now->empty(), P::isMirkAPIKeyConfigured);
}

}  // namespace pelora
