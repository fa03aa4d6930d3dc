#pragma once

#include "engine/injection/FocusedTextContext.h"
#include "engine/japanese/CustomVocabularyEntry.h"
#include "engine/japanese/JapaneseInputOptions.h"
#include "engine/japanese/MirkContextualAutoReplacer.h"

#include <memory>
#include <optional>
#include <stop_token>
#include <string_view>
#include <vector>

namespace pelora {

// The contextual correction the controller runs after a completion, on a worker. A stop
// request ends its model and network calls early; it never fails.
class ContextualAutoReplacer {
public:
    virtual ~ContextualAutoReplacer() = default;
    virtual MirkContextualAutoReplacer::Replacement autoReplaceHighConfidence(
        std::string_view text, std::string_view rawText, const std::vector<CustomVocabularyEntry>& customVocabulary,
        const std::optional<FocusedTextContext>& focusedContext, bool enableMirkNetwork,
        const JapaneseInputOptions& options, std::stop_token stop) const = 0;

    // The engine's process-wide auto-replacer (the shared decision-service client).
    static std::shared_ptr<const ContextualAutoReplacer> engineShared();
};

}  // namespace pelora
