#include <algorithm>
#include <cmath>
#include <cstring>
#include <future>
#include <latch>
#include <numbers>

#include <gtest/gtest.h>

#include "platform/audiofile/AudioFile.h"
#include "platform/speech/SpeechRecognition.h"
#include "platform/speech/TokenRuns.h"
#include "tests/support/TempDir.h"
#include "tests/support/TinyWhisperModel.h"

// The library does not free what a failed model load allocated; the tests load damaged
// files on purpose (the recogniser tries each file version once).
extern "C" const char* __lsan_default_suppressions() { return "leak:whisper_init_with_params_no_state\n"; }

namespace pelora::speech {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// Voice-like sound: a 140 Hz tone with harmonics, its loudness rising and falling a few
// times a second, with short pauses.
std::vector<float> voiceLike(double seconds) {
    std::vector<float> samples(static_cast<std::size_t>(seconds * 16000));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i) / 16000;
        const double envelope = std::max(0.0, std::sin(2 * std::numbers::pi * 1.7 * t));
        double v = 0;
        for (int h = 1; h <= 5; ++h) v += std::sin(2 * std::numbers::pi * 140 * h * t) / h;
        samples[i] = static_cast<float>(0.2 * envelope * v);
    }
    return samples;
}

std::string withWeightType(std::string model, std::int32_t type) {
    std::memcpy(model.data() + 44, &type, sizeof type);  // after the magic and ten other header fields
    return model;
}

fs::path writeWave(const fs::path& file, const std::vector<float>& samples, int sampleRate = 16000) {
    audiofile::AudioFile::writeMonoFloatWAV(file, samples, sampleRate);
    return file;
}

class WhisperSpeechRecognitionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        modelDir_ = new TempDir();
        testing::writeTinyWhisperModel(modelDir_->path() / "ggml-tiny-random.bin");
    }
    static void TearDownTestSuite() {
        delete modelDir_;
        modelDir_ = nullptr;
    }

    static std::shared_ptr<SpeechRecognition> installed() {
        return makeSpeechRecognition({modelDir_->path(), std::nullopt, nullptr});
    }

    struct Collected {
        std::vector<SpeechTranscriptionResult> results;
        std::string capturedStderr;
    };

    // One analysis as the engine runs it: results consumed on another thread while the
    // analyser works through the file.
    static Collected analyse(SpeechRecognition& recognition, const fs::path& wave) {
        auto file = recognition.openAudioFile(wave);
        auto analyzer = recognition.makeAnalyzer("ja_JP");
        auto consumer = std::async(std::launch::async, [&] {
            std::vector<SpeechTranscriptionResult> results;
            while (auto result = analyzer->results().next()) results.push_back(std::move(*result));
            return results;
        });
        ::testing::internal::CaptureStderr();
        try {
            analyzer->start(*file, true);
        } catch (...) {
            ::testing::internal::GetCapturedStderr();
            analyzer->results().finish();
            consumer.wait();
            throw;
        }
        Collected collected;
        collected.capturedStderr = ::testing::internal::GetCapturedStderr();
        collected.results = consumer.get();
        return collected;
    }

    TempDir work_;
    static TempDir* modelDir_;
};

TempDir* WhisperSpeechRecognitionTest::modelDir_ = nullptr;

TEST_F(WhisperSpeechRecognitionTest, SupportsJapaneseLocalesOnly) {
    struct Case {
        const char* identifier;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"ja_JP", "ja_JP"}, {"ja-JP", "ja_JP"}, {"ja", "ja_JP"}, {"en_US", std::nullopt}, {"jav", std::nullopt},
        {"", std::nullopt},
    };
    auto recognition = installed();
    for (const Case& c : cases) EXPECT_EQ(recognition->supportedLocale(c.identifier), c.expected) << c.identifier;
}

