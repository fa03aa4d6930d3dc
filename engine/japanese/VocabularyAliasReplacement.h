#pragma once

#include <string>
#include <string_view>

namespace pelora {

// Replaces every occurrence of a vocabulary alias in `text` by the entry's surface form
// (inserted literally), without cutting into a neighbouring word:
// - an alias made only of katakana-block characters (ァ-ヶ, ー, ・...) matches only
//   where no katakana, ー or ・ touches it on either side;
// - an alias made only of ASCII letters and digits matches case-insensitively where no
//   ASCII letter or digit touches it on either side;
// - any other alias (spaces, mixed scripts, kanji, hiragana, punctuation) matches
//   case-insensitively, and at an end that is an ASCII letter or digit no ASCII letter
//   or digit may touch it ("Swift UI" is not found inside "Swift UIKit").
// An empty alias leaves the text unchanged.
// (The reranker exposes this as JapaneseEmbeddingReranker::replaceAliasWithBoundary.)
std::string replaceAliasWithBoundary(std::string_view text, std::string_view alias, std::string_view surface);

}  // namespace pelora
