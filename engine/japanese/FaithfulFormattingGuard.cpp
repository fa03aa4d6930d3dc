#include "engine/japanese/FaithfulFormattingGuard.h"

#include <algorithm>

#include "engine/japanese/DefaultVocabulary.h"
#include "engine/japanese/SoundAlikeReading.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

bool FaithfulFormattingGuard::isSafeReplacement(std::string_view original, std::string_view candidate) {
    const std::string from = text::trimWhitespaceAndNewlines(original);
    const std::string to = text::trimWhitespaceAndNewlines(candidate);
    if (from.empty() || to.empty() || from == to) return false;

    const std::string fromLower = text::toLower(from);
    const std::string toLower = text::toLower(to);
    for (const CustomVocabularyEntry& entry : defaultVocabulary()) {
        if (text::toLower(entry.surface) != toLower) continue;
        const bool isAlias = std::any_of(entry.aliases.begin(), entry.aliases.end(),
                                         [&](const std::string& alias) { return text::toLower(alias) == fromLower; });
        if (isAlias) return true;
    }

    const std::string fromHiragana = SoundAlikeReading::hiragana(from);
    if (!fromHiragana.empty() && fromHiragana == SoundAlikeReading::hiragana(to)) return true;

    const std::string fromReading = SoundAlikeReading::reading(from);
    const std::string toReading = SoundAlikeReading::reading(to);
    if (fromReading.empty() || toReading.empty()) return false;
    if (fromReading == toReading) return true;
    if (SoundAlikeReading::weightedDistance(fromReading, toReading) > 0.65) return false;
    // Readings are ASCII, so bytes are characters.
    const std::size_t shorter = std::min(fromReading.size(), toReading.size());
    const std::size_t longer = std::max(fromReading.size(), toReading.size());
    return longer - shorter <= 1 && longer >= 3;
}

std::size_t FaithfulFormattingGuard::kanjiCount(std::string_view text) {
    const std::u32string scalars = text::toScalars(text);
    return static_cast<std::size_t>(std::count_if(scalars.begin(), scalars.end(), [](char32_t c) {
        return (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF);
    }));
}

}  // namespace pelora
