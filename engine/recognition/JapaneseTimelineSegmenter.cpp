#include "engine/recognition/JapaneseTimelineSegmenter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <unordered_set>

#include "platform/text/GraphemeCount.h"
#include "platform/text/ScalarProperties.h"
#include "platform/text/UnicodeText.h"
#include "platform/text/WordBreaks.h"

namespace pelora::JapaneseTimelineSegmenter {

namespace {

constexpr std::u32string_view sentenceEnds = U"。．？！?!.";
constexpr std::u32string_view commas = U"、，,";
// Trimmed from both ends before the last character is tested for a sentence end or comma.
constexpr std::u32string_view closingBracketsAndSpace = U"」』）)]】〉》 ";
constexpr std::u32string_view punctuationAndClosing = U"。、，．？！?!.,」』）)]】〉》";
constexpr std::u32string_view openingBrackets = U"「『（([【〈《";
constexpr std::u32string_view smallKana = U"ぁぃぅぇぉゃゅょゎァィゥェォャュョヮ";

const std::unordered_set<std::string>& attachingWords() {
    static const std::unordered_set<std::string> words{
        "の", "が", "は", "を", "に", "へ", "と", "で", "や", "も", "から", "まで", "より", "って", "だけ", "ほど",
        "くらい", "ぐらい", "など", "なり", "やら", "か", "な", "ね", "よ", "わ", "ぞ", "ぜ", "さ", "かしら",
        "っけ", "こそ", "さえ", "すら", "しか", "ばかり", "ばっかり", "ずつ", "かな", "かも", "なあ", "ねえ",
        "よね", "よな", "れ", "られ", "せ", "させ", "ない", "なかっ", "ぬ", "ん", "た", "だ", "です", "ます",
        "まし", "て", "で", "ちゃう", "じゃう", "ちゃっ", "じゃっ", "てる", "でる", "てい", "でい", "いる",
        "いた", "おる", "おり", "ある", "あり", "よう", "そう", "らしい", "べき", "まい", "たい", "たかっ",
        "がる", "がっ", "のだ", "ので", "のに", "けれど", "けど", "し", "たり", "だり", "つつ", "ながら",
        "っぱなし", "さん", "くん", "ちゃん", "様", "氏", "たち", "ら", "的", "化", "性", "用", "向け", "中",
        "ぶり", "っぷり", "パーセント", "%", "ミリ", "秒", "ミリ秒", "分", "時間", "日", "年", "月", "個", "つ",
        "件", "回", "人", "番", "号", "倍", "トークン", "箇所",
    };
    return words;
}

bool isIn(std::u32string_view set, char32_t c) { return set.find(c) != std::u32string_view::npos; }

bool isKanji(char32_t c) { return c >= 0x4E00 && c <= 0x9FFF; }
bool isHiraganaScalar(char32_t c) { return c >= 0x3040 && c <= 0x309F; }
bool isKana(char32_t c) { return c >= 0x3040 && c <= 0x30FF; }
bool isKatakanaScalar(char32_t c) { return c >= 0x30A0 && c <= 0x30FF; }
constexpr char32_t kLongVowelMark = 0x30FC;

template <typename Predicate>
std::u32string trimmedWhere(std::u32string_view scalars, Predicate drop) {
    std::size_t begin = 0;
    std::size_t end = scalars.size();
    while (begin < end && drop(scalars[begin])) ++begin;
    while (end > begin && drop(scalars[end - 1])) --end;
    return std::u32string(scalars.substr(begin, end - begin));
}

bool isCoreTrimmed(char32_t c) {
    return isIn(punctuationAndClosing, c) || isIn(openingBrackets, c) || text::isWhitespaceOrNewline(c);
}

// A phrase without punctuation, brackets and white space at its ends.
std::u32string coreScalars(std::string_view phrase) { return trimmedWhere(text::toScalars(phrase), isCoreTrimmed); }

// The last scalar after trimming closing brackets and spaces; none when nothing remains.
std::optional<char32_t> lastMeaningfulScalar(std::string_view text) {
    const std::u32string trimmed =
        trimmedWhere(text::toScalars(text), [](char32_t c) { return isIn(closingBracketsAndSpace, c); });
    if (trimmed.empty()) return std::nullopt;
    return trimmed.back();
}

bool endsWithSentenceEnd(std::string_view text) {
    const auto last = lastMeaningfulScalar(text);
    return last && isIn(sentenceEnds, *last);
}

bool endsWithComma(std::string_view text) {
    const auto last = lastMeaningfulScalar(text);
    return last && isIn(commas, *last);
}

template <typename Predicate>
bool allScalars(std::u32string_view scalars, Predicate predicate) {
    return std::all_of(scalars.begin(), scalars.end(), predicate);
}

std::size_t characterCount(std::string_view s) { return text::graphemeCountFast(s); }

double roundedToHundredths(double value) { return std::round(value * 100.0) / 100.0; }

bool isWhitespaceCharacter(std::string_view character) {
    const std::u32string scalars = text::toScalars(character);
    return !scalars.empty() && allScalars(scalars, text::isWhitespaceOrNewline);
}

bool isOpeningBracketCharacter(std::string_view character) {
    const std::u32string scalars = text::toScalars(character);
    return !scalars.empty() && allScalars(scalars, [](char32_t c) { return isIn(openingBrackets, c); });
}

// The phrase-merging rules, tried in order; true when `token` joins the previous phrase.
bool joinsPreviousPhrase(const std::string& previousPhrase, const std::string& token) {
    if (endsWithBoundaryPunctuation(previousPhrase)) return false;
    const std::u32string previousCore = coreScalars(previousPhrase);
    const std::u32string tokenCore = coreScalars(token);
    if (tokenCore.empty()) return true;

    const std::string previousCoreText = text::fromScalars(previousCore);
    const std::string tokenCoreText = text::fromScalars(tokenCore);
    const std::size_t previousLength = characterCount(previousCoreText);
    const std::size_t tokenLength = characterCount(tokenCoreText);

    if (attachingWords().contains(tokenCoreText) && previousLength < 14) return true;
    if (!previousCore.empty() && allScalars(previousCore, text::isDecimalNumber) && previousLength < 7 &&
        tokenLength < 7) {
        return true;
    }
    if (tokenLength == 1 && tokenCore.size() == 1 &&
        (isHiraganaScalar(tokenCore.front()) || tokenCore.front() == kLongVowelMark) && previousLength < 12) {
        return true;
    }
    if (!previousCore.empty() && isHiraganaScalar(previousCore.back()) &&
        allScalars(tokenCore, [](char32_t c) { return isHiraganaScalar(c) || c == kLongVowelMark; }) &&
        previousLength + tokenLength < 13) {
        return true;
    }
    return shouldJoinScriptRun(previousCoreText, tokenCoreText);
}

struct SpeechSpan {
    double start = 0;
    double end = 0;
};

std::vector<TranscribedWord> usableRuns(const std::vector<TranscribedWord>& runs) {
    std::vector<TranscribedWord> usable;
    for (const TranscribedWord& run : runs) {
        if (std::isfinite(run.start) && std::isfinite(run.end) && run.start >= 0 && run.start <= run.end &&
            !run.text.empty()) {
            usable.push_back(run);
        }
    }
    return usable;
}

SpeechSpan speechSpan(const std::vector<TranscribedWord>& runs, std::size_t phraseCount, double totalDuration) {
    double rawStart = 0;
    double rawEnd = 0;
    if (!runs.empty()) {
        rawStart = std::numeric_limits<double>::infinity();
        rawEnd = -std::numeric_limits<double>::infinity();
        for (const TranscribedWord& run : runs) {
            rawStart = std::min(rawStart, run.start);
            rawEnd = std::max(rawEnd, run.end);
        }
    }
    SpeechSpan span;
    span.start = std::max(rawStart, 0.0);
    if (span.start + 0.05 < rawEnd) {
        span.end = std::max(std::min(rawEnd + 0.15, totalDuration), rawEnd);
    } else {
        span.end = std::max({span.start + 0.2, static_cast<double>(phraseCount) * 0.28, totalDuration});
    }
    return span;
}

std::vector<TimelineAnchor> anchorsFor(const std::vector<TranscribedWord>& runs, const SpeechSpan& span) {
    if (!hasDistinctRawTiming(runs)) {
        float confidence = 1.0f;
        if (!runs.empty()) {
            double sum = 0;
            for (const TranscribedWord& run : runs) sum += run.confidence;
            confidence = static_cast<float>(sum / static_cast<double>(runs.size()));
        }
        return {{0.0, span.start, confidence}, {1.0, span.end, confidence}};
    }
    std::vector<double> weights;
    double total = 0;
    for (const TranscribedWord& run : runs) {
        weights.push_back(std::max(estimatedSpokenWeight(run.text), 0.5));
        total += weights.back();
    }
    total = std::max(total, 1.0);

    std::vector<TimelineAnchor> anchors{{0.0, runs.front().start, runs.front().confidence}};
    double running = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        running += weights[i];
        anchors.push_back({std::min(running / total, 1.0), std::max(anchors.back().time, runs[i].end),
                           runs[i].confidence});
    }
    return anchors;
}

// The pair of anchors that interpolatedTime uses for `fraction`, found by bisection: the
// anchors of a timeline are ordered by fraction, so the first pair whose right end reaches
// `fraction` is the first one the linear walk would find.
std::pair<double, float> interpolatedTimeOrdered(double fraction, const std::vector<TimelineAnchor>& anchors,
                                                 double speechStart, double span) {
    const double f = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
    if (anchors.size() < 2 || anchors.front().fraction > f) return interpolatedTime(fraction, anchors, speechStart, span);
    const auto right = std::lower_bound(anchors.begin() + 1, anchors.end(), f,
                                        [](const TimelineAnchor& anchor, double value) { return anchor.fraction < value; });
    if (right == anchors.end()) return {anchors.back().time, anchors.back().confidence};
    const TimelineAnchor& a = *(right - 1);
    const TimelineAnchor& b = *right;
    if (b.fraction - a.fraction > 0.000001) {
        const double t = (f - a.fraction) / (b.fraction - a.fraction);
        return {a.time + t * (b.time - a.time), b.confidence};
    }
    return {b.time, b.confidence};
}

// The unused pause nearest to `end` within `window` (the earlier one on a tie), looking only
// at the sorted pauses inside the window.
std::optional<std::size_t> nearestUnusedPause(const std::vector<double>& pauses, const std::vector<bool>& used,
                                              double end, double window) {
    // end - pause shrinks as pause grows, so the pauses too far before `end` form a prefix.
    const auto first = std::partition_point(pauses.begin(), pauses.end(),
                                            [&](double pause) { return end - pause > window; });
    std::optional<std::size_t> nearest;
    for (auto it = first; it != pauses.end(); ++it) {
        const double distance = std::abs(*it - end);
        if (*it > end && distance > window) break;
        const auto p = static_cast<std::size_t>(it - pauses.begin());
        if (used[p] || distance > window) continue;
        if (!nearest || distance < std::abs(pauses[*nearest] - end)) nearest = p;
    }
    return nearest;
}

}  // namespace

