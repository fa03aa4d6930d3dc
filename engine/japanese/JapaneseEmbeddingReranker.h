#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/injection/FocusedTextContext.h"
#include "engine/japanese/CustomVocabularyEntry.h"
#include "engine/recognition/TranscribedWord.h"
#include "engine/recognition/TranscriptionStages.h"

namespace pelora {

// Fixes words that recognition wrote with the right sound and the wrong characters, in
// seven deterministic stages: vocabulary aliases, sound-alike terms, contextual homophone
// rules, 開業 read as 改行, deterministic cohorts, stutter repair and EG2 term fusion.
// Holds no state; the tables are built once per process. Safe on any thread.
class JapaneseEmbeddingReranker : public HomophoneReranking {
public:
    struct ContextualHomophoneRule {
        std::string wrongPattern;
        std::string replacement;
        std::vector<std::string> requiredContextAny;  // empty: no condition
        std::string note;                             // empty: no annotation
    };
    struct EnglishTerm {
        std::vector<std::string> aliases;
        std::string canonical;
    };

    JapaneseEmbeddingReranker() = default;

    // (corrected text, annotations). Never fails.
    CorrectedText rerank(std::string_view text, const std::vector<TranscribedWord>& eg2HighConfidenceTerms,
                         const std::vector<CustomVocabularyEntry>& customVocabulary,
                         const std::optional<FocusedTextContext>& focusedContext) const override;

    static const std::vector<CustomVocabularyEntry>& defaultVocabulary();
    static std::string replaceAliasWithBoundary(std::string_view text, std::string_view alias, std::string_view surface);
    static std::string hiraganaReading(std::string_view text);
    // Katakana becomes hiragana; everything else is kept.
    static std::string toHiragana(std::string_view text);

    static const std::vector<ContextualHomophoneRule>& contextualHomophoneRules();
    // Lower-case English key → katakana aliases and canonical form, in table order.
    static const std::vector<std::pair<std::string, EnglishTerm>>& englishTermTable();
    static const std::vector<std::string>& kaigyouContextWords();
};

}  // namespace pelora
