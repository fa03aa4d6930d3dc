#include "engine/japanese/SoundAlikeTermCorrector.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "engine/japanese/SoundAlikeReading.h"
#include "platform/text/Regex.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {

constexpr std::string_view kVocabularySource = "辞書音韻補正";
constexpr std::string_view kEG2Source = "EG2音韻一致";
constexpr std::string_view kContextSource = "文脈用語一致";

void insertUnique(std::vector<std::string>& set, std::string value) {
    if (std::find(set.begin(), set.end(), value) == set.end()) set.push_back(std::move(value));
}

bool contains(const std::vector<std::string>& set, std::string_view value) {
    return std::find(set.begin(), set.end(), value) != set.end();
}

std::size_t chars(std::string_view s) { return SoundAlikeReading::scalarCount(s); }

bool hasASCIILetter(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

std::optional<SoundAlikeTermCorrector::CandidateTerm> vocabularyCandidate(const CustomVocabularyEntry& entry) {
    SoundAlikeTermCorrector::CandidateTerm candidate;
    std::vector<const std::string*> forms = {&entry.surface, &entry.reading};
    for (const std::string& alias : entry.aliases) forms.push_back(&alias);
    for (const std::string* rawForm : forms) {
        const std::string form = text::trimWhitespaceAndNewlines(*rawForm);
        if (form.empty()) continue;
        insertUnique(candidate.exactAliasesLower, text::toLower(form));
        if (SoundAlikeReading::containsJapaneseScript(form)) {
            std::string reading = SoundAlikeReading::reading(form);
            if (chars(reading) >= 3) insertUnique(candidate.matchReadings, std::move(reading));
            std::string hiragana = SoundAlikeReading::hiragana(form);
            if (chars(hiragana) >= 2) insertUnique(candidate.matchHiragana, std::move(hiragana));
        } else if (form.find(' ') == std::string::npos && chars(form) >= 6) {
            std::string reading = SoundAlikeReading::reading(form);
            if (chars(reading) >= 3) insertUnique(candidate.matchReadings, std::move(reading));
        }
    }
    if (candidate.matchReadings.empty() && candidate.matchHiragana.empty()) return std::nullopt;

    std::size_t longest = 0;
    for (const std::string& reading : candidate.matchReadings) longest = std::max(longest, chars(reading));
    if (candidate.matchReadings.empty()) longest = 4;
    candidate.canonicalSurface = entry.surface;
    candidate.sourceLabel = std::string(kVocabularySource);
    candidate.maxWeightedDistance = std::min(std::max(static_cast<double>(longest) * 0.08, 0.35), 0.68);
    return candidate;
}

SoundAlikeTermCorrector::CandidateTerm singleReadingCandidate(std::string canonical, std::string lower,
                                                             std::string reading, std::string_view source) {
    SoundAlikeTermCorrector::CandidateTerm candidate;
    candidate.maxWeightedDistance = std::min(static_cast<double>(chars(reading)) * 0.07, 0.55);
    candidate.canonicalSurface = std::move(canonical);
    candidate.exactAliasesLower = {std::move(lower)};
    candidate.matchReadings = {std::move(reading)};
    candidate.sourceLabel = std::string(source);
    return candidate;
}

// True when the span at `range` is part of its candidate's canonical surface as already
// written there ("EmbeddingGemma" inside "EmbeddingGemma 2"): replacing it would write the
// term twice ("EmbeddingGemma 2 2").
bool isInsideCanonical(std::string_view text, text::TextRange range, std::string_view canonical) {
    if (canonical.size() <= range.length()) return false;
    const std::size_t earliest = range.end > canonical.size() ? range.end - canonical.size() : 0;
    for (std::size_t at = text.find(canonical, earliest); at != std::string_view::npos && at <= range.begin;
         at = text.find(canonical, at + 1)) {
        if (at + canonical.size() >= range.end) return true;
    }
    return false;
}

struct SpanMatch {
    const SoundAlikeTermCorrector::CandidateTerm* candidate = nullptr;
    double distance = 0;
};

std::optional<SpanMatch> matchLatinSpan(std::string_view span,
                                        const std::vector<SoundAlikeTermCorrector::CandidateTerm>& candidates) {
    const std::string lower = text::toLower(span);
    for (const auto& candidate : candidates) {
        if (candidate.canonicalSurface == span) continue;
        if (contains(candidate.exactAliasesLower, lower)) return SpanMatch{&candidate, 0};
    }
    return std::nullopt;
}

std::optional<SpanMatch> matchKanaSpan(std::string_view span,
                                       const std::vector<SoundAlikeTermCorrector::CandidateTerm>& candidates) {
    const std::string spanReading = SoundAlikeReading::reading(span);
    const std::size_t readingLength = chars(spanReading);
    if (readingLength < 3) return std::nullopt;
    const std::string spanHiragana = SoundAlikeReading::hiragana(span);
    const std::string skeleton = SoundAlikeReading::consonantSkeleton(spanReading);
    const std::size_t katakanaLetters = SoundAlikeReading::katakanaLetterCount(span);
    const std::string lower = text::toLower(span);
    const bool strong = katakanaLetters > 4 && readingLength > 6 && skeleton.size() > 3;

    std::optional<SpanMatch> best;
    double bestDistance = std::numeric_limits<double>::max();
    for (const auto& candidate : candidates) {
        if (candidate.canonicalSurface == span) continue;
        if (contains(candidate.exactAliasesLower, lower)) return SpanMatch{&candidate, 0};
        if (contains(candidate.matchHiragana, spanHiragana)) return SpanMatch{&candidate, 0};
        if (katakanaLetters < 3) continue;
        for (const std::string& reading : candidate.matchReadings) {
            const std::size_t candidateLength = chars(reading);
            if (candidateLength < 3) continue;
            if (reading == spanReading) return SpanMatch{&candidate, 0};
            if (!strong) continue;
            const double ratio = static_cast<double>(std::min(readingLength, candidateLength)) /
                                 static_cast<double>(std::max(readingLength, candidateLength));
            if (ratio < 0.78) continue;
            if (!SoundAlikeReading::firstSoundGroupMatches(reading, spanReading)) continue;
            const std::string candidateSkeleton = SoundAlikeReading::consonantSkeleton(reading);
            // Skeletons are ASCII, so their last byte is their last character.
            if (candidateSkeleton.empty() || skeleton.empty() ||
                !SoundAlikeReading::sameConsonantGroup(static_cast<unsigned char>(candidateSkeleton.back()),
                                                       static_cast<unsigned char>(skeleton.back())))
                continue;
            if (!SoundAlikeReading::isSkeletonNearMiss(candidateSkeleton, skeleton)) continue;
            const double distance = SoundAlikeReading::weightedDistance(reading, spanReading);
            if (distance <= candidate.maxWeightedDistance && distance < bestDistance) {
                bestDistance = distance;
                best = SpanMatch{&candidate, distance};
            }
        }
        if (best && bestDistance == 0) break;
    }
    return best;
}

}  // namespace

