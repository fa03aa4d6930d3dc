#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/japanese/JapaneseInputOptions.h"
#include "engine/recognition/TranscriptionStages.h"

namespace pelora {

// Turns the raw Japanese text of one recognition into written text: fillers and
// stutters, spoken commands, kanji numerals, width and spacing, punctuation placement
// and style. Every operation is a pure function of its arguments and safe on any
// thread; the rule tables are compiled once, on first use, and shared.
class JapaneseInputProcessor final : public JapanesePostProcessing {
public:
    JapaneseInputProcessor() = default;

    // The whole pipeline; returns the text and the labels of the steps that changed it,
    // in step order. `pauseCount` does not influence the result.
    CorrectedText process(std::string_view text, const JapaneseInputOptions& options, int pauseCount) const override;

    // Filler words and thinking pauses (the fillers table is applied line by line: "^"
    // matches at every line start).
    static const std::vector<std::string>& japaneseFillerPatterns();
    static std::string removeJapaneseFillers(std::string_view text);
    static std::string repairThinkingPauseSlipsAndStutters(std::string_view text);
    static std::string applySpokenToWritten(std::string_view text);
    static std::string normalizeWidthAndSpacing(std::string_view text);
    // Fillers, stutters and punctuation rhythm: the clean-up used around contextual corrections.
    static std::string repairBrokenSentenceCoherence(std::string_view text, JapanesePunctuationDensity density);

    // Spoken commands: line breaks, paragraphs, marks, brackets, full stops and commas.
    static std::string applyVoiceCommands(std::string_view text);
    // True when the text speaks of a business, office or station opening, so that 開業 is meant literally.
    static bool isBusinessKaigyouContext(std::string_view text);
    static const std::vector<std::string>& businessKaigyouKeywords();

    // Kanji numerals written as Arabic digits where they are quantities.
    static std::string normalizeKanjiNumbers(std::string_view text);
    // The value of a string made only of numeral kanji; none for anything else or on overflow.
    static std::optional<std::int64_t> parseJapaneseKanjiNumber(std::string_view text);

    // Punctuation placement, thinning and character style. `pauseCount` has no effect.
    static std::string applyAutoPunctuation(std::string_view text, int pauseCount, JapanesePunctuationDensity density);
    static std::string balancePunctuationRhythm(std::string_view text, JapanesePunctuationDensity density);
    static std::string applyPunctuationStyle(std::string_view text, JapanesePunctuationStyle style);
};

}  // namespace pelora
