#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace pelora {

// How to turn text already inserted into another application into the corrected text:
// replace its last `selectionLength` characters by `replacementSuffix`.
struct InsertedTextCorrection {
    std::size_t selectionLength = 0;  // user-perceived characters (grapheme clusters)
    std::string replacementSuffix;

    // The patch from `original` to `updated` after their common leading characters; none
    // when the texts are equal or either is empty.
    static std::optional<InsertedTextCorrection> compute(std::string_view original, std::string_view updated);

    // The selection in UTF-16 code units, as the accessibility interface counts it, for
    // this patch applied to `insertedText` (the original of compute). Characters made of
    // several units (emoji, surrogate pairs, combining marks) are counted whole.
    std::size_t utf16SelectionLength(std::string_view insertedText) const;

    friend bool operator==(const InsertedTextCorrection& a, const InsertedTextCorrection& b);
};

}  // namespace pelora
