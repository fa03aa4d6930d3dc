#include "engine/japanese/InsertedTextCorrection.h"

#include <algorithm>
#include <vector>

#include "platform/text/UnicodeText.h"

namespace pelora {

std::optional<InsertedTextCorrection> InsertedTextCorrection::compute(std::string_view original,
                                                                      std::string_view updated) {
    if (original.empty() || updated.empty() || text::canonicallyEqual(original, updated)) return std::nullopt;
    const std::vector<std::string> from = text::graphemes(original);
    const std::vector<std::string> to = text::graphemes(updated);
    std::size_t common = 0;
    while (common < from.size() && common < to.size() && text::canonicallyEqual(from[common], to[common])) ++common;

    InsertedTextCorrection correction;
    correction.selectionLength = from.size() - common;
    for (std::size_t i = common; i < to.size(); ++i) correction.replacementSuffix += to[i];
    return correction;
}

std::size_t InsertedTextCorrection::utf16SelectionLength(std::string_view insertedText) const {
    const std::vector<std::string> characters = text::graphemes(insertedText);
    const std::size_t count = std::min(selectionLength, characters.size());
    std::size_t units = 0;
    for (std::size_t i = characters.size() - count; i < characters.size(); ++i) units += text::utf16Length(characters[i]);
    return units;
}

bool operator==(const InsertedTextCorrection& a, const InsertedTextCorrection& b) {
    return a.selectionLength == b.selectionLength && text::canonicallyEqual(a.replacementSuffix, b.replacementSuffix);
}

}  // namespace pelora