const std::vector<std::pair<std::string, std::string>>& SoundAlikeTermCorrector::brandCasingTable() {
    static const std::vector<std::pair<std::string, std::string>> table = {
        {"coreml", "Core ML"},       {"embeddinggemma", "EmbeddingGemma"}, {"peloravoice", "PeloraVoice"},
        {"swiftui", "SwiftUI"},      {"typescript", "TypeScript"},         {"javascript", "JavaScript"},
        {"github", "GitHub"},        {"openai", "OpenAI"},                 {"claude", "Claude"},
        {"gemini", "Gemini"},        {"whisper", "Whisper"},               {"parakeet", "Parakeet"},
        {"playwright", "Playwright"}, {"supabase", "Supabase"},            {"postgres", "Postgres"},
        {"kubernetes", "Kubernetes"}, {"quillory", "Quillory"},
    };
    return table;
}

std::vector<SoundAlikeTermCorrector::CandidateTerm> SoundAlikeTermCorrector::buildCandidates(
    const std::vector<CustomVocabularyEntry>& customVocabulary, const std::vector<std::string>& eg2HighConfidenceTerms,
    const std::vector<std::string>& focusedContextTerms) {
    std::vector<CandidateTerm> candidates;
    for (const CustomVocabularyEntry& entry : customVocabulary) {
        if (!entry.enabled) continue;
        if (auto candidate = vocabularyCandidate(entry)) candidates.push_back(std::move(*candidate));
    }
    for (const std::string& term : eg2HighConfidenceTerms) {
        const std::string trimmed = text::trimWhitespaceAndNewlines(term);
        const std::string lower = text::toLower(trimmed);
        const auto& table = brandCasingTable();
        const auto brand = std::find_if(table.begin(), table.end(), [&](const auto& row) { return row.first == lower; });
        if (brand == table.end()) continue;
        std::string reading = SoundAlikeReading::reading(trimmed);
        if (chars(reading) >= 5) candidates.push_back(singleReadingCandidate(brand->second, lower, reading, kEG2Source));
    }
    for (const std::string& term : focusedContextTerms) {
        const std::string trimmed = text::trimWhitespaceAndNewlines(term);
        if (chars(trimmed) < 7) continue;
        std::string reading = SoundAlikeReading::reading(trimmed);
        if (chars(reading) >= 6) {
            candidates.push_back(singleReadingCandidate(trimmed, text::toLower(trimmed), reading, kContextSource));
        }
    }
    return candidates;
}

