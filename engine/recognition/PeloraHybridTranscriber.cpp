#include "engine/recognition/PeloraHybridTranscriber.h"

#include <algorithm>
#include <chrono>
#include <future>

#include "engine/recognition/AudioDecoder.h"
#include "engine/recognition/DefaultTranscriptionStages.h"
#include "engine/recognition/JapaneseSpeechAssets.h"
#include "engine/recognition/PeloraVoiceError.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {

constexpr double kSampleRate = 16000;
constexpr std::int64_t kWindowSamples = 320000;
constexpr double kTokenFrameSeconds = 0.04;
constexpr const char* kJapaneseOnlySource = "JA-ANE";
constexpr const char* kHybridSource = "EG2+JA";

// Seconds on a monotonic clock; only differences are used.
double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::vector<std::string> concatenated(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

PeloraHybridTranscriber::PeloraHybridTranscriber(const std::optional<std::filesystem::path>& eg2Folder)
    : stages_(makeDefaultTranscriptionStages(eg2Folder)) {}

PeloraHybridTranscriber::PeloraHybridTranscriber(TranscriptionStages stages) : stages_(std::move(stages)) {}

std::string PeloraHybridTranscriber::ensureJapaneseSpeechAssets(
    const std::function<void(const std::string&)>& onProgress, const speech::AssetProgressCallback& onDownloadProgress) {
    return JapaneseSpeechAssets::ensureJapaneseSpeechAssets(onProgress, onDownloadProgress);
}

TranscriptionResult PeloraHybridTranscriber::transcribeSamples(
    std::span<const float> samples, const std::optional<std::filesystem::path>& /*audioFileURL*/, EngineMode mode,
    const JapaneseInputOptions& options, const std::vector<CustomVocabularyEntry>& customVocabulary,
    const std::optional<FocusedTextContext>& focusedContext, std::optional<bool> enableHomophoneReranking,
    const RecognitionProgress& onRecognitionProgress) const {
    if (samples.empty()) {
        TranscriptionResult empty;
        empty.engineMode = mode;
        return empty;
    }
    const double t0 = now();
    const bool rerank = enableHomophoneReranking.value_or(options.enableHomophoneReranking);
    switch (mode) {
        case EngineMode::pureEG2English: return transcribePureEG2(samples, t0);
        case EngineMode::appleSpeechJa:
            return transcribeAppleSpeech(samples, t0, options, customVocabulary, focusedContext, rerank,
                                         onRecognitionProgress);
        case EngineMode::hybridJaEn:
            return transcribeHybrid(samples, t0, options, customVocabulary, focusedContext, rerank,
                                    onRecognitionProgress);
    }
    throw std::logic_error("unknown engine mode");
}

TranscriptionResult PeloraHybridTranscriber::transcribeFile(const std::filesystem::path& url, EngineMode mode,
                                                            const JapaneseInputOptions& options,
                                                            const std::vector<CustomVocabularyEntry>& customVocabulary,
                                                            const std::optional<FocusedTextContext>& focusedContext,
                                                            std::optional<bool> enableHomophoneReranking) const {
    std::vector<float> samples = AudioDecoder::decode16kMono(url, nullptr);
    return transcribeSamples(samples, url, mode, options, customVocabulary, focusedContext, enableHomophoneReranking);
}

TranscriptionResult PeloraHybridTranscriber::transcribePureEG2(std::span<const float> samples, double t0) const {
    if (!stages_.eg2) throw PeloraVoiceError::modelsNotFound(missingModelsPayload);
    EG2CoreMLOutput out = stages_.eg2->runCoreMLPipeline(samples);
    const double t1 = now();

    TranscriptionResult r;
    r.engineMode = EngineMode::pureEG2English;
    r.text = out.text;
    r.eg2DirectText = out.text;
    for (std::size_t i = 0; i < out.words.size(); ++i) {
        if (i > 0) r.rawText += ' ';
        r.rawText += out.words[i].rawText;
    }
    r.words = out.words;
    r.pauseTimestamps = out.pauseTimestamps;

    EG2Telemetry& t = r.telemetry;
    t.audioDurationSeconds = static_cast<double>(samples.size()) / kSampleRate;
    t.totalProcessingMs = (t1 - t0) * 1000;
    t.logMelMs = out.logMelMs;
    t.encoderL11Ms = out.encoderL11Ms;
    t.readerP6Ms = out.readerP6Ms;
    t.scorerAndRerankMs = out.scorerAndRerankMs;
    t.windowCount = out.windowCount;
    t.activeFrameCount = out.activeFrameCount;
    t.pauseSegmentCount = static_cast<std::int64_t>(out.pauseTimestamps.size());
    for (const TranscribedWord& term : out.highConfidenceTerms) t.detectedEnglishEmbeddingTerms.push_back(term.text);
    t.appliedRuleAnnotations = {pureEG2RuleAnnotation};
    return r;
}

TranscriptionResult PeloraHybridTranscriber::transcribeAppleSpeech(
    std::span<const float> samples, double t0, const JapaneseInputOptions& options,
    const std::vector<CustomVocabularyEntry>& customVocabulary, const std::optional<FocusedTextContext>& focusedContext,
    bool rerank, const RecognitionProgress& onProgress) const {
    const double n = static_cast<double>(samples.size());
    const double a0 = now();
    JapaneseSpeechTranscript speech =
        stages_.speech->transcribeWithSpeechAnalyzer(samples, kJapaneseOnlySource, onProgress);
    const double a1 = now();
    const double p0 = now();

    CorrectedText reranked = rerank ? stages_.reranker->rerank(speech.text, {}, customVocabulary, focusedContext)
                                    : CorrectedText{speech.text, {}};
    CorrectedText processed = stages_.inputProcessor->process(reranked.first, options, 0);
    std::vector<TranscribedWord> words =
        stages_.segmenter->segment(processed.first, speech.runs, {}, n / kSampleRate, kJapaneseOnlySource);
    std::vector<double> pauses = stages_.segmenter->detectPauseBoundaries(words, {});
    const double p1 = now();
    const double t1 = now();

    TranscriptionResult r;
    r.engineMode = EngineMode::appleSpeechJa;
    r.text = processed.first;
    r.rawText = speech.text;
    r.words = std::move(words);
    r.pauseTimestamps = std::move(pauses);

    EG2Telemetry& t = r.telemetry;
    t.audioDurationSeconds = n / kSampleRate;
    t.totalProcessingMs = (t1 - t0) * 1000;
    t.japaneseDecodeMs = (a1 - a0) * 1000;
    t.postProcessingMs = (p1 - p0) * 1000;
    t.windowCount = (static_cast<std::int64_t>(samples.size()) + kWindowSamples - 1) / kWindowSamples;
    t.activeFrameCount = static_cast<std::int64_t>((n / kSampleRate) / kTokenFrameSeconds);
    t.pauseSegmentCount = static_cast<std::int64_t>(r.pauseTimestamps.size());
    t.appliedRuleAnnotations = concatenated(reranked.second, processed.second);
    return r;
}

TranscriptionResult PeloraHybridTranscriber::transcribeHybrid(
    std::span<const float> samples, double t0, const JapaneseInputOptions& options,
    const std::vector<CustomVocabularyEntry>& customVocabulary, const std::optional<FocusedTextContext>& focusedContext,
    bool rerank, const RecognitionProgress& onProgress) const {
    const double n = static_cast<double>(samples.size());

    // EG2 runs beside the recogniser. Its failure only means "no EG2 output"; it is
    // always awaited before this call returns, also when the recogniser throws.
    EG2Pipeline* eg2 = stages_.eg2.get();
    std::future<std::optional<EG2CoreMLOutput>> eg2Run =
        std::async(std::launch::async, [eg2, samples]() -> std::optional<EG2CoreMLOutput> {
            if (!eg2) return std::nullopt;
            try {
                return eg2->runCoreMLPipeline(samples);
            } catch (...) {
                return std::nullopt;  // the hybrid mode carries on without EG2
            }
        });

    const double a0 = now();
    JapaneseSpeechTranscript speech;
    try {
        speech = stages_.speech->transcribeWithSpeechAnalyzer(samples, kHybridSource, onProgress);
    } catch (...) {
        eg2Run.wait();
        throw;
    }
    const double a1 = now();
    std::optional<EG2CoreMLOutput> out = eg2Run.get();
    const double p0 = now();

    std::vector<TranscribedWord> eg2Terms = out ? out->highConfidenceTerms : std::vector<TranscribedWord>{};
    std::vector<double> eg2Pauses = out ? out->pauseTimestamps : std::vector<double>{};

    std::string base = speech.text;
    bool usedEG2Text = false;
    if (text::trimWhitespaceAndNewlines(speech.text).empty() && out && !out->text.empty()) {
        base = out->text;
        usedEG2Text = true;
    }

    CorrectedText reranked =
        rerank ? stages_.reranker->rerank(base, eg2Terms, customVocabulary, focusedContext) : CorrectedText{base, {}};
    CorrectedText processed = stages_.inputProcessor->process(reranked.first, options, 0);

    std::vector<TranscribedWord> words;
    if (usedEG2Text && !out->words.empty()) {
        words = out->words;
    } else if (!processed.first.empty()) {
        words = stages_.segmenter->segment(processed.first, speech.runs, eg2Pauses, n / kSampleRate, kHybridSource);
    }
    std::vector<double> pauses = stages_.segmenter->detectPauseBoundaries(words, eg2Pauses);
    const double p1 = now();
    const double t1 = now();

    std::vector<std::string> terms;
    for (const TranscribedWord& term : eg2Terms) terms.push_back(term.text);
    std::sort(terms.begin(), terms.end());  // byte order of UTF-8 is scalar-value order
    terms.erase(std::unique(terms.begin(), terms.end()), terms.end());

    TranscriptionResult r;
    r.engineMode = EngineMode::hybridJaEn;
    r.text = processed.first;
    r.rawText = speech.text;
    r.eg2DirectText = out ? out->text : std::string();
    r.words = std::move(words);
    r.pauseTimestamps = std::move(pauses);

    EG2Telemetry& t = r.telemetry;
    t.audioDurationSeconds = n / kSampleRate;
    t.totalProcessingMs = (t1 - t0) * 1000;
    if (out) {
        t.logMelMs = out->logMelMs;
        t.encoderL11Ms = out->encoderL11Ms;
        t.readerP6Ms = out->readerP6Ms;
        t.scorerAndRerankMs = out->scorerAndRerankMs;
    }
    t.japaneseDecodeMs = (a1 - a0) * 1000;
    t.postProcessingMs = (p1 - p0) * 1000;
    t.windowCount = out ? out->windowCount : 1;
    t.activeFrameCount = out ? out->activeFrameCount : 0;
    t.pauseSegmentCount = static_cast<std::int64_t>(r.pauseTimestamps.size());
    t.detectedEnglishEmbeddingTerms = std::move(terms);
    t.appliedRuleAnnotations = concatenated(reranked.second, processed.second);
    return r;
}

}  // namespace pelora
