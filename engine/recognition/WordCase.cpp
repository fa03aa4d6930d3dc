#include "engine/recognition/WordCase.h"

#include "platform/text/UnicodeText.h"

namespace pelora::word_case {

std::string apply(WordCase wordCase, std::string_view text) {
    switch (wordCase) {
        case WordCase::lower: return std::string(text);
        case WordCase::cap: {
            if (text.empty()) return {};
            std::size_t firstLength = text::firstGraphemeLength(text);
            return text::toUpper(text.substr(0, firstLength)) + std::string(text.substr(firstLength));
        }
        case WordCase::upper: return text::toUpper(text);
    }
    return std::string(text);
}

}  // namespace pelora::word_case
