#include "platform/text/PunctuationCharacters.h"

#include <unicode/uchar.h>

#include "platform/text/UnicodeText.h"

namespace pelora::text {

bool isPunctuation(char32_t c) { return u_ispunct(static_cast<UChar32>(c)) != 0; }

std::string trimPunctuation(std::string_view s) {
    const std::u32string scalars = toScalars(s);
    std::size_t begin = 0;
    std::size_t end = scalars.size();
    while (begin < end && isPunctuation(scalars[begin])) ++begin;
    while (end > begin && isPunctuation(scalars[end - 1])) --end;
    if (begin == 0 && end == scalars.size()) return std::string(s);
    return fromScalars(std::u32string_view(scalars).substr(begin, end - begin));
}

}  // namespace pelora::text
