#pragma once

#include <cstddef>
#include <string_view>

#include "platform/text/Regex.h"

namespace pelora::text {

// The byte range of `text` that reaches `before` user-perceived characters back from the
// start of `range` and `after` characters on from its end, clipped to the text. A range
// end inside a character is widened to that character. Costs O(window), not O(text).
TextRange surroundingCharacters(std::string_view text, TextRange range, std::size_t before, std::size_t after);

}  // namespace pelora::text
