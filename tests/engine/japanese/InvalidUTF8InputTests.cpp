// Text that is not valid UTF-8 (a recogniser cutting a sequence, a broken clipboard) must
// never throw or shift an edit onto a neighbouring character: every entry point works on a
// copy in which each bad sequence is one U+FFFD, and the result is valid UTF-8.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/japanese/GuardedSpanCorrector.h"
#include "engine/japanese/HTTPMirkDecisionProvider.h"
#include "engine/japanese/JapaneseEmbeddingReranker.h"
#include "engine/japanese/JapaneseInputProcessor.h"
#include "engine/japanese/MirkContextualAutoReplacer.h"
#include "engine/japanese/SoundAlikeTermCorrector.h"
#include "engine/recognition/JapaneseTimelineSegmenter.h"
#include "platform/text/UnicodeText.h"

namespace pelora {
namespace {

struct Case {
    std::string input;
    std::string repaired;     // each bad sequence as U+FFFD
    std::string kanjiNumbers;  // normalizeKanjiNumbers
    std::string soundAlike;    // the sound-alike corrector with the built-in vocabulary
};

const std::vector<Case>& cases() {
    static const std::vector<Case> table = {
        {"今日は\xFF\xFEです", "今日は\uFFFD\uFFFDです", "今日は\uFFFD\uFFFDです", "今日は\uFFFD\uFFFDです"},
        {"\xED\xA0\x80まる", "\uFFFD\uFFFD\uFFFDまる", "\uFFFD\uFFFD\uFFFDまる", "\uFFFD\uFFFD\uFFFDまる"},
        {"\xC0\xAF二十三人", "\uFFFD\uFFFD二十三人", "\uFFFD\uFFFD23人", "\uFFFD\uFFFD二十三人"},
        {"\x8C三三", "\uFFFD三三", "\uFFFD33", "\uFFFD三三"},
        {"\xFF\xFF\xFFあい三円です", "\uFFFD\uFFFD\uFFFDあい三円です", "\uFFFD\uFFFD\uFFFDあい3円です",
         "\uFFFD\uFFFD\uFFFDあい三円です"},
        // A replaced span right after bad bytes, and a sequence cut short at the end.
        {"\xFFペロラボイス2で二十人\xE6\x97", "\uFFFDペロラボイス2で二十人\uFFFD", "\uFFFDペロラボイス2で20人\uFFFD",
         "\uFFFDPeloraVoice2で二十人\uFFFD"},
    };
    return table;
}

JapaneseInputOptions everySwitchOn() {
    JapaneseInputOptions options;
    options.removeFillers = true;
    options.enableVoiceCommands = true;
    options.normalizeNumbers = true;
    options.normalizeAlphanumerics = true;
    options.autoPunctuate = true;
    options.spokenToWrittenPolish = true;
    options.punctuationStyle = JapanesePunctuationStyle::academic;
    options.punctuationDensity = JapanesePunctuationDensity::balanced;
    return options;
}

std::string joined(const std::vector<std::string>& pieces) {
    std::string out;
    for (const std::string& piece : pieces) out += piece;
    return out;
}

std::vector<std::string> texts(const std::vector<TranscribedWord>& words) {
    std::vector<std::string> out;
    for (const TranscribedWord& word : words) out.push_back(word.text);
    return out;
}

TEST(InvalidUTF8InputTest, EveryEntryPointWorksOnTheRepairedText) {
    const JapaneseInputProcessor processor;
    const JapaneseEmbeddingReranker reranker;
    const auto vocabulary = JapaneseEmbeddingReranker::defaultVocabulary();
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.repaired);
        ASSERT_EQ(text::repairedUTF8(c.input), c.repaired);

        const std::string numbers = JapaneseInputProcessor::normalizeKanjiNumbers(c.input);
        EXPECT_EQ(numbers, c.kanjiNumbers);

        const CorrectedText processed = processor.process(c.input, everySwitchOn(), 0);
        EXPECT_TRUE(text::isValidUTF8(processed.first));
        EXPECT_EQ(processed, processor.process(c.repaired, everySwitchOn(), 0));

        const std::vector<std::string> phrases = JapaneseTimelineSegmenter::tokenizeBunsetsu(c.input);
        EXPECT_EQ(joined(phrases), c.repaired) << "every character lands in exactly one phrase";
        EXPECT_EQ(phrases, JapaneseTimelineSegmenter::tokenizeBunsetsu(c.repaired));

        const std::vector<TranscribedWord> timed = JapaneseTimelineSegmenter::segment(
            c.input, {TranscribedWord(c.input, std::nullopt, 0.2, 1.8, 0.9f, "JA-ANE")}, {1.0}, 2.0, "JA-ANE");
        EXPECT_EQ(texts(timed), phrases);

        const auto corrected = SoundAlikeTermCorrector::correct(c.input, vocabulary, std::vector<std::string>{},
                                                                std::vector<std::string>{});
        EXPECT_EQ(corrected.text, c.soundAlike);

        const CorrectedText reranked = reranker.rerank(c.input, {}, vocabulary, std::nullopt);
        EXPECT_TRUE(text::isValidUTF8(reranked.first));
        EXPECT_EQ(reranked, reranker.rerank(c.repaired, {}, vocabulary, std::nullopt));
    }
}

TEST(InvalidUTF8InputTest, ContextualPassWithoutNetworkWorksOnTheRepairedText) {
    // No service runs at this address; the pass never asks it with the network off.
    const HTTPMirkDecisionProvider provider("http://127.0.0.1:9/v1/quorvane");
    const MirkContextualAutoReplacer replacer(provider, GuardedSpanCorrector());
    const JapaneseInputOptions options;
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.repaired);
        const MirkAutoReplacementResult result =
            replacer.autoReplaceHighConfidence(c.input, std::nullopt, 0.82, false, false, 950, options);
        EXPECT_TRUE(text::isValidUTF8(result.correctedText));
        EXPECT_EQ(result, replacer.autoReplaceHighConfidence(c.repaired, std::nullopt, 0.82, false, false, 950, options));
    }
}

}  // namespace
}  // namespace pelora