bool endsWithBoundaryPunctuation(std::string_view text) {
    const auto last = lastMeaningfulScalar(text);
    return last && (isIn(sentenceEnds, *last) || isIn(commas, *last));
}

bool shouldJoinScriptRun(std::string_view previousCore, std::string_view tokenCore) {
    if (previousCore.empty()) return false;
    const std::u32string a = text::toScalars(previousCore);
    const std::u32string b = text::toScalars(tokenCore);
    const std::size_t aLength = characterCount(previousCore);
    const std::size_t bLength = characterCount(tokenCore);
    if (!b.empty() && allScalars(a, isKanji) && allScalars(b, isKanji)) return aLength < 3 && bLength < 3;
    if (!b.empty() && allScalars(a, isKatakanaScalar) && allScalars(b, isKatakanaScalar)) {
        return aLength + bLength < 9;
    }
    return false;
}

double estimatedSpokenWeight(std::string_view phrase) {
    const std::u32string scalars = coreScalars(phrase);
    if (scalars.empty()) return 0.5;
    double weight = 0;
    for (const char32_t c : scalars) {
        if (isKanji(c)) {
            weight += 1.6;
        } else if (isKana(c)) {
            weight += isIn(smallKana, c) ? 0.25 : 1.0;
        } else if (text::isDecimalNumber(c)) {
            weight += 1.3;
        } else if (text::isLetterMarkOrNumber(c)) {
            weight += 0.55;
        } else {
            weight += 0.3;
        }
    }
    return std::max(weight, 0.6);
}

