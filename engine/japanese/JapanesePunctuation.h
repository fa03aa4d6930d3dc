#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/japanese/JapaneseInputOptions.h"

// The steps behind the punctuation operations of JapaneseInputProcessor, one line or one
// sentence at a time. Lengths count user-perceived characters.
namespace pelora::japanese_punctuation {

// Commas after long connective clauses, then the sentence end of one line.
std::string autoPunctuateLine(std::string_view line, std::size_t index, std::size_t lineCount,
                              JapanesePunctuationDensity density);
// Full stops that split a phrase in the middle are removed or become commas.
std::string repairSentenceBreaks(std::string_view line);
// Commas thinned to a readable rhythm (light and balanced only).
std::string thinCommas(std::string_view line, JapanesePunctuationDensity density);
// Commas of one sentence body kept or dropped by `shouldKeepComma`; never adds one.
std::string rebalanceSentenceCommas(std::string_view body, JapanesePunctuationDensity density);
bool shouldKeepComma(std::string_view before, std::string_view piece, std::string_view after,
                     JapanesePunctuationDensity density, bool first);

}  // namespace pelora::japanese_punctuation
