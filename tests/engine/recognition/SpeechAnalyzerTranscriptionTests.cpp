#include "engine/recognition/SpeechAnalyzerTranscription.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <future>
#include <limits>
#include <stdexcept>

#include <gtest/gtest.h>

#include "engine/recognition/JapaneseSpeechAssets.h"
#include "engine/recognition/PeloraVoiceError.h"
#include "tests/support/TempDir.h"

namespace pelora {
namespace {

namespace fs = std::filesystem;
using speech::AssetStatus;
using speech::AudioTimeRange;
using speech::SpeechTranscriptionResult;
using speech::TranscriptionRun;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// A recogniser whose every answer the test scripts, recording what it was asked.
class ScriptedRecognition final : public speech::SpeechRecognition {
public:
    struct Script {
        std::map<std::string, std::string> locales = {{"ja_JP", "ja_JP"}};
        AssetStatus status = AssetStatus::installed;
        bool returnsRequest = true;
        std::exception_ptr requestError;      // asking for the installation request
        std::exception_ptr installError;      // downloadAndInstall()
        std::exception_ptr openError;         // opening the audio input
        std::exception_ptr analyzerError;     // building the analyser
        std::vector<SpeechTranscriptionResult> results;
        std::exception_ptr startError;        // thrown by start() after the results, without finishing
        std::exception_ptr sequenceError;     // the result sequence fails after the results
    };

    explicit ScriptedRecognition(Script script) : script_(std::move(script)) {}

    std::optional<std::string> supportedLocale(std::string_view identifier) override {
        askedLocales.emplace_back(identifier);
        const auto found = script_.locales.find(std::string(identifier));
        if (found == script_.locales.end()) return std::nullopt;
        return found->second;
    }

    AssetStatus assetStatus(const std::string&) override { return script_.status; }

    std::unique_ptr<speech::AssetInstallationRequest> assetInstallationRequest(const std::string&) override {
        ++installationRequests;
        if (script_.requestError) std::rethrow_exception(script_.requestError);
        if (!script_.returnsRequest) return nullptr;
        return std::make_unique<Request>(*this);
    }

    std::unique_ptr<speech::AudioInputFile> openAudioFile(const fs::path& file) override {
        openedFile = file;
        if (script_.openError) std::rethrow_exception(script_.openError);
        return std::make_unique<speech::AudioInputFile>();
    }

    std::unique_ptr<speech::AudioInputFile> openSamples(std::span<const float> samples) override {
        openedSamples = std::vector<float>(samples.begin(), samples.end());
        if (script_.openError) std::rethrow_exception(script_.openError);
        return std::make_unique<speech::AudioInputFile>();
    }

    std::unique_ptr<speech::SpeechAnalyzer> makeAnalyzer(const std::string& locale) override {
        analyzerLocale = locale;
        if (script_.analyzerError) std::rethrow_exception(script_.analyzerError);
        return std::make_unique<Analyzer>(script_);
    }

    std::vector<std::string> askedLocales;
    int installationRequests = 0;
    int installations = 0;
    std::optional<fs::path> openedFile;
    std::optional<std::vector<float>> openedSamples;
    std::optional<std::string> analyzerLocale;

private:
    struct Request final : speech::AssetInstallationRequest {
        explicit Request(ScriptedRecognition& owner) : owner(owner) {}
        void downloadAndInstall(const speech::AssetProgressCallback&) override {
            ++owner.installations;
            if (owner.script_.installError) std::rethrow_exception(owner.script_.installError);
        }
        ScriptedRecognition& owner;
    };

    struct Analyzer final : speech::SpeechAnalyzer {
        explicit Analyzer(const Script& script) : script(script) {}
        speech::ResultSequence& results() override { return sequence; }
        void start(speech::AudioInputFile&, bool finishAfterFile) override {
            for (const SpeechTranscriptionResult& result : script.results) sequence.yield(result);
            if (script.startError) std::rethrow_exception(script.startError);
            if (script.sequenceError) {
                sequence.fail(script.sequenceError);
            } else if (finishAfterFile) {
                sequence.finish();
            }
        }
        const Script& script;
        speech::ResultSequence sequence;
    };

