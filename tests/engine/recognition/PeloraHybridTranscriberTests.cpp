#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <chrono>
#include <thread>

#include "engine/recognition/PeloraHybridTranscriber.h"
#include "engine/recognition/PeloraVoiceError.h"

namespace pelora {
namespace {

TranscribedWord word(std::string text, double start, double end, std::string source = "EG2+JA") {
    return TranscribedWord(std::move(text), std::nullopt, start, end, 0.9f, std::move(source));
}

// ---- scripted stages ----

struct FakeEG2 : EG2Pipeline {
    std::optional<EG2CoreMLOutput> output;  // nullopt: throw
    std::atomic<int>* runs = nullptr;
    std::atomic<bool>* finished = nullptr;
    std::chrono::milliseconds delay{0};
    EG2CoreMLOutput runCoreMLPipeline(std::span<const float>) override {
        if (runs) ++*runs;
        std::this_thread::sleep_for(delay);
        if (finished) *finished = true;
        if (!output) throw PeloraVoiceError::coreMLPredictionFailed("scripted");
        return *output;
    }
};

struct FakeSpeech : JapaneseSpeechRecognizer {
    JapaneseSpeechTranscript transcript;
    bool fail = false;
    std::mutex mutex;
    std::string lastSource;
    JapaneseSpeechTranscript transcribeWithSpeechAnalyzer(std::span<const float>, std::string_view source) override {
        {
            std::lock_guard lock(mutex);
            lastSource = source;
        }
        if (fail) throw PeloraVoiceError::invalidModelAsset("speech failed");
        JapaneseSpeechTranscript t = transcript;
        for (auto& run : t.runs) run.source = source;
        return t;
    }
    // Tells these fractions on the way, when asked to.
    std::vector<double> progress;
    JapaneseSpeechTranscript transcribeWithSpeechAnalyzer(std::span<const float> samples, std::string_view source,
                                                          const RecognitionProgress& onProgress) override {
        if (onProgress)
            for (double fraction : progress) onProgress(fraction);
        return transcribeWithSpeechAnalyzer(samples, source);
    }
};

// Marks what it did so the order of stages shows in the result.
struct FakeReranker : HomophoneReranking {
    mutable std::mutex mutex;
    mutable std::vector<std::string> seenTerms;
    CorrectedText rerank(std::string_view text, const std::vector<TranscribedWord>& terms,
                         const std::vector<CustomVocabularyEntry>&, const std::optional<FocusedTextContext>&) const override {
        std::lock_guard lock(mutex);
        seenTerms.clear();
        for (const auto& t : terms) seenTerms.push_back(t.text);
        return {std::string(text) + "[R]", {"rerank-note"}};
    }
};

struct FakeProcessor : JapanesePostProcessing {
    CorrectedText process(std::string_view text, const JapaneseInputOptions&, int) const override {
        if (text.starts_with("<drop>")) return {"", {}};
        return {std::string(text) + "[P]", {"post-rule"}};
    }
};

struct FakeSegmenter : TimelineSegmentation {
    mutable std::mutex mutex;
    mutable double lastDuration = -1;
    mutable std::vector<double> lastPauses;
    std::vector<TranscribedWord> segment(std::string_view finalText, const std::vector<TranscribedWord>&,
                                         const std::vector<double>& pauses, double totalDuration,
                                         std::string_view source) const override {
        std::lock_guard lock(mutex);
        lastDuration = totalDuration;
        lastPauses = pauses;
        return {word(std::string(finalText), 0, totalDuration, std::string(source))};
    }
    std::vector<double> detectPauseBoundaries(const std::vector<TranscribedWord>& words,
                                              const std::vector<double>& explicitPauses) const override {
        std::vector<double> out = explicitPauses;
        if (!words.empty()) out.push_back(words.back().end);
        return out;
    }
};

EG2CoreMLOutput eg2Output() {
    EG2CoreMLOutput o;
    o.text = "API GPU.";
    o.words = {TranscribedWord("API", std::string("api"), 0.1, 0.4, 3, "EG2"),
               TranscribedWord("GPU.", std::string("gpu"), 0.5, 0.9, 3, "EG2")};
    o.pauseTimestamps = {0.45};
    o.highConfidenceTerms = {word("API", 0, 1), word("GPU", 0, 1), word("API", 1, 2)};
    o.logMelMs = 1;
    o.encoderL11Ms = 2;
    o.readerP6Ms = 3;
    o.scorerAndRerankMs = 4;
    o.windowCount = 2;
    o.activeFrameCount = 17;
    return o;
}

struct Scenario {
    std::optional<std::optional<EG2CoreMLOutput>> eg2;  // outer nullopt: no pipeline; inner nullopt: pipeline throws
    std::string speechText = "きょうは";
    bool speechFails = false;
};

struct Harness {
    std::shared_ptr<FakeSpeech> speech = std::make_shared<FakeSpeech>();
    std::shared_ptr<FakeReranker> reranker = std::make_shared<FakeReranker>();
    std::shared_ptr<FakeSegmenter> segmenter = std::make_shared<FakeSegmenter>();
    std::unique_ptr<PeloraHybridTranscriber> transcriber;