TEST_F(WhisperSpeechRecognitionTest, AssetStatusFollowsTheModelFile) {
    EXPECT_EQ(installed()->assetStatus("ja_JP"), AssetStatus::installed);
    EXPECT_EQ(installed()->assetStatus("en_US"), AssetStatus::unsupported);
    EXPECT_EQ(installed()->assetInstallationRequest("ja_JP"), nullptr) << "nothing to install";

    std::latch entered(1);
    std::promise<void> release;
    auto recognition = makeSpeechRecognition({work_ / "ja", std::nullopt, [&](const fs::path& folder, const AssetProgressCallback&) {
                                                  entered.count_down();
                                                  release.get_future().wait();
                                                  fs::create_directories(folder);
                                                  fs::copy_file(modelDir_->path() / "ggml-tiny-random.bin",
                                                                folder / "ggml-tiny-random.bin");
                                              }});
    EXPECT_EQ(recognition->assetStatus("ja_JP"), AssetStatus::supported);
    auto request = recognition->assetInstallationRequest("ja_JP");
    ASSERT_NE(request, nullptr);
    auto installing = std::async(std::launch::async, [&] { request->downloadAndInstall({}); });
    entered.wait();
    EXPECT_EQ(recognition->assetStatus("ja_JP"), AssetStatus::downloading);
    release.set_value();
    installing.get();
    EXPECT_EQ(recognition->assetStatus("ja_JP"), AssetStatus::installed);
}

TEST_F(WhisperSpeechRecognitionTest, AnalysisYieldsFinalResultsWithTimedRunsInsideTheAudio) {
    auto recognition = installed();
    const double seconds = 4;
    const Collected collected = analyse(*recognition, writeWave(work_ / "voice.wav", voiceLike(seconds)));

    EXPECT_EQ(collected.capturedStderr, "") << "the library's own log stays silent";
    ASSERT_FALSE(collected.results.empty());
    std::size_t timedRuns = 0;
    for (const SpeechTranscriptionResult& result : collected.results) {
        EXPECT_TRUE(result.isFinal);
        EXPECT_EQ(validUTF8(result.text()), result.text());
        EXPECT_GE(result.range.start, 0);
        EXPECT_GE(result.range.duration, 0);
        EXPECT_LE(result.range.start + result.range.duration, seconds + 1e-9);
        for (const TranscriptionRun& run : result.runs) {
            EXPECT_FALSE(run.text.empty());
            ASSERT_TRUE(run.confidence);
            EXPECT_GE(*run.confidence, 0.0f);
            EXPECT_LE(*run.confidence, 1.0f);
            if (!run.audioTimeRange) continue;
            ++timedRuns;
            EXPECT_GE(run.audioTimeRange->start, 0);
            EXPECT_GE(run.audioTimeRange->duration, 0);
            EXPECT_LE(run.audioTimeRange->start + run.audioTimeRange->duration, seconds + 1e-9);
        }
    }
    EXPECT_GT(timedRuns, 0u);
}

TEST_F(WhisperSpeechRecognitionTest, ALongInputTellsHowFarTheAnalysisHasCome) {
    auto recognition = installed();
    // Two of the recogniser's 30 s windows.
    const std::vector<float> samples = voiceLike(45);
    auto input = recognition->openSamples(samples);
    auto analyzer = recognition->makeAnalyzer("ja_JP");
    std::vector<double> told;
    analyzer->setProgressHandler([&](double fraction) { told.push_back(fraction); });
    auto consumer = std::async(std::launch::async, [&] {
        while (analyzer->results().next()) {
        }
    });
    analyzer->start(*input, true);
    consumer.get();

    ASSERT_GE(told.size(), 3u) << "a start, a window on the way and the end";
    EXPECT_EQ(told.back(), 1.0);
    EXPECT_TRUE(std::any_of(told.begin(), told.end(), [](double f) { return f > 0.1 && f < 0.9; }))
        << ::testing::PrintToString(told);
    for (std::size_t i = 0; i < told.size(); ++i) {
        EXPECT_GE(told[i], 0.0);
        EXPECT_LE(told[i], 1.0);
        if (i > 0) {
            EXPECT_GT(told[i], told[i - 1]) << "told again or went back at " << i;
        }
    }
}