    Script script_;
};

SpeechTranscriptionResult result(std::vector<TranscriptionRun> runs, double start, double duration, bool isFinal = true) {
    SpeechTranscriptionResult r;
    r.isFinal = isFinal;
    r.runs = std::move(runs);
    r.range = {start, duration};
    return r;
}

TranscriptionRun run(std::string text, std::optional<float> confidence = std::nullopt,
                     std::optional<AudioTimeRange> time = std::nullopt) {
    return {std::move(text), confidence, time};
}

class SpeechAnalyzerTranscriptionTest : public ::testing::Test {
protected:
    // Temporary files would go to a folder of this test, so that none can hide among others'.
    void SetUp() override {
        if (const char* old = std::getenv("TMPDIR")) oldTmpdir_ = old;
        setenv("TMPDIR", tmp_.path().c_str(), 1);
    }
    void TearDown() override {
        if (oldTmpdir_) {
            setenv("TMPDIR", oldTmpdir_->c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
    }

    std::vector<fs::path> leftoverFiles() const {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(tmp_.path())) files.push_back(entry.path());
        return files;
    }

    JapaneseSpeechTranscript transcribe(ScriptedRecognition::Script script, std::string_view source = "JA-ANE") {
        recognition_ = std::make_shared<ScriptedRecognition>(std::move(script));
        SpeechAnalyzerTranscription transcription(recognition_);
        return transcription.transcribeWithSpeechAnalyzer(samples_, source);
    }

    testing::TempDir tmp_;
    std::optional<std::string> oldTmpdir_;
    std::vector<float> samples_ = std::vector<float>(16000, 0.1f);
    std::shared_ptr<ScriptedRecognition> recognition_;
};

struct Word {
    std::string text;
    double start;
    double end;
    float confidence;
};

void expectWords(const std::vector<TranscribedWord>& actual, const std::vector<Word>& expected, const std::string& source,
                 const char* name) {
    ASSERT_EQ(actual.size(), expected.size()) << name;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(actual[i].text, expected[i].text) << name << " word " << i;
        EXPECT_EQ(actual[i].rawText, expected[i].text) << name << " word " << i;
        EXPECT_DOUBLE_EQ(actual[i].start, expected[i].start) << name << " word " << i;
        EXPECT_DOUBLE_EQ(actual[i].end, expected[i].end) << name << " word " << i;
        EXPECT_FLOAT_EQ(actual[i].confidence, expected[i].confidence) << name << " word " << i;
        EXPECT_EQ(actual[i].source, source) << name << " word " << i;
    }
}

TEST_F(SpeechAnalyzerTranscriptionTest, CollectsFinalResultsIntoTextAndTimedRuns) {
    struct Case {
        const char* name;
        std::vector<SpeechTranscriptionResult> results;
        std::string text;
        std::vector<Word> words;
    };
    const Case cases[] = {
        {"runs with their own times and confidences",
         {result({run("今日は", 0.9f, AudioTimeRange{0.5, 0.4}), run("晴れ", 0.7f, AudioTimeRange{0.9, 0.3})}, 0.5, 1.0)},
         "今日は晴れ",
         {{"今日は", 0.5, 0.9, 0.9f}, {"晴れ", 0.9, 1.2, 0.7f}}},
        {"runs without time ranges take the result's times and confidence 1",
         {result({run("東京"), run("大阪")}, 2.0, 1.5)},
         "東京大阪",
         {{"東京", 2.0, 3.5, 1.0f}, {"大阪", 2.0, 3.5, 1.0f}}},
        {"runs that are all white space give one word of the whole result",
         {result({run(" ", 0.2f, AudioTimeRange{1, 1}), run("\n\u3000", 0.3f)}, 1.0, 2.0)},
         " \n\u3000",
         {{" \n\u3000", 1.0, 3.0, 1.0f}}},
        {"white-space runs are skipped beside visible ones, pieces stay untrimmed",
         {result({run(" 東京 ", 0.8f), run("  "), run("駅\n", 0.6f)}, 0, 1)},
         " 東京   駅\n",
         {{" 東京 ", 0, 1, 0.8f}, {"駅\n", 0, 1, 0.6f}}},
        {"texts join with no separator across results",
         {result({run("こんにちは")}, 0, 1), result({run("世界")}, 1, 1)},
         "こんにちは世界",
         {{"こんにちは", 0, 1, 1.0f}, {"世界", 1, 2, 1.0f}}},
        {"volatile results never reach text or words",
         {result({run("仮")}, 0, 1, false), result({run("確定")}, 0, 1), result({run("後の仮")}, 1, 1, false)},
         "確定",
         {{"確定", 0, 1, 1.0f}}},
        {"empty results are skipped", {result({}, 0, 1), result({run("")}, 1, 1), result({run("有")}, 2, 1)}, "有",
         {{"有", 2, 3, 1.0f}}},
        {"negative result start counts as 0", {result({run("a")}, -1, 2)}, "a", {{"a", 0, 2, 1.0f}}},
        {"infinite result start counts as 0", {result({run("a")}, inf, 2)}, "a", {{"a", 0, 2, 1.0f}}},
        {"NaN result start counts as 0", {result({run("a")}, nan, 2)}, "a", {{"a", 0, 2, 1.0f}}},
        {"zero duration: end is the start", {result({run("a")}, 3, 0)}, "a", {{"a", 3, 3, 1.0f}}},
        {"negative duration: end is the start", {result({run("a")}, 3, -1)}, "a", {{"a", 3, 3, 1.0f}}},
        {"infinite duration: end is the start", {result({run("a")}, 3, inf)}, "a", {{"a", 3, 3, 1.0f}}},
        {"whole-result word with a zero duration", {result({run(" ")}, 4, 0)}, " ", {{" ", 4, 4, 1.0f}}},
        {"run with a negative start takes the result's times",
         {result({run("a", 0.5f, AudioTimeRange{-0.1, 1})}, 1, 1)},
         "a",
         {{"a", 1, 2, 0.5f}}},
        {"run with an infinite start takes the result's times",
         {result({run("a", 0.5f, AudioTimeRange{inf, 1})}, 1, 1)},
         "a",
         {{"a", 1, 2, 0.5f}}},
        {"run with a bad duration ends where it starts",
         {result({run("a", 0.5f, AudioTimeRange{1.5, -2}), run("b", 0.5f, AudioTimeRange{1.7, nan})}, 1, 1)},
         "ab",
         {{"a", 1.5, 1.5, 0.5f}, {"b", 1.7, 1.7, 0.5f}}},
        {"no results at all", {}, "", {}},
    };
    for (const Case& c : cases) {
        ScriptedRecognition::Script script;
        script.results = c.results;
        const JapaneseSpeechTranscript transcript = transcribe(script, "EG2+JA");
        EXPECT_EQ(transcript.text, c.text) << c.name;
        expectWords(transcript.runs, c.words, "EG2+JA", c.name);
        EXPECT_TRUE(leftoverFiles().empty()) << c.name << ": a temporary file outlived the run";
    }
}

TEST_F(SpeechAnalyzerTranscriptionTest, AnalysesTheSamplesInMemoryForTheFoundLocale) {
    ScriptedRecognition::Script script;
    script.locales = {{"ja-JP", "ja_JP"}};  // only the second identifier is known
    script.results = {result({run("はい")}, 0, 1)};
    samples_ = {0.25f, -0.5f, 1.0f, 0.0f, -1.0f};
    EXPECT_EQ(transcribe(script).text, "はい");
    EXPECT_EQ(recognition_->askedLocales, (std::vector<std::string>{"ja_JP", "ja-JP"}));
    EXPECT_EQ(recognition_->analyzerLocale, "ja_JP");
    EXPECT_EQ(recognition_->openedSamples, samples_) << "the samples themselves, unchanged";
    EXPECT_FALSE(recognition_->openedFile) << "no file is analysed";
    EXPECT_TRUE(leftoverFiles().empty());
}

TEST_F(SpeechAnalyzerTranscriptionTest, FailuresPropagateAndLeaveNoTemporaryFile) {
    const auto platformError = std::make_exception_ptr(speech::SpeechRecognitionError("platform says no"));
    struct Case {
        const char* name;
        ScriptedRecognition::Script script;
        std::string expectedMessage;
        bool reachesTheRecogniser;
    };
    ScriptedRecognition::Script base;
    base.results = {result({run("途中")}, 0, 1)};
    const auto with = [&](auto change) {
        ScriptedRecognition::Script s = base;
        change(s);
        return s;
    };
    const Case cases[] = {
        {"no supported Japanese locale", with([](auto& s) { s.locales.clear(); }),
         PeloraVoiceError::invalidModelAsset(JapaneseSpeechAssets::unsupportedLocaleText).what(), false},
        {"assets unsupported", with([](auto& s) { s.status = AssetStatus::unsupported; }),
         PeloraVoiceError::invalidModelAsset(JapaneseSpeechAssets::unsupportedAssetsText).what(), false},
        {"installation request fails",
         with([&](auto& s) {
             s.status = AssetStatus::supported;
             s.requestError = platformError;
         }),
         "platform says no", false},
        {"download fails",
         with([&](auto& s) {
             s.status = AssetStatus::downloading;
             s.installError = platformError;
         }),
         "platform says no", false},
        {"audio input cannot be opened", with([&](auto& s) { s.openError = platformError; }), "platform says no", true},
        {"analyser cannot be built", with([&](auto& s) { s.analyzerError = platformError; }), "platform says no", true},
        {"analyser start fails", with([&](auto& s) { s.startError = platformError; }), "platform says no", true},
        {"analyser start fails before any result",
         with([&](auto& s) {
             s.results.clear();
             s.startError = platformError;
         }),
         "platform says no", true},
        {"result sequence fails", with([&](auto& s) { s.sequenceError = platformError; }), "platform says no", true},
    };
    for (const Case& c : cases) {
        // A collection left waiting for results that never come would hang the call.
        auto call = std::async(std::launch::async, [&] { return transcribe(c.script); });
        ASSERT_EQ(call.wait_for(std::chrono::seconds(20)), std::future_status::ready) << c.name << ": hangs";
        try {
            call.get();
            ADD_FAILURE() << c.name << ": expected an error";
        } catch (const std::exception& error) {
            EXPECT_EQ(std::string(error.what()), c.expectedMessage) << c.name;
        }
        EXPECT_EQ(recognition_->openedSamples.has_value(), c.reachesTheRecogniser) << c.name;
        EXPECT_TRUE(leftoverFiles().empty()) << c.name << ": a temporary file outlived the run";
    }
}

TEST_F(SpeechAnalyzerTranscriptionTest, RunsWithoutAWritableTemporaryFolder) {
    setenv("TMPDIR", (tmp_.path() / "missing" / "folder").c_str(), 1);
    ScriptedRecognition::Script script;
    script.results = {result({run("x")}, 0, 1)};
    EXPECT_EQ(transcribe(script).text, "x");
    EXPECT_FALSE(fs::exists(tmp_.path() / "missing"));
}

TEST_F(SpeechAnalyzerTranscriptionTest, EnsuringAssetsInstallsOnlyWhatIsMissing) {
    struct Case {
        const char* name;
        AssetStatus status;
        bool returnsRequest;
        int requests;
        int installations;
        std::vector<std::string> progress;
    };
    const std::string installing = JapaneseSpeechAssets::installingProgressText;
    const Case cases[] = {
        {"installed", AssetStatus::installed, true, 0, 0, {}},
        {"supported", AssetStatus::supported, true, 1, 1, {installing}},
        {"downloading", AssetStatus::downloading, true, 1, 1, {installing}},
        {"supported, but nothing to install", AssetStatus::supported, false, 1, 0, {installing}},
    };
    for (const Case& c : cases) {
        ScriptedRecognition::Script script;
        script.status = c.status;
        script.returnsRequest = c.returnsRequest;
        ScriptedRecognition recognition(script);
        std::vector<std::string> progress;
        const std::string locale = JapaneseSpeechAssets::ensureJapaneseSpeechAssets(
            recognition, [&](const std::string& line) { progress.push_back(line); });
        EXPECT_EQ(locale, "ja_JP") << c.name;
        EXPECT_EQ(recognition.installationRequests, c.requests) << c.name;
        EXPECT_EQ(recognition.installations, c.installations) << c.name;
        EXPECT_EQ(progress, c.progress) << c.name;
        // Without a callback the same happens, silently.
        ScriptedRecognition silent(script);
        EXPECT_EQ(JapaneseSpeechAssets::ensureJapaneseSpeechAssets(silent, {}), "ja_JP") << c.name;
        EXPECT_EQ(silent.installations, c.installations) << c.name;
    }
}

}  // namespace
}  // namespace pelora