    explicit Harness(const Scenario& s) {
        TranscriptionStages stages;
        if (s.eg2) {
            auto eg2 = std::make_unique<FakeEG2>();
            eg2->output = *s.eg2;
            stages.eg2 = std::move(eg2);
        }
        speech->transcript = {s.speechText, {word(s.speechText, 0.2, 0.8)}};
        speech->fail = s.speechFails;
        stages.speech = speech;
        stages.reranker = reranker;
        stages.inputProcessor = std::make_shared<FakeProcessor>();
        stages.segmenter = segmenter;
        transcriber = std::make_unique<PeloraHybridTranscriber>(std::move(stages));
    }

    TranscriptionResult run(EngineMode mode, std::size_t sampleCount = 16000, std::optional<bool> rerank = std::nullopt,
                            bool optionRerank = true) {
        std::vector<float> samples(sampleCount, 0.1f);
        JapaneseInputOptions options;
        options.enableHomophoneReranking = optionRerank;
        return transcriber->transcribeSamples(samples, std::nullopt, mode, options, {}, std::nullopt, rerank);
    }
};

TEST(HybridTranscriberTest, EmptySamplesGiveAnEmptyResultInEveryMode) {
    for (EngineMode mode : engine_mode::allCases) {
        Harness h(Scenario{});  // no EG2 pipeline at all
        TranscriptionResult r = h.run(mode, 0);
        TranscriptionResult expected;
        expected.engineMode = mode;
        EXPECT_EQ(r, expected) << engine_mode::rawValue(mode);
        EXPECT_EQ(r.telemetry.windowCount, 0);
    }
}

TEST(HybridTranscriberTest, PureEG2Mode) {
    {
        Harness h(Scenario{});
        try {
            h.run(EngineMode::pureEG2English);
            FAIL() << "expected modelsNotFound";
        } catch (const PeloraVoiceError& e) {
            EXPECT_EQ(e.errorCase(), PeloraVoiceError::Case::modelsNotFound);
            EXPECT_STREQ(e.what(), "EG2モデルが見つかりません: ~/.local/share/ai.mosvik.eg2demo/models");
        }
    }
    {
        Harness h(Scenario{.eg2 = std::optional<EG2CoreMLOutput>()});
        EXPECT_THROW(h.run(EngineMode::pureEG2English), PeloraVoiceError);
    }
    Harness h(Scenario{.eg2 = eg2Output()});
    TranscriptionResult r = h.run(EngineMode::pureEG2English, 32000);
    EXPECT_EQ(r.text, "API GPU.");
    EXPECT_EQ(r.eg2DirectText, "API GPU.");
    EXPECT_EQ(r.rawText, "api gpu");
    EXPECT_EQ(r.words, eg2Output().words);
    EXPECT_EQ(r.pauseTimestamps, std::vector<double>{0.45});
    const EG2Telemetry& t = r.telemetry;
    EXPECT_EQ(t.audioDurationSeconds, 2);
    EXPECT_EQ(t.logMelMs, 1);
    EXPECT_EQ(t.scorerAndRerankMs, 4);
    EXPECT_EQ(t.japaneseDecodeMs, 0);
    EXPECT_EQ(t.postProcessingMs, 0);
    EXPECT_EQ(t.windowCount, 2);
    EXPECT_EQ(t.activeFrameCount, 17);
    EXPECT_EQ(t.pauseSegmentCount, 1);
    EXPECT_EQ(t.detectedEnglishEmbeddingTerms, (std::vector<std::string>{"API", "GPU", "API"}));
    EXPECT_EQ(t.appliedRuleAnnotations,
              std::vector<std::string>{"HeadOnlyPunct (punct_headonly.mlmodelc + punct_case.json)"});
    EXPECT_TRUE(h.speech->lastSource.empty()) << "the recogniser must not run";
}

TEST(HybridTranscriberTest, AppleSpeechModeCounts) {
    struct Case {
        std::size_t samples;
        std::int64_t windows;
        std::int64_t frames;
    };
    const Case cases[] = {
        {16000, 1, 25},
        {16001, 1, 25},
        {320000, 1, 500},
        {320001, 2, 500},
    };
    for (const Case& c : cases) {
        Harness h(Scenario{.eg2 = eg2Output()});
        TranscriptionResult r = h.run(EngineMode::appleSpeechJa, c.samples);
        EXPECT_EQ(r.telemetry.windowCount, c.windows) << c.samples;
        EXPECT_EQ(r.telemetry.activeFrameCount, c.frames) << c.samples;
    }
}

TEST(HybridTranscriberTest, AppleSpeechModeResult) {
    Harness h(Scenario{.eg2 = eg2Output()});
    TranscriptionResult r = h.run(EngineMode::appleSpeechJa, 24000);
    EXPECT_EQ(h.speech->lastSource, "JA-ANE");
    EXPECT_EQ(r.rawText, "きょうは");
    EXPECT_EQ(r.text, "きょうは[R][P]");
    EXPECT_EQ(r.eg2DirectText, "");
    EXPECT_TRUE(h.reranker->seenTerms.empty()) << "no EG2 terms in the Japanese-only mode";
    ASSERT_EQ(r.words.size(), 1u);
    EXPECT_EQ(r.words[0].source, "JA-ANE");
    EXPECT_EQ(h.segmenter->lastDuration, 1.5);
    EXPECT_TRUE(h.segmenter->lastPauses.empty());
    EXPECT_EQ(r.pauseTimestamps, std::vector<double>{1.5});
    EXPECT_EQ(r.telemetry.pauseSegmentCount, 1);
    EXPECT_EQ(r.telemetry.logMelMs, 0);
    EXPECT_TRUE(r.telemetry.detectedEnglishEmbeddingTerms.empty());
    EXPECT_EQ(r.telemetry.appliedRuleAnnotations, (std::vector<std::string>{"rerank-note", "post-rule"}));
    EXPECT_GE(r.telemetry.totalProcessingMs, r.telemetry.japaneseDecodeMs);
}

TEST(HybridTranscriberTest, HomophoneSwitch) {
    struct Case {
        std::optional<bool> argument;
        bool option;
        bool reranks;
    };
    const Case cases[] = {
        {false, true, false},
        {true, false, true},
        {std::nullopt, true, true},
        {std::nullopt, false, false},
    };
    for (const Case& c : cases) {
        for (EngineMode mode : {EngineMode::appleSpeechJa, EngineMode::hybridJaEn}) {
            Harness h(Scenario{});
            TranscriptionResult r = h.run(mode, 16000, c.argument, c.option);
            EXPECT_EQ(r.text, c.reranks ? "きょうは[R][P]" : "きょうは[P]") << engine_mode::rawValue(mode);
            std::vector<std::string> notes = c.reranks ? std::vector<std::string>{"rerank-note", "post-rule"}
                                                       : std::vector<std::string>{"post-rule"};
            EXPECT_EQ(r.telemetry.appliedRuleAnnotations, notes);
        }
    }
}

TEST(HybridTranscriberTest, HybridModeTable) {
    struct Case {
        const char* name;
        Scenario setup;
        std::string text, rawText, eg2DirectText;
        std::vector<std::string> wordTexts;
        std::vector<double> pauses;
        std::int64_t windows, frames;
        std::vector<std::string> terms;
        double logMel;
    };
    const Case cases[] = {
        {"both recognisers", Scenario{.eg2 = eg2Output()}, "きょうは[R][P]", "きょうは", "API GPU.",
         {"きょうは[R][P]"}, {0.45, 1.0}, 2, 17, {"API", "GPU"}, 1},
        {"blank Japanese text takes the EG2 text and words", Scenario{.eg2 = eg2Output(), .speechText = "  \n"},
         "API GPU.[R][P]", "  \n", "API GPU.", {"API", "GPU."}, {0.45, 0.9}, 2, 17, {"API", "GPU"}, 1},
        {"EG2 fails", Scenario{.eg2 = std::optional<EG2CoreMLOutput>()}, "きょうは[R][P]", "きょうは", "",
         {"きょうは[R][P]"}, {1.0}, 1, 0, {}, 0},
        {"no EG2 pipeline", Scenario{}, "きょうは[R][P]", "きょうは", "", {"きょうは[R][P]"}, {1.0}, 1, 0, {}, 0},
        {"processed text empty", Scenario{.eg2 = eg2Output(), .speechText = "<drop>"}, "", "<drop>", "API GPU.", {},
         {0.45}, 2, 17, {"API", "GPU"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h(c.setup);
        TranscriptionResult r = h.run(EngineMode::hybridJaEn);
        EXPECT_EQ(r.engineMode, EngineMode::hybridJaEn);
        EXPECT_EQ(r.text, c.text);
        EXPECT_EQ(r.rawText, c.rawText);
        EXPECT_EQ(r.eg2DirectText, c.eg2DirectText);
        std::vector<std::string> texts;
        for (const auto& w : r.words) texts.push_back(w.text);
        EXPECT_EQ(texts, c.wordTexts);
        EXPECT_EQ(r.pauseTimestamps, c.pauses);
        EXPECT_EQ(r.telemetry.pauseSegmentCount, static_cast<std::int64_t>(c.pauses.size()));
        EXPECT_EQ(r.telemetry.windowCount, c.windows);
        EXPECT_EQ(r.telemetry.activeFrameCount, c.frames);
        EXPECT_EQ(r.telemetry.detectedEnglishEmbeddingTerms, c.terms);
        EXPECT_EQ(r.telemetry.logMelMs, c.logMel);
        EXPECT_EQ(h.speech->lastSource, "EG2+JA");
    }
}

TEST(HybridTranscriberTest, HybridPassesEG2TermsAndPausesToTheStages) {
    Harness h(Scenario{.eg2 = eg2Output()});
    h.run(EngineMode::hybridJaEn);
    EXPECT_EQ(h.reranker->seenTerms, (std::vector<std::string>{"API", "GPU", "API"}));
    EXPECT_EQ(h.segmenter->lastPauses, std::vector<double>{0.45});
}

TEST(HybridTranscriberTest, HybridTermsAreSortedByScalarValue) {
    EG2CoreMLOutput o = eg2Output();
    o.highConfidenceTerms = {word("swift", 0, 1), word("Swift", 0, 1), word("API", 0, 1), word("swift", 0, 1)};
    Harness h(Scenario{.eg2 = o});
    EXPECT_EQ(h.run(EngineMode::hybridJaEn).telemetry.detectedEnglishEmbeddingTerms,
              (std::vector<std::string>{"API", "Swift", "swift"}));
}

TEST(HybridTranscriberTest, RecogniserFailureWaitsForEG2ThenPropagates) {
    std::atomic<bool> finished{false};
    TranscriptionStages stages;
    auto eg2 = std::make_unique<FakeEG2>();
    eg2->output = eg2Output();
    eg2->finished = &finished;
    eg2->delay = std::chrono::milliseconds(100);
    stages.eg2 = std::move(eg2);
    auto speech = std::make_shared<FakeSpeech>();
    speech->fail = true;
    stages.speech = speech;
    stages.reranker = std::make_shared<FakeReranker>();
    stages.inputProcessor = std::make_shared<FakeProcessor>();
    stages.segmenter = std::make_shared<FakeSegmenter>();
    PeloraHybridTranscriber transcriber(std::move(stages));
    std::vector<float> samples(1600, 0.f);
    try {
        transcriber.transcribeSamples(samples, std::nullopt, EngineMode::hybridJaEn, {}, {}, std::nullopt, std::nullopt);
        FAIL() << "expected the recogniser's error";
    } catch (const PeloraVoiceError& e) {
        EXPECT_STREQ(e.what(), "モデルアセットの読み込みに失敗しました: speech failed");
    }
    EXPECT_TRUE(finished) << "the EG2 run must be finished before the error is returned";
}

TEST(HybridTranscriberTest, OverlappingCallsAreIndependent) {
    Harness h(Scenario{.eg2 = eg2Output()});
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            if (h.run(EngineMode::hybridJaEn).eg2DirectText == "API GPU.") ++good;
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(good, 8);
}

TEST(HybridTranscriberTest, RecognitionProgressReachesTheCallerInTheModesThatRecognise) {
    struct Case {
        EngineMode mode;
        std::vector<double> told;
    };
    const Case cases[] = {
        {EngineMode::hybridJaEn, {0.25, 0.75, 1.0}},
        {EngineMode::appleSpeechJa, {0.25, 0.75, 1.0}},
        {EngineMode::pureEG2English, {}},  // no recogniser runs
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(engine_mode::rawValue(c.mode));
        Harness h(Scenario{.eg2 = eg2Output()});
        h.speech->progress = {0.25, 0.75, 1.0};
        std::vector<double> told;
        std::vector<float> samples(16000, 0.1f);
        const TranscriptionResult r = h.transcriber->transcribeSamples(
            samples, std::nullopt, c.mode, JapaneseInputOptions{}, {}, std::nullopt, std::nullopt,
            [&](double fraction) { told.push_back(fraction); });
        EXPECT_EQ(told, c.told);
        EXPECT_FALSE(r.text.empty());
    }
}

}  // namespace
}  // namespace pelora
