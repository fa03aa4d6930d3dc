#include "engine/recognition/SpeechAnalyzerTranscription.h"

#include <cmath>
#include <exception>
#include <future>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "engine/recognition/JapaneseSpeechAssets.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {

struct CollectedResults {
    std::vector<std::string> texts;
    std::vector<TranscribedWord> words;
};

// A start time that is not a finite, non-negative number counts as 0; a duration that
// is not a finite, positive number counts as 0.
double sanitizedStart(double start) { return std::isfinite(start) && start >= 0 ? start : 0; }
double sanitizedDuration(double duration) { return std::isfinite(duration) && duration > 0 ? duration : 0; }

// Final results only, in order; an empty result is skipped. Each run with visible text
// becomes a word with its untrimmed piece, its confidence (1 without one) and its own
// time range when that has a usable start, else the result's. A result whose runs give
// no word becomes one word of its whole text.
CollectedResults collectResults(speech::ResultSequence& results, const std::string& source, std::stop_token stop) {
    CollectedResults collected;
    while (std::optional<speech::SpeechTranscriptionResult> result = results.next(stop)) {
        if (!result->isFinal) continue;
        std::string text = result->text();
        if (text.empty()) continue;

        const double start = sanitizedStart(result->range.start);
        const double end = start + sanitizedDuration(result->range.duration);

        std::vector<TranscribedWord> runWords;
        for (const speech::TranscriptionRun& run : result->runs) {
            if (text::trimWhitespaceAndNewlines(run.text).empty()) continue;
            const float confidence = run.confidence.value_or(1.0f);
            double runStart = start;
            double runEnd = end;
            if (run.audioTimeRange && std::isfinite(run.audioTimeRange->start) && run.audioTimeRange->start >= 0) {
                runStart = run.audioTimeRange->start;
                runEnd = std::max(runStart + sanitizedDuration(run.audioTimeRange->duration), runStart);
            }
            runWords.emplace_back(run.text, run.text, runStart, runEnd, confidence, source);
        }
        if (runWords.empty()) {
            collected.words.emplace_back(text, text, start, std::max(start, end), 1.0f, source);
        } else {
            collected.words.insert(collected.words.end(), runWords.begin(), runWords.end());
        }
        collected.texts.push_back(std::move(text));
    }
    return collected;
}

}  // namespace

SpeechAnalyzerTranscription::SpeechAnalyzerTranscription()
    : SpeechAnalyzerTranscription(JapaneseSpeechAssets::sharedRecognition()) {}

SpeechAnalyzerTranscription::SpeechAnalyzerTranscription(std::shared_ptr<speech::SpeechRecognition> recognition)
    : recognition_(std::move(recognition)) {}

JapaneseSpeechTranscript SpeechAnalyzerTranscription::transcribeWithSpeechAnalyzer(std::span<const float> samples,
                                                                                   std::string_view source) {
    return transcribeWithSpeechAnalyzer(samples, source, {});
}

JapaneseSpeechTranscript SpeechAnalyzerTranscription::transcribeWithSpeechAnalyzer(
    std::span<const float> samples, std::string_view source, const RecognitionProgress& onProgress) {
    const std::string locale = JapaneseSpeechAssets::ensureJapaneseSpeechAssets(*recognition_, {});
    // The samples go to the recogniser in memory: no temporary file can outlive an
    // interrupted run, and no second copy of the audio is written and read back.
    const std::unique_ptr<speech::AudioInputFile> input = recognition_->openSamples(samples);

    // Declared before the collector, so the collector is stopped and joined before the
    // analyser (which owns the results it reads) goes away, on every path.
    std::unique_ptr<speech::SpeechAnalyzer> analyzer;
    std::future<CollectedResults> collected;
    std::jthread collector;
    try {
        analyzer = recognition_->makeAnalyzer(locale);
        if (onProgress) analyzer->setProgressHandler(onProgress);
        std::packaged_task<CollectedResults(std::stop_token)> task(
            [&results = analyzer->results(), label = std::string(source)](std::stop_token stop) {
                return collectResults(results, label, stop);
            });
        collected = task.get_future();
        collector = std::jthread(std::move(task));

        analyzer->start(*input, /*finishAfterFile=*/true);
    } catch (...) {
        // The collection would otherwise wait for results that never come.
        collector.request_stop();
        if (collector.joinable()) collector.join();
        throw;
    }

    CollectedResults results = collected.get();

    JapaneseSpeechTranscript transcript;
    for (const std::string& text : results.texts) transcript.text += text;
    transcript.runs = std::move(results.words);
    return transcript;
}

}  // namespace pelora