bool hasDistinctRawTiming(const std::vector<TranscribedWord>& runs) {
    if (runs.size() < 2) return false;
    std::set<long long> hundredths;
    for (const TranscribedWord& run : runs) {
        if (!std::isfinite(run.start)) continue;
        hundredths.insert(std::llround(run.start * 100.0));
        if (hundredths.size() >= 2) return true;
    }
    return false;
}

std::pair<double, float> interpolatedTime(double fraction, const std::vector<TimelineAnchor>& anchors,
                                          double speechStart, double span) {
    const double f = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
    if (anchors.size() < 2) return {speechStart + f * span, 1.0f};
    for (std::size_t k = 0; k + 1 < anchors.size(); ++k) {
        const TimelineAnchor& a = anchors[k];
        const TimelineAnchor& b = anchors[k + 1];
        if (a.fraction <= f && f <= b.fraction) {
            if (b.fraction - a.fraction > 0.000001) {
                const double t = (f - a.fraction) / (b.fraction - a.fraction);
                return {a.time + t * (b.time - a.time), b.confidence};
            }
            return {b.time, b.confidence};
        }
    }
    return {anchors.back().time, anchors.back().confidence};
}

std::vector<std::string> tokenizeBunsetsu(std::string_view input) {
    const std::string text =
        text::trimWhitespaceAndNewlines(text::replaceAllLiteral(text::repairedUTF8(input), "\r\n", "\n"));
    if (text.empty()) return {};
    const std::vector<text::TextRange> ranges = text::wordRanges(text, "ja");
    if (ranges.empty()) return {text};

    std::vector<std::string> rawTokens;
    std::string pendingPrefix;
    std::size_t previousEnd = 0;
    for (const text::TextRange& range : ranges) {
        const std::string_view gap = std::string_view(text).substr(previousEnd, range.begin - previousEnd);
        for (const std::string& character : text::graphemes(gap)) {
            if (isWhitespaceCharacter(character)) continue;
            if (isOpeningBracketCharacter(character) || rawTokens.empty()) {
                pendingPrefix += character;
            } else {
                rawTokens.back() += character;
            }
        }
        rawTokens.push_back(pendingPrefix + text.substr(range.begin, range.length()));
        pendingPrefix.clear();
        previousEnd = range.end;
    }
    const std::string tail = text::trimWhitespaceAndNewlines(std::string_view(text).substr(previousEnd));
    if (!tail.empty()) rawTokens.back() += tail;

    std::vector<std::string> phrases;
    for (const std::string& raw : rawTokens) {
        const std::string token = text::trimWhitespaceAndNewlines(raw);
        if (token.empty()) continue;
        if (!phrases.empty() && joinsPreviousPhrase(phrases.back(), token)) {
            phrases.back() += token;
        } else {
            phrases.push_back(token);
        }
    }
    if (phrases.empty()) return {text};
    return phrases;
}

