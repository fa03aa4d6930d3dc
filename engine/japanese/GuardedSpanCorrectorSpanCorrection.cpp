// Span correction of GuardedSpanCorrector: one suspicious span, its own suggestion, the
// replacement table, then the on-device language model raced against the budget.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "engine/japanese/FaithfulFormattingGuard.h"
#include "engine/japanese/GuardedSpanCorrector.h"
#include "engine/japanese/JapaneseInputProcessor.h"
#include "engine/japanese/SoundAlikeReading.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {

constexpr double minimumSuggestionConfidence = 0.82;
constexpr double minimumModelConfidence = 0.65;
constexpr double modelAnswerConfidence = 0.86;
constexpr int modelNeedsMs = 60;
constexpr std::size_t maxExtraAnswerCharacters = 4;
constexpr std::size_t promptContextCharacters = 120;

bool containsAny(std::string_view haystack, const std::vector<std::string>& needles) {
    return std::any_of(needles.begin(), needles.end(),
                       [&](const std::string& needle) { return haystack.find(needle) != std::string_view::npos; });
}

std::size_t countContained(std::string_view haystack, const std::vector<std::string>& needles) {
    return static_cast<std::size_t>(std::count_if(needles.begin(), needles.end(), [&](const std::string& needle) {
        return haystack.find(needle) != std::string_view::npos;
    }));
}

std::string firstCharacters(std::string_view s, std::size_t count) {
    const std::vector<std::string> characters = text::graphemes(s);
    std::string out;
    for (std::size_t i = 0; i < std::min(count, characters.size()); ++i) out += characters[i];
    return out;
}

std::string replaced(std::string_view text, text::TextRange range, std::string_view replacement) {
    std::string out(text.substr(0, range.begin));
    out += replacement;
    out += text.substr(range.end);
    return out;
}

// The model's answer without surrounding blanks and without any 「 」.
std::string cleanedAnswer(std::string_view content) {
    std::string answer = text::trimWhitespaceAndNewlines(content);
    answer = text::replaceAllLiteral(answer, "「", "");
    return text::replaceAllLiteral(answer, "」", "");
}

// Asks `model` and waits at most `timeoutMs` for an answer that fits; the model's worker
// is told to stop and is joined before this returns, so nothing outlives the call.
std::optional<std::string> raceModel(const OnDeviceLanguageModel& model, const std::string& prompt,
                                     std::size_t spanCharacters, int timeoutMs, std::stop_token stop) {
    std::mutex mutex;
    std::condition_variable changed;
    bool finished = false;
    bool cancelled = false;
    std::optional<std::string> answer;

    std::jthread worker([&](std::stop_token workerStop) {
        std::optional<std::string> result;
        try {
            std::string content = cleanedAnswer(model.respond(prompt, workerStop));
            if (!content.empty() && text::graphemeCount(content) <= spanCharacters + maxExtraAnswerCharacters)
                result = std::move(content);
        } catch (...) {
            // A failed generation is no answer; the span stays as it is.
        }
        std::lock_guard lock(mutex);
        finished = true;
        answer = std::move(result);
        changed.notify_all();
    });

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::optional<std::string> winner;
    {
        // Registered before the lock is taken: an already requested stop runs the callback at once.
        std::stop_callback onCancel(stop, [&] {
            std::lock_guard lock(mutex);
            cancelled = true;
            changed.notify_all();
        });
        std::unique_lock lock(mutex);
        changed.wait_until(lock, deadline, [&] { return finished || cancelled; });
        if (finished && !cancelled) winner = answer;
    }
    worker.request_stop();
    worker.join();
    return winner;
}

}  // namespace

GuardedSpanCorrector::GuardedSpanCorrector() : GuardedSpanCorrector(OnDeviceLanguageModel::systemDefault()) {}

GuardedSpanCorrector::GuardedSpanCorrector(std::shared_ptr<const OnDeviceLanguageModel> languageModel)
    : languageModel_(languageModel ? std::move(languageModel) : OnDeviceLanguageModel::systemDefault()) {}

bool GuardedSpanCorrector::isOnDeviceFoundationModelAvailable() {
    return OnDeviceLanguageModel::systemDefault()->availability() == OnDeviceLanguageModel::Availability::available;
}

