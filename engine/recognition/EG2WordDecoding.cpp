#include "engine/recognition/EG2WordDecoding.h"

#include <algorithm>

#include "engine/recognition/EG2Constants.h"
#include "engine/recognition/HeadOnlyPunct.h"
#include "platform/text/UnicodeText.h"

namespace pelora::EG2WordDecoding {

namespace {

constexpr std::int64_t kPauseMinBlankFrames = 7;  // 0.28 s
constexpr float kTermMinScore = 0.4f;
constexpr std::size_t kTermMinCharacters = 3;
constexpr const char* kSource = "EG2";

bool isTerm(const TranscribedWord& word) {
    if (word.confidence < kTermMinScore) return false;
    std::string core = text::trimScalars(word.text, U"'\"-");
    return text::graphemeCount(core) >= kTermMinCharacters;
}

bool isContraction(const std::string& word) { return word.starts_with('\'') && text::graphemeCount(word) < 4; }

std::string cased(const std::string& word, WordCase wordCase, bool sentenceStart, bool contraction) {
    switch (wordCase) {
        case WordCase::upper: return word_case::apply(WordCase::upper, word);
        case WordCase::cap: return word_case::apply(WordCase::cap, word);
        case WordCase::lower:
            return sentenceStart && !contraction ? word_case::apply(WordCase::cap, word) : word;
    }
    return word;
}

}  // namespace

Decoded decode(const std::vector<Frame>& frames, const std::vector<std::string>& wordList) {
    Decoded out;
    std::int64_t previous = -1;
    std::int64_t blankRun = 0;
    bool seenWordFrame = false;
    std::string lastEmitted;
    const auto listSize = static_cast<std::int64_t>(wordList.size());

    for (const Frame& frame : frames) {
        if (frame.decision == -1) {
            ++blankRun;
            previous = -1;
            continue;
        }
        if (seenWordFrame && blankRun >= kPauseMinBlankFrames) {
            // The middle of the blank run.
            out.pauseTimestamps.push_back(std::max(0.0, frame.time - static_cast<double>(blankRun) * 0.02));
        }
        blankRun = 0;
        seenWordFrame = true;

        if (frame.decision == previous) {
            if (!out.words.empty()) {
                TranscribedWord& last = out.words.back();
                last.end = frame.time + EG2Constants::frameSeconds;
                if (frame.score > last.confidence) last.confidence = frame.score;
            }
            continue;
        }
        previous = frame.decision;
        if (frame.decision < 0 || frame.decision >= listSize) continue;

        const std::string& entry = wordList[static_cast<std::size_t>(frame.decision)];
        std::string text;
        if (entry == EG2Constants::repeatToken) {
            if (lastEmitted.empty()) continue;
            text = lastEmitted;
        } else {
            lastEmitted = entry;
            text = entry;
        }
        out.words.emplace_back(text, text, frame.time, frame.time + EG2Constants::frameSeconds, frame.score, kSource);
        if (isTerm(out.words.back())) out.highConfidenceTerms.push_back(out.words.back());
    }
    return out;
}

std::string render(std::vector<TranscribedWord>& words, HeadOnlyPunct* punctHead) {
    if (words.empty()) return {};
    std::vector<std::string> raw;
    raw.reserve(words.size());
    for (const auto& word : words) raw.push_back(word.rawText);

    HeadOnlyPunct::Decision decision{std::vector<Punct>(words.size(), Punct::none),
                                     std::vector<WordCase>(words.size(), WordCase::lower)};
    if (punctHead) {
        try {
            HeadOnlyPunct::Decision decided = punctHead->decide(raw);
            if (decided.punct.size() == words.size() && decided.wordCase.size() == words.size()) {
                decision = std::move(decided);
            }
        } catch (...) {
            // Without the head's decision the words stay unpunctuated and lower-class.
        }
    }

    bool sentenceStart = true;
    std::vector<std::string> pieces;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& t = raw[i];
        const bool contraction = isContraction(t);
        std::string rendered = cased(t, decision.wordCase[i], sentenceStart, contraction);
        rendered += punct::englishSuffix(decision.punct[i]);
        words[i].text = rendered;
        if (contraction && !pieces.empty()) pieces.back() += rendered;
        else pieces.push_back(std::move(rendered));
        sentenceStart = decision.punct[i] == Punct::period || decision.punct[i] == Punct::question;
    }

    std::string joined;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) joined += ' ';
        joined += pieces[i];
    }
    if (!joined.empty() && !joined.ends_with('.') && !joined.ends_with('?') && !joined.ends_with('!')) joined += '.';
    return joined;
}

}  // namespace pelora::EG2WordDecoding