std::vector<TranscribedWord> segment(std::string_view finalText, const std::vector<TranscribedWord>& rawSegments,
                                     const std::vector<double>& pauseTimestamps, double totalDuration,
                                     std::string_view source) {
    const std::string text = text::trimWhitespaceAndNewlines(text::repairedUTF8(finalText));
    if (text.empty()) return {};
    const std::vector<std::string> phrases = tokenizeBunsetsu(text);
    if (phrases.empty()) return {};
    // A duration that is not a number gives no bound of its own.
    if (!std::isfinite(totalDuration)) totalDuration = 0;

    const std::vector<TranscribedWord> runs = usableRuns(rawSegments);
    const SpeechSpan speech = speechSpan(runs, phrases.size(), totalDuration);

    std::vector<double> weights;
    std::vector<double> scores;
    double phraseTotal = 0;
    double scoreSum = 0;
    for (std::size_t i = 0; i < phrases.size(); ++i) {
        weights.push_back(estimatedSpokenWeight(phrases[i]));
        phraseTotal += weights.back();
        double score = 0;
        if (i + 1 < phrases.size()) {
            if (endsWithSentenceEnd(phrases[i])) {
                score = 1.6;
            } else if (endsWithComma(phrases[i])) {
                score = 0.75;
            }
        }
        scores.push_back(score);
        scoreSum += score;
    }
    phraseTotal = std::max(phraseTotal, 1.0);
    // Gaps after punctuation take at most 30 % of the weight.
    if (scoreSum > 0 && scoreSum > 0.3 * phraseTotal) {
        const double scale = 0.3 * phraseTotal / scoreSum;
        scoreSum = 0;
        for (double& score : scores) {
            score *= scale;
            scoreSum += score;
        }
    }
    const double grandTotal = std::max(phraseTotal + scoreSum, 1.0);

    const std::vector<TimelineAnchor> anchors = anchorsFor(runs, speech);
    const double spanSeconds = std::max(speech.end - speech.start, 0.15);
    const auto timeAt = [&](double fraction) {
        return interpolatedTimeOrdered(fraction, anchors, speech.start, spanSeconds);
    };

    std::vector<double> pauses;
    for (const double pause : pauseTimestamps) {
        if (pause > speech.start + 0.1 && pause < speech.end - 0.1) pauses.push_back(pause);
    }
    std::sort(pauses.begin(), pauses.end());
    std::vector<bool> used(pauses.size(), false);
    const double snapWindow = std::clamp(0.14 * spanSeconds, 0.25, 0.65);

    std::vector<TranscribedWord> words;
    words.reserve(phrases.size());
    double runningWeight = 0;
    double previousEnd = speech.start;
    for (std::size_t i = 0; i < phrases.size(); ++i) {
        const auto [firstTime, firstConfidence] = timeAt(runningWeight / grandTotal);
        const auto [secondTime, secondConfidence] = timeAt((runningWeight + weights[i]) / grandTotal);
        const double start = std::max(previousEnd, firstTime);
        double end = std::max(secondTime, start + 0.04);

        if (scores[i] > 0 && !pauses.empty()) {
            // Pauses are sorted, so a strict comparison keeps the earlier one on a tie.
            const std::optional<std::size_t> nearest = nearestUnusedPause(pauses, used, end, snapWindow);
            if (nearest && pauses[*nearest] > start + 0.06 && pauses[*nearest] < speech.end - 0.04) {
                used[*nearest] = true;
                end = pauses[*nearest];
            }
        }

        const double storedStart = roundedToHundredths(start);
        if (i + 1 == phrases.size()) end = std::max(start + 0.04, speech.end);
        const double storedEnd = std::max(roundedToHundredths(end), storedStart + 0.04);
        const float confidence = (firstConfidence + secondConfidence) * 0.5f;
        words.emplace_back(phrases[i], phrases[i], storedStart, storedEnd, confidence, std::string(source));

        runningWeight += weights[i] + scores[i];
        previousEnd = std::max(storedEnd, timeAt(runningWeight / grandTotal).first);
    }
    return words;
}

std::vector<double> detectPauseBoundaries(const std::vector<TranscribedWord>& words,
                                          const std::vector<double>& explicitPauses) {
    std::vector<double> pauses;
    for (const double pause : explicitPauses) {
        if (std::isfinite(pause) && pause > 0) pauses.push_back(pause);
    }
    for (std::size_t i = 0; i + 1 < words.size(); ++i) {
        const TranscribedWord& word = words[i];
        const bool marks = words[i + 1].start - word.end >= 0.08 || endsWithBoundaryPunctuation(word.text);
        if (!marks || !std::isfinite(word.end)) continue;
        const double pause = roundedToHundredths(word.end);
        const bool nearKnownPause =
            std::any_of(pauses.begin(), pauses.end(), [&](double known) { return std::abs(known - pause) < 0.18; });
        if (!nearKnownPause) pauses.push_back(pause);
    }
    std::sort(pauses.begin(), pauses.end());
    return pauses;
}

}  // namespace pelora::JapaneseTimelineSegmenter
