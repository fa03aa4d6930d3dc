#include "PeloraVoiceApp/controller/settings/VocabularyMerge.h"

#include "platform/text/UnicodeText.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace pelora {

namespace {

// Case-insensitive as the text layer folds case (ß matches SS), canonical forms alike.
std::string comparableSurface(std::string_view surface) { return text::toNFC(text::foldCase(surface)); }

void appendMissing(std::vector<std::string>& list, const std::vector<std::string>& additions) {
    for (const std::string& item : additions) {
        const bool known = std::any_of(list.begin(), list.end(),
                                       [&](const std::string& have) { return text::canonicallyEqual(have, item); });
        if (!known) list.push_back(item);
    }
}

}  // namespace

std::vector<CustomVocabularyEntry> mergeBuiltInVocabulary(std::vector<CustomVocabularyEntry> merged,
                                                          const std::vector<CustomVocabularyEntry>& builtIn) {
    std::vector<std::string> surfaces;
    surfaces.reserve(merged.size() + builtIn.size());
    for (const CustomVocabularyEntry& entry : merged) surfaces.push_back(comparableSurface(entry.surface));

    for (const CustomVocabularyEntry& addition : builtIn) {
        const std::string surface = comparableSurface(addition.surface);
        const auto match = std::find(surfaces.begin(), surfaces.end(), surface);
        if (match == surfaces.end()) {
            merged.push_back(addition);
            surfaces.push_back(surface);
            continue;
        }
        CustomVocabularyEntry& entry = merged[static_cast<std::size_t>(match - surfaces.begin())];
        appendMissing(entry.aliases, addition.aliases);
        appendMissing(entry.contextHints, addition.contextHints);
    }
    return merged;
}

}  // namespace pelora
