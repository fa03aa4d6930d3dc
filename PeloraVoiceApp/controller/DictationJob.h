#pragma once

#include "engine/injection/ActiveApplicationSnapshot.h"
#include "engine/injection/FocusedTextContext.h"
#include "engine/japanese/CustomVocabularyEntry.h"
#include "engine/japanese/JapaneseInputOptions.h"
#include "engine/recognition/EngineMode.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pelora {

// Everything a transcription needs, taken when the recording stops, so later changes of the
// settings or the focus do not reach a dictation already under way.
struct DictationJob {
    std::shared_ptr<const std::vector<float>> samples;
    EngineMode engineMode = EngineMode::hybridJaEn;
    JapaneseInputOptions inputOptions;  // its reranking field is the reranking setting
    bool enableHomophoneReranking = true;
    std::vector<CustomVocabularyEntry> customVocabulary;
    std::string sourceName;
    std::optional<ActiveApplicationSnapshot> targetApp;
    std::optional<FocusedTextContext> focusedContext;
    bool triggerAutoPaste = false;
};

}  // namespace pelora
