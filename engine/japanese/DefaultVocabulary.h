#pragma once

#include <vector>

#include "engine/japanese/CustomVocabularyEntry.h"

namespace pelora {

// The ten built-in vocabulary entries, all enabled, in their fixed order
// (the reranker exposes them as JapaneseEmbeddingReranker::defaultVocabulary).
const std::vector<CustomVocabularyEntry>& defaultVocabulary();

}  // namespace pelora
