#include "PeloraVoiceApp/controller/ContextualAutoReplacer.h"

namespace pelora {

namespace {

class EngineAutoReplacer final : public ContextualAutoReplacer {
public:
    MirkContextualAutoReplacer::Replacement autoReplaceHighConfidence(
        std::string_view text, std::string_view rawText, const std::vector<CustomVocabularyEntry>& customVocabulary,
        const std::optional<FocusedTextContext>& focusedContext, bool enableMirkNetwork,
        const JapaneseInputOptions& options, std::stop_token stop) const override {
        // The dictation's English terms take no part here: the pass works on the final text.
        return MirkContextualAutoReplacer::shared().autoReplaceHighConfidence(
            text, rawText, {}, customVocabulary, focusedContext, enableMirkNetwork, options, std::move(stop));
    }
};

}  // namespace

std::shared_ptr<const ContextualAutoReplacer> ContextualAutoReplacer::engineShared() {
    static const auto instance = std::make_shared<const EngineAutoReplacer>();
    return instance;
}

}  // namespace pelora
