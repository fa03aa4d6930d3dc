#pragma once

#include <string_view>
#include <vector>

#include "platform/text/Regex.h"

namespace pelora::text {

// The words of `text` in order, as UTF-8 byte ranges, by ICU's word-break rules for
// `locale` (for "ja" a dictionary splits runs of kanji and kana into words). Only
// segments holding letters, digits, kana or ideographs count as words: spaces and
// punctuation between them are left out of every range.
std::vector<TextRange> wordRanges(std::string_view text, std::string_view locale);

}  // namespace pelora::text
