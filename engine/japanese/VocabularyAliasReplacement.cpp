#include "engine/japanese/VocabularyAliasReplacement.h"

#include <algorithm>

#include "platform/text/Regex.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

std::string replaceAliasWithBoundary(std::string_view text, std::string_view alias, std::string_view surface) {
    if (alias.empty()) return std::string(text);
    const std::u32string scalars = text::toScalars(alias);
    const std::string escaped = text::Regex::escapedPattern(alias);

    std::string pattern;
    text::RegexOptions options = text::RegexOptions::none;
    if (std::all_of(scalars.begin(), scalars.end(), text::isInKatakanaBlock)) {
        pattern = "(?<![ァ-ヶー・])" + escaped + "(?![ァ-ヶー・])";
    } else if (std::all_of(scalars.begin(), scalars.end(), text::isASCIIAlphanumeric)) {
        pattern = "(?<![A-Za-z0-9])" + escaped + "(?![A-Za-z0-9])";
        options = text::RegexOptions::caseInsensitive;
    } else {
        // Mixed aliases still must not glue onto Latin words at their Latin ends:
        // "Swift UI" inside "Swift UIKit" is another word.
        const bool latinStart = text::isASCIIAlphanumeric(scalars.front());
        const bool latinEnd = text::isASCIIAlphanumeric(scalars.back());
        pattern = (latinStart ? "(?<![A-Za-z0-9])" : "") + escaped + (latinEnd ? "(?![A-Za-z0-9])" : "");
        options = text::RegexOptions::caseInsensitive;
    }

    const text::Regex regex(std::move(pattern), options);
    if (!regex.isValid()) return text::replaceAllCaseInsensitive(text, alias, surface);
    return regex.replaceAllLiteral(text, surface);
}

}  // namespace pelora
