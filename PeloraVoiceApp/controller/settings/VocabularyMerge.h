#pragma once

#include "engine/japanese/CustomVocabularyEntry.h"

#include <vector>

namespace pelora {

// The stored vocabulary of an older document with the built-in entries merged in: a
// built-in entry whose written form the list already holds (letter case aside) gives that
// entry the aliases and context hints it lacks; any other is appended, in built-in order.
// The list grows as it goes, so a built-in entry also matches one appended before it.
std::vector<CustomVocabularyEntry> mergeBuiltInVocabulary(std::vector<CustomVocabularyEntry> stored,
                                                          const std::vector<CustomVocabularyEntry>& builtIn);

}  // namespace pelora