SoundAlikeTermCorrector::Correction SoundAlikeTermCorrector::correct(
    std::string_view input, const std::vector<CustomVocabularyEntry>& customVocabulary,
    const std::vector<std::string>& eg2HighConfidenceTerms, const std::vector<std::string>& focusedContextTerms) {
    const std::string text = text::repairedUTF8(input);
    Correction result{text, {}};
    if (text.empty()) return result;
    const std::vector<CandidateTerm> candidates =
        buildCandidates(customVocabulary, eg2HighConfidenceTerms, focusedContextTerms);
    if (candidates.empty()) return result;

    // A run of katakana (optionally followed by a number), or a Latin word.
    static const text::Regex spanPattern(R"([ァ-ヶー・]{2,24}(?:\s*[0-9]+)?|\b[A-Za-z][A-Za-z0-9_.\-]{2,28}\b)");
    if (!spanPattern.isValid()) return result;
    const std::vector<text::RegexMatch> matches = spanPattern.allMatches(text);

    // Right to left, so that a replacement never moves a span still to be visited.
    for (auto match = matches.rbegin(); match != matches.rend(); ++match) {
        const text::TextRange range = match->utf8Range();
        if (range.end > result.text.size() || range.begin > range.end) continue;
        const std::string span = result.text.substr(range.begin, range.length());
        const std::optional<SpanMatch> found =
            hasASCIILetter(span) ? matchLatinSpan(span, candidates) : matchKanaSpan(span, candidates);
        if (!found || isInsideCanonical(result.text, range, found->candidate->canonicalSurface)) continue;
        result.text.replace(range.begin, range.length(), found->candidate->canonicalSurface);
        result.replacements.push_back(
            {span, found->candidate->canonicalSurface, found->candidate->sourceLabel, found->distance});
    }
    std::reverse(result.replacements.begin(), result.replacements.end());
    return result;
}

std::pair<std::string, std::vector<std::string>> SoundAlikeTermCorrector::correct(
    std::string_view text, const std::vector<CustomVocabularyEntry>& customVocabulary,
    const std::vector<TranscribedWord>& eg2HighConfidenceTerms, const std::vector<std::string>& focusedContextTerms) {
    std::vector<std::string> eg2Terms;
    eg2Terms.reserve(eg2HighConfidenceTerms.size());
    for (const TranscribedWord& word : eg2HighConfidenceTerms) eg2Terms.push_back(word.rawText);
    Correction correction = correct(text, customVocabulary, eg2Terms, focusedContextTerms);
    std::vector<std::string> annotations;
    annotations.reserve(correction.replacements.size());
    for (const SoundAlikeReplacementAnnotation& r : correction.replacements) {
        annotations.push_back("音韻距離補正(" + r.source + "): " + r.original + " → " + r.replacement);
    }
    return {std::move(correction.text), std::move(annotations)};
}

}  // namespace pelora