TEST_F(WhisperSpeechRecognitionTest, InputShorterThanATenthOfASecondGivesNoResults) {
    auto recognition = installed();
    EXPECT_TRUE(analyse(*recognition, writeWave(work_ / "click.wav", voiceLike(0.05))).results.empty());
    EXPECT_TRUE(analyse(*recognition, writeWave(work_ / "empty.wav", {})).results.empty());
}

TEST_F(WhisperSpeechRecognitionTest, AudioFilesItCannotAnalyseAreRefusedWhenOpened) {
    auto recognition = installed();
    writeWave(work_ / "44k.wav", voiceLike(1), 44100);
    testing::writeFile(work_ / "text.wav", "not a sound file");
    for (const fs::path& file : {work_ / "missing.wav", work_ / "44k.wav", work_ / "text.wav"}) {
        EXPECT_THROW(recognition->openAudioFile(file), SpeechRecognitionError) << file;
    }
}

TEST_F(WhisperSpeechRecognitionTest, StartFailsWithoutAUsableModel) {
    struct Case {
        const char* name;
        std::optional<std::string> modelBytes;  // none: no model file at all
        std::string expectedPart;
    };
    const std::string model = testing::readFile(modelDir_->path() / "ggml-tiny-random.bin");
    const Case cases[] = {
        {"no model", std::nullopt, "インストールされていません"},
        {"a model cut short", model.substr(0, model.size() / 2), "読み込めませんでした"},
        {"a header of zeros", std::string("lmgg") + std::string(64, '\0'), "読み込めませんでした"},
        // Both used to abort the process inside the library.
        {"the magic number alone", std::string("lmgg") + std::string(2048, '\0'), "vocabulary size"},
        {"weight type 99", withWeightType(model, 99), "weight type"},
    };
    for (const Case& c : cases) {
        TempDir assets;
        if (c.modelBytes) testing::writeFile(assets / "ggml-small.bin", *c.modelBytes);
        auto recognition = makeSpeechRecognition({assets.path(), std::nullopt, nullptr});
        try {
            analyse(*recognition, writeWave(work_ / "voice.wav", voiceLike(1)));
            ADD_FAILURE() << c.name << ": expected an error";
        } catch (const SpeechRecognitionError& error) {
            EXPECT_NE(std::string(error.what()).find(c.expectedPart), std::string::npos) << c.name << ": " << error.what();
        }
    }
}

TEST_F(WhisperSpeechRecognitionTest, AModelFileThatFailedIsLoadedAgainOnceItChanges) {
    TempDir assets;
    const std::string model = testing::readFile(modelDir_->path() / "ggml-tiny-random.bin");
    testing::writeFile(assets / "ggml-small.bin", model.substr(0, model.size() - 1000));
    auto recognition = makeSpeechRecognition({assets.path(), std::nullopt, nullptr});
    const fs::path wave = writeWave(work_ / "voice.wav", voiceLike(1));
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_THROW(analyse(*recognition, wave), SpeechRecognitionError) << "attempt " << attempt;
    }
    testing::writeFile(assets / "ggml-small.bin", model);
    EXPECT_NO_THROW(analyse(*recognition, wave));
}

TEST_F(WhisperSpeechRecognitionTest, OverlappingRunsShareTheModel) {
    auto recognition = installed();
    const fs::path wave = writeWave(work_ / "voice.wav", voiceLike(1));
    auto analyseOnce = [&] {
        auto file = recognition->openAudioFile(wave);
        auto analyzer = recognition->makeAnalyzer("ja_JP");
        analyzer->start(*file, true);
        std::vector<std::string> texts;
        while (auto result = analyzer->results().next()) texts.push_back(result->text());
        return texts;
    };
    auto a = std::async(std::launch::async, analyseOnce);
    auto b = std::async(std::launch::async, analyseOnce);
    EXPECT_EQ(a.get(), b.get()) << "the same audio gives the same results in parallel runs";
}

}  // namespace
}  // namespace pelora::speech
