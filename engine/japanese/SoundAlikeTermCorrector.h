#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/japanese/CustomVocabularyEntry.h"
#include "engine/japanese/SoundAlikeReplacementAnnotation.h"
#include "engine/recognition/TranscribedWord.h"

namespace pelora {

// Finds katakana and Latin spans that sound like (or are spelled like) a known term and
// writes the term in their place. Known terms come from the enabled vocabulary entries,
// the EG2 recogniser's confident brand words and terms of the focused text field.
class SoundAlikeTermCorrector {
public:
    SoundAlikeTermCorrector() = delete;

    struct CandidateTerm {
        std::string canonicalSurface;
        std::vector<std::string> exactAliasesLower;  // a set: no duplicates
        std::vector<std::string> matchReadings;      // a set of reading() outputs
        std::vector<std::string> matchHiragana;      // a set of hiragana() outputs
        std::string sourceLabel;
        double maxWeightedDistance = 0;

        friend bool operator==(const CandidateTerm&, const CandidateTerm&) = default;
    };

    struct Correction {
        std::string text;
        std::vector<SoundAlikeReplacementAnnotation> replacements;  // in text order
    };

    // The core operation: EG2 terms and context terms as plain strings.
    static Correction correct(std::string_view text, const std::vector<CustomVocabularyEntry>& customVocabulary,
                              const std::vector<std::string>& eg2HighConfidenceTerms,
                              const std::vector<std::string>& focusedContextTerms);
    // The reranker's form: EG2 words by their raw text, replacements as annotation labels.
    static std::pair<std::string, std::vector<std::string>> correct(
        std::string_view text, const std::vector<CustomVocabularyEntry>& customVocabulary,
        const std::vector<TranscribedWord>& eg2HighConfidenceTerms, const std::vector<std::string>& focusedContextTerms);

    // Vocabulary candidates in entry order, then EG2 candidates, then context candidates.
    static std::vector<CandidateTerm> buildCandidates(const std::vector<CustomVocabularyEntry>& customVocabulary,
                                                      const std::vector<std::string>& eg2HighConfidenceTerms,
                                                      const std::vector<std::string>& focusedContextTerms);

    // Lower-case brand keys and their canonical spelling, in table order.
    static const std::vector<std::pair<std::string, std::string>>& brandCasingTable();
};

}  // namespace pelora
