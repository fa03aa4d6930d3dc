#pragma once

#include <unicode/uregex.h>

#include "platform/text/Regex.h"

namespace pelora::text::internal {

// ICU's compile flags for our pattern options.
inline uint32_t regexFlags(RegexOptions options) {
    uint32_t flags = 0;
    if (hasOption(options, RegexOptions::caseInsensitive)) flags |= UREGEX_CASE_INSENSITIVE;
    if (hasOption(options, RegexOptions::anchorsMatchLines)) flags |= UREGEX_MULTILINE;
    if (hasOption(options, RegexOptions::dotMatchesLineSeparators)) flags |= UREGEX_DOTALL;
    if (hasOption(options, RegexOptions::ignoreMetacharacters)) flags |= UREGEX_LITERAL;
    if (hasOption(options, RegexOptions::useUnicodeWordBoundaries)) flags |= UREGEX_UWORD;
    return flags;
}

}  // namespace pelora::text::internal
