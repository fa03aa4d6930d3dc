#include "engine/japanese/GuardedSpanCorrector.h"

#include <algorithm>
#include <unordered_set>

#include "engine/japanese/FaithfulFormattingGuard.h"
#include "engine/japanese/JapaneseInputProcessor.h"
#include "engine/japanese/VocabularyAliasReplacement.h"
#include "platform/text/CharacterWindow.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {

constexpr std::size_t kWindowCharacters = 8;
constexpr std::string_view kKaigyou = "開業";
// Stands in for the wrong form's own occurrences while context is searched for evidence;
// the object replacement character never occurs in keywords.
constexpr std::string_view kMask = "\xEF\xBF\xBC";

bool contains(std::string_view haystack, std::string_view needle) {
    return haystack.find(needle) != std::string_view::npos;
}

std::string replaced(std::string_view text, std::string_view target, std::string_view replacement) {
    std::string out;
    std::size_t start = 0;
    for (std::size_t position; (position = text.find(target, start)) != std::string_view::npos;
         start = position + target.size()) {
        out.append(text.substr(start, position - start));
        out.append(replacement);
    }
    out.append(text.substr(start));
    return out;
}

bool isAllHiragana(std::string_view text) {
    const std::u32string scalars = text::toScalars(text);
    return std::all_of(scalars.begin(), scalars.end(), [](char32_t c) { return c >= 0x3041 && c <= 0x309F; });
}

// Keys visited longest first (in characters), equal lengths in ascending order.
const std::vector<std::string>& keysByLength() {
    static const std::vector<std::string> keys = [] {
        std::vector<std::pair<std::size_t, std::string>> sized;
        for (const auto& entry : GuardedSpanCorrector::homophoneReplacementTable().entries) {
            sized.emplace_back(text::graphemeCount(entry.first), entry.first);
        }
        std::sort(sized.begin(), sized.end(), [](const auto& a, const auto& b) {
            return a.first != b.first ? a.first > b.first : a.second < b.second;
        });
        std::vector<std::string> ordered;
        for (auto& [length, key] : sized) ordered.push_back(std::move(key));
        return ordered;
    }();
    return keys;
}

// The evidence a word gives for rewriting `wrongForm` in `maskedContext`, where the form's
// own occurrences are masked.
bool isEvidence(std::string_view maskedContext, std::string_view wrongForm, const std::string& word) {
    if (word.empty()) return false;
    if (wrongForm.empty() || !contains(word, wrongForm)) return contains(maskedContext, word);
    // The form plus a kana ending (開業した) or the form alone is the occurrence itself.
    if (isAllHiragana(replaced(word, wrongForm, ""))) return false;
    return contains(maskedContext, replaced(word, wrongForm, kMask));
}

}  // namespace

bool GuardedSpanCorrector::hasContextEvidence(std::string_view context, std::string_view wrongForm,
                                              const std::vector<std::string>& words) {
    const std::string masked = wrongForm.empty() ? std::string(context) : replaced(context, wrongForm, kMask);
    return std::any_of(words.begin(), words.end(),
                       [&](const std::string& word) { return isEvidence(masked, wrongForm, word); });
}

std::size_t GuardedSpanCorrector::contextEvidenceCount(std::string_view context, std::string_view wrongForm,
                                                       const std::vector<std::string>& words) {
    const std::string masked = wrongForm.empty() ? std::string(context) : replaced(context, wrongForm, kMask);
    return static_cast<std::size_t>(std::count_if(
        words.begin(), words.end(), [&](const std::string& word) { return isEvidence(masked, wrongForm, word); }));
}

std::vector<std::string> GuardedSpanCorrector::cohortAlternatives(std::string_view word) {
    std::vector<std::string> alternatives;
    std::unordered_set<std::string> seen{std::string(word)};
    if (const auto* candidates = homophoneReplacementTable().find(word)) {
        for (const HomophoneCandidate& candidate : *candidates) {
            if (seen.insert(candidate.form).second) alternatives.push_back(candidate.form);
        }
    }
    for (const std::vector<std::string>& cohort : homophoneCohorts()) {
        if (std::find(cohort.begin(), cohort.end(), word) == cohort.end()) continue;
        for (const std::string& member : cohort) {
            if (seen.insert(member).second) alternatives.push_back(member);
        }
    }
    return alternatives;
}

