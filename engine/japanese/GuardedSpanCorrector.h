#pragma once

#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/injection/FocusedTextContext.h"
#include "engine/japanese/JapaneseGroundedCandidate.h"
#include "engine/japanese/MirkSpanSuspicion.h"
#include "engine/japanese/OnDeviceLanguageModel.h"
#include "engine/japanese/SpanCorrectionOutcome.h"
#include "platform/text/Regex.h"

namespace pelora {

// The deterministic side of homophone correction: tables of same-sounding forms, the
// tests that decide whether one occurrence of a form may be replaced, and the outright
// replacement of well-evidenced homophones. Ranges are UTF-8 byte ranges of the text;
// windows and lengths count user-perceived characters.
class GuardedSpanCorrector {
public:
    // An instance only carries the on-device language model that span correction may
    // consult: the device's own unless another is given.
    GuardedSpanCorrector();
    explicit GuardedSpanCorrector(std::shared_ptr<const OnDeviceLanguageModel> languageModel);

    // Corrects one suspicious span: its own suggestion, then the replacement table, then
    // (when allowed, with at least 60 ms left) the language model raced against
    // `timeoutMs`. Every replacement passes the same guards. Never fails.
    SpanCorrectionOutcome correctSpan(std::string_view text, const MirkSpanSuspicion& suspicion,
                                      const std::optional<FocusedTextContext>& context, bool allowOnDeviceLLM,
                                      int timeoutMs, std::stop_token stop = {}) const;
    // Whether the device's own language model can be asked.
    static bool isOnDeviceFoundationModelAvailable();

    // A form that may replace a key of the replacement table, with the words whose
    // presence in the context supports it (never empty).
    struct HomophoneCandidate {
        std::string form;
        std::vector<std::string> contextKeywords;
    };
    // One row of the constant replacement list: a key, one of its candidates and that
    // candidate's keywords. A key with several candidates has several rows, in order.
    struct ReplacementRow {
        std::string key;
        std::string candidate;
        std::vector<std::string> contextKeywords;
    };
    struct HomophoneReplacementTable {
        // Keys in table order, each with its candidates in order.
        std::vector<std::pair<std::string, std::vector<HomophoneCandidate>>> entries;
        // Null when the form is no key.
        const std::vector<HomophoneCandidate>* find(std::string_view key) const;
        // Throws std::logic_error for a row without keywords.
        static HomophoneReplacementTable build(const std::vector<ReplacementRow>& rows);

        std::unordered_map<std::string, std::size_t> index;
    };
    using PhraseTable = std::unordered_map<std::string, std::vector<std::string>>;

    static const std::vector<std::vector<std::string>>& homophoneCohorts();
    static const HomophoneReplacementTable& homophoneReplacementTable();
    // Form → phrases that show the form is right where one of them is near it.
    static const PhraseTable& protectedPhrases();
    // "wrong->candidate" → phrases of which one must be near the occurrence.
    static const PhraseTable& requiredPhrases();
    static bool isBrandVariant(std::string_view form);

    static std::vector<std::string> cohortAlternatives(std::string_view word);
    static std::vector<JapaneseGroundedCandidate> generateCohortCandidates(std::string_view text,
                                                                           const std::optional<FocusedTextContext>& context,
                                                                           const std::set<std::string>& excludingSpans,
                                                                           int maxCandidates);
    // The text from 8 characters before the occurrence to 8 characters after it.
    static std::string occurrenceWindow(std::string_view text, text::TextRange matchRange);
    static bool isProtectedOccurrence(std::string_view text, text::TextRange matchRange, std::string_view span);
    static bool shouldReplaceOccurrence(std::string_view text, text::TextRange matchRange, std::string_view wrong,
                                        std::string_view candidate, const std::vector<std::string>& contextKeywords,
                                        std::string_view fullContext);

    struct Solution {
        std::string text;
        std::vector<std::string> annotations;
    };
    static Solution solveDeterministicHomophones(std::string_view text, std::string_view fullContext);

    // Whether `context` holds a word of `words` as evidence for rewriting `wrongForm`.
    // The wrong form's own occurrences prove nothing: a word found only inside them (認識
    // inside ご認識) does not count, nor does the form with a kana ending (開業した for 開業).
    // A word that adds a telling word to the form (開業コード) counts where it occurs whole.
    static bool hasContextEvidence(std::string_view context, std::string_view wrongForm,
                                   const std::vector<std::string>& words);
    static std::size_t contextEvidenceCount(std::string_view context, std::string_view wrongForm,
                                            const std::vector<std::string>& words);

private:
    std::shared_ptr<const OnDeviceLanguageModel> languageModel_;
};

}  // namespace pelora