SpanCorrectionOutcome GuardedSpanCorrector::correctSpan(std::string_view text, const MirkSpanSuspicion& suspicion,
                                                        const std::optional<FocusedTextContext>& context,
                                                        bool allowOnDeviceLLM, int timeoutMs,
                                                        std::stop_token stop) const {
    if (stop.stop_requested()) return SpanCorrectionOutcome::unchanged();
    const std::optional<text::TextRange> found = suspicion.resolveRange(text);
    if (!found) return SpanCorrectionOutcome::unchanged();
    const text::TextRange range = *found;
    const std::string span(text.substr(range.begin, range.length()));

    std::string fullContext(text);
    fullContext += " ";
    if (context) fullContext += context->combinedContextText();

    if (span == "開業" && JapaneseInputProcessor::isBusinessKaigyouContext(fullContext))
        return SpanCorrectionOutcome::unchanged();
    if (isProtectedOccurrence(text, range, span)) return SpanCorrectionOutcome::unchanged();

    // The two guards above hold for the whole call; what remains depends on the replacement.
    const auto requiredPhrasesPresent = [&](const std::string& replacement) {
        const auto entry = requiredPhrases().find(span + "->" + replacement);
        return entry == requiredPhrases().end() || containsAny(occurrenceWindow(text, range), entry->second);
    };
    const std::vector<HomophoneCandidate>* tableCandidates = homophoneReplacementTable().find(span);
    const std::size_t spanKanji = FaithfulFormattingGuard::kanjiCount(span);

    // 1. The suspicion's own suggestion.
    if (suspicion.suggestedReplacement && !suspicion.suggestedReplacement->empty() &&
        *suspicion.suggestedReplacement != span && suspicion.confidence >= minimumSuggestionConfidence) {
        const std::string& suggestion = *suspicion.suggestedReplacement;
        bool keywordsHold = true;
        if (tableCandidates) {
            for (const HomophoneCandidate& candidate : *tableCandidates) {
                if (candidate.form == suggestion) {
                    keywordsHold = containsAny(fullContext, candidate.contextKeywords);
                    break;
                }
            }
        }
        if (FaithfulFormattingGuard::isSafeReplacement(span, suggestion) &&
            FaithfulFormattingGuard::kanjiCount(suggestion) >= spanKanji && requiredPhrasesPresent(suggestion) &&
            keywordsHold) {
            return SpanCorrectionOutcome::fixed(replaced(text, range, suggestion), suggestion, suspicion.confidence);
        }
    }

    // 2. The replacement table, by the keywords found in the context.
    if (tableCandidates) {
        for (const HomophoneCandidate& candidate : *tableCandidates) {
            const std::size_t supporting = countContained(fullContext, candidate.contextKeywords);
            if (supporting == 0) continue;
            if (!requiredPhrasesPresent(candidate.form)) continue;
            if (!FaithfulFormattingGuard::isSafeReplacement(span, candidate.form)) continue;
            const double confidence =
                std::min(std::max(suspicion.confidence, 0.84 + 0.04 * static_cast<double>(supporting)), 0.99);
            return SpanCorrectionOutcome::fixed(replaced(text, range, candidate.form), candidate.form, confidence);
        }
    }

    // 3. The on-device language model.
    if (!allowOnDeviceLLM || stop.stop_requested() || timeoutMs < modelNeedsMs ||
        suspicion.confidence < minimumModelConfidence)
        return SpanCorrectionOutcome::unchanged();
    if (stop.stop_requested() || languageModel_->availability() != OnDeviceLanguageModel::Availability::available)
        return SpanCorrectionOutcome::unchanged();

    const std::string reading = SoundAlikeReading::hiragana(span);
    std::string prompt = "あなたは日本語音声入力の同音異義語・誤変換補正エンジンです。\n以下の文に含まれる「" + span +
                         "」（読み: " + reading +
                         "）を、文脈に最も適した同じ読みの漢字表記1語のみに修正してください。\n"
                         "余計な説明や鉤括弧は一切出力せず、置換後の語句のみを1行で出力してください。修正不要なら「" +
                         span + "」とだけ出力してください。\n\n全文: " + std::string(text) + "\n対象箇所: " + span;
    if (suspicion.reason && !suspicion.reason->empty()) prompt += "\n理由ヒント: " + *suspicion.reason;
    if (context) {
        const std::string combined = context->combinedContextText();
        if (!combined.empty()) prompt += "\n周辺テキスト文脈: " + firstCharacters(combined, promptContextCharacters);
    }

    const std::optional<std::string> answer =
        raceModel(*languageModel_, prompt, text::graphemeCount(span), timeoutMs, stop);
    if (!answer || *answer == span) return SpanCorrectionOutcome::unchanged();
    if (!FaithfulFormattingGuard::isSafeReplacement(span, *answer) ||
        FaithfulFormattingGuard::kanjiCount(*answer) < spanKanji || !requiredPhrasesPresent(*answer))
        return SpanCorrectionOutcome::unchanged();
    return SpanCorrectionOutcome::fixed(replaced(text, range, *answer), *answer,
                                        std::max(suspicion.confidence, modelAnswerConfidence));
}

}  // namespace pelora