std::vector<JapaneseGroundedCandidate> GuardedSpanCorrector::generateCohortCandidates(
    std::string_view text, const std::optional<FocusedTextContext>& context,
    const std::set<std::string>& excludingSpans, int maxCandidates) {
    std::vector<JapaneseGroundedCandidate> emitted;
    if (text.empty() || maxCandidates <= 0) return emitted;
    const std::string fullContext = std::string(text) + " " + (context ? context->combinedContextText() : "");

    std::vector<std::pair<std::size_t, std::string>> found;
    const auto consider = [&](const std::string& form) {
        if (!excludingSpans.contains(form) && contains(text, form)) found.emplace_back(text::graphemeCount(form), form);
    };
    for (const auto& entry : homophoneReplacementTable().entries) consider(entry.first);
    for (const auto& cohort : homophoneCohorts()) {
        for (const std::string& member : cohort) consider(member);
    }
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first > b.first; });

    std::unordered_set<std::string> emittedPairs;
    for (const auto& [length, form] : found) {
        if (form == kKaigyou && JapaneseInputProcessor::isBusinessKaigyouContext(fullContext)) continue;
        const std::size_t formKanji = FaithfulFormattingGuard::kanjiCount(form);
        const auto* tableCandidates = homophoneReplacementTable().find(form);
        for (const std::string& alternative : cohortAlternatives(form)) {
            if (!FaithfulFormattingGuard::isSafeReplacement(form, alternative)) continue;
            if (FaithfulFormattingGuard::kanjiCount(alternative) < formKanji) continue;
            const std::string pair = form + "->" + alternative;
            if (emittedPairs.contains(pair)) continue;
            std::string rewritten = replaceAliasWithBoundary(text, form, alternative);
            if (rewritten == text) continue;

            double confidence = 0.76;
            if (tableCandidates != nullptr) {
                const auto listed = std::find_if(tableCandidates->begin(), tableCandidates->end(),
                                                 [&](const HomophoneCandidate& c) { return c.form == alternative; });
                if (listed != tableCandidates->end()) {
                    const std::size_t support = contextEvidenceCount(fullContext, form, listed->contextKeywords);
                    if (support >= 1) confidence = std::min(0.84 + 0.04 * static_cast<double>(support), 0.95);
                }
            }
            emitted.push_back({"cohort_" + std::to_string(emitted.size()), form, alternative, std::move(rewritten),
                               "MIRK-Cohort", 0, confidence});
            emittedPairs.insert(pair);
            if (emitted.size() >= static_cast<std::size_t>(maxCandidates)) return emitted;
        }
    }
    return emitted;
}

std::string GuardedSpanCorrector::occurrenceWindow(std::string_view text, text::TextRange matchRange) {
    const text::TextRange window =
        text::surroundingCharacters(text, matchRange, kWindowCharacters, kWindowCharacters);
    return std::string(text.substr(window.begin, window.length()));
}

bool GuardedSpanCorrector::isProtectedOccurrence(std::string_view text, text::TextRange matchRange,
                                                 std::string_view span) {
    const auto entry = protectedPhrases().find(std::string(span));
    if (entry == protectedPhrases().end() || entry->second.empty()) return false;
    const std::string window = occurrenceWindow(text, matchRange);
    return std::any_of(entry->second.begin(), entry->second.end(),
                       [&](const std::string& phrase) { return contains(window, phrase); });
}

bool GuardedSpanCorrector::shouldReplaceOccurrence(std::string_view text, text::TextRange matchRange,
                                                   std::string_view wrong, std::string_view candidate,
                                                   const std::vector<std::string>& contextKeywords,
                                                   std::string_view fullContext) {
    if (wrong == kKaigyou && JapaneseInputProcessor::isBusinessKaigyouContext(fullContext)) return false;
    if (isProtectedOccurrence(text, matchRange, wrong)) return false;
    const auto required = requiredPhrases().find(std::string(wrong) + "->" + std::string(candidate));
    if (required != requiredPhrases().end()) {
        const std::string window = occurrenceWindow(text, matchRange);
        const bool present = std::any_of(required->second.begin(), required->second.end(),
                                         [&](const std::string& phrase) { return contains(window, phrase); });
        if (!present) return false;
    }
    if (contextKeywords.empty()) return true;
    return hasContextEvidence(fullContext, wrong, contextKeywords);
}

GuardedSpanCorrector::Solution GuardedSpanCorrector::solveDeterministicHomophones(std::string_view text,
                                                                                 std::string_view fullContext) {
    Solution solution{std::string(text), {}};
    if (text.empty()) return solution;
    std::string& working = solution.text;
    std::unordered_set<std::string> appliedPairs;

    for (const std::string& key : keysByLength()) {
        if (!contains(working, key)) continue;
        if (key == kKaigyou && JapaneseInputProcessor::isBusinessKaigyouContext(fullContext)) continue;
        for (const HomophoneCandidate& candidate : *homophoneReplacementTable().find(key)) {
            // Two forms never flip back and forth within one call.
            if (appliedPairs.contains(candidate.form + "->" + key)) continue;
            bool applied = false;
            if (isBrandVariant(key)) {
                if (hasContextEvidence(fullContext, key, candidate.contextKeywords)) {
                    std::string rewritten = replaceAliasWithBoundary(working, key, candidate.form);
                    applied = rewritten != working;
                    working = std::move(rewritten);
                }
            } else {
                std::vector<std::size_t> occurrences;
                for (std::size_t position = working.find(key); position != std::string::npos;
                     position = working.find(key, position + key.size())) {
                    occurrences.push_back(position);
                }
                // Last to first, so that earlier ranges stay valid.
                for (auto it = occurrences.rbegin(); it != occurrences.rend(); ++it) {
                    const text::TextRange range{*it, *it + key.size()};
                    if (!shouldReplaceOccurrence(working, range, key, candidate.form, candidate.contextKeywords,
                                                 fullContext))
                        continue;
                    working.replace(*it, key.size(), candidate.form);
                    applied = true;
                }
            }
            if (applied) {
                appliedPairs.insert(key + "->" + candidate.form);
                solution.annotations.push_back("同音異義語補正: " + key + " → " + candidate.form);
                break;
            }
        }
    }
    return solution;
}

}  // namespace pelora
