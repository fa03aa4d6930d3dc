#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "engine/injection/FocusedTextContext.h"
#include "engine/japanese/CustomVocabularyEntry.h"
#include "engine/japanese/GuardedSpanCorrector.h"
#include "engine/japanese/InsertedTextCorrection.h"
#include "engine/japanese/JapaneseInputOptions.h"
#include "engine/japanese/MirkAutoReplacementResult.h"
#include "engine/japanese/MirkSpanSuspicion.h"

namespace pelora {

class HTTPMirkDecisionProvider;

// The contextual correction stage that runs after a dictation has been inserted: decides
// which same-sounding words the speaker meant (sound-alike terms, clean-up, local
// homophone rules, the decision service, span correction, clean-up again) inside one
// time budget, and returns the corrected text with the patch for the inserted text.
// A pass runs on the calling thread, never fails, and returns within its budget plus
// the time its last remote or model call needs to stop; a stop request skips the
// remaining model and network calls but still returns what the pass has.
class MirkContextualAutoReplacer {
public:
    using Clock = std::chrono::steady_clock;
    // The monotonic clock the budget is measured with; tests pass their own.
    using Now = std::function<Clock::time_point()>;

    // An English term heard by the EG2 recogniser, with its similarity.
    struct EG2Term {
        std::string term;
        float similarity = 0;
    };

    struct Replacement {
        std::string text;
        std::vector<std::string> annotations;
        std::optional<InsertedTextCorrection> correction;  // from the inserted text to `text`
    };

    // One row of the local homophone rules: the wrong form, its replacement and the
    // words of which one must appear in the text or the focused context.
    struct LocalHomophoneRule {
        std::string wrongForm;
        std::string replacement;
        std::vector<std::string> cues;
    };

    // The process-wide instance: the shared decision-service client, the device's language model.
    static const MirkContextualAutoReplacer& shared();

    MirkContextualAutoReplacer();
    MirkContextualAutoReplacer(const HTTPMirkDecisionProvider& decisionProvider, GuardedSpanCorrector spanCorrector,
                               Now now = Clock::now);

    // The application's call, once per dictation. `rawText` takes no part in the result.
    // `options` are the user's post-processing options, which the clean-up honours.
    Replacement autoReplaceHighConfidence(std::string_view text, std::string_view rawText,
                                          const std::vector<EG2Term>& eg2Terms,
                                          const std::vector<CustomVocabularyEntry>& customVocabulary,
                                          const std::optional<FocusedTextContext>& focusedContext,
                                          bool enableMirkNetwork, const JapaneseInputOptions& options,
                                          std::stop_token stop = {}) const;

    // One pass over `text` within max(timeoutMs, 50) milliseconds.
    MirkAutoReplacementResult autoReplaceHighConfidence(std::string_view text,
                                                        const std::optional<FocusedTextContext>& context,
                                                        double minConfidence, bool allowNetworkMirk,
                                                        bool allowOnDeviceLLM, int timeoutMs,
                                                        const JapaneseInputOptions& options,
                                                        std::stop_token stop = {}) const;

    // Occurrences of the local rules' wrong forms that their guards and cues let through,
    // in table order, then in order of occurrence.
    static std::vector<MirkSpanSuspicion> detectLocalSuspiciousHomophoneSpans(
        std::string_view text, const std::optional<FocusedTextContext>& context);

    static const std::vector<LocalHomophoneRule>& localHomophoneRules();

    // The clean-up run before and after the corrections: fillers (when the user removes
    // them), stutters, and punctuation rhythm at the user's density.
    static std::string cleanUp(std::string_view text, const JapaneseInputOptions& options);

private:
    const HTTPMirkDecisionProvider* decisionProvider_;
    GuardedSpanCorrector spanCorrector_;
    Now now_;
};

}  // namespace pelora
