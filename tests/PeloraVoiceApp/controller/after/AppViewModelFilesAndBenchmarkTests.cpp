// File transcription (files made with ffmpeg, the real decoder, a scripted recogniser) and
// the built-in benchmark (real espeak-ng, and stand-in tools that fail).
#include "tests/PeloraVoiceApp/controller/ControllerFakes.h"

#include "tests/support/RunCommand.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <thread>

using namespace pelora;
using namespace pelora::controller_testing;
using pelora::testing::runChecked;
using pelora::testing::ScopedEnvironment;
using pelora::testing::TempDir;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const std::string filePrefix = "ファイル文字起こしエラー: ";
const std::string benchmarkPrefix = "ベンチマーク実行エラー: ";
const std::string decodeFailed = "音声ファイルのデコードに失敗しました: ";

struct FakePicker : AudioFilePicker {
    std::optional<fs::path> answer;
    int shown = 0;
    std::optional<fs::path> pickAudioOrVideoFile() override {
        ++shown;
        return answer;
    }
};

class LongRuns : public ControllerFixture {
public:
    FakePicker picker;
    BenchmarkSpeechSynthesizer::Tool tool{};

    AppViewModel& makeWithPicker() {
        // The collaborators are built by the fixture; the picker and tool ride on them.
        model.reset();
        for (Logged* fake : std::initializer_list<Logged*>{&keyStore, &recorder, &pushToTalk, &overlay, &permissions,
                                                           &reinsertShortcut, &lastExternalApp})
            fake->log = &log;
        AppViewModelCollaborators bundle = collaborators();
        bundle.filePicker = &picker;
        bundle.speechSynthesizer = tool;
        model = std::make_unique<AppViewModel>(std::move(bundle));
        return *model;
    }
    void denyMicrophone() { recorder.status = MicrophoneAuthorizationStatus::denied; }
    // Runs workers and their posts until nothing is left (the contextual pass included).
    void settle() {
        for (int i = 0; i < 20 && (!workers.jobs.empty() || i < 2); ++i) {
            workers.runAll();
            scheduler.runPosted();
        }
    }
};

// ---- files ----

// Files made once per test program with ffmpeg: a tone in every container the picker names.
const fs::path& mediaFolder() {
    static TempDir dir;
    static bool made = [] {
        const std::string tone = "sine=frequency=440:duration=1.5";
        const std::string picture = "testsrc=size=64x48:rate=10:duration=1.5";
        auto at = [](const std::string& name) { return (dir.path() / name).string(); };
        const std::vector<std::vector<std::string>> commands = {
            {"-f", "lavfi", "-i", tone, "-ar", "16000", "-ac", "1", at("tone.wav")},
            {"-f", "lavfi", "-i", tone, "-ar", "44100", "-ac", "2", at("tone.mp3")},
            {"-f", "lavfi", "-i", tone, "-c:a", "aac", at("tone.m4a")},
            {"-f", "lavfi", "-i", picture, "-f", "lavfi", "-i", tone, "-c:v", "mpeg4", "-c:a", "aac", "-shortest",
             at("clip.mp4")},
            {"-f", "lavfi", "-i", picture, "-f", "lavfi", "-i", tone, "-c:v", "mpeg4", "-c:a", "aac", "-shortest",
             at("clip.mov")},
            {"-f", "lavfi", "-i", tone, "-ar", "22050", "-ac", "1", at("会議 録音 第1回.wav")},
        };
        for (const auto& arguments : commands) {
            std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-y"};
            argv.insert(argv.end(), arguments.begin(), arguments.end());
            runChecked(argv);
        }
        return true;
    }();
    (void)made;
    return dir.path();
}

TEST_F(LongRuns, FilesOfEveryKindAreTranscribedAndNeverInserted) {
    const char* names[] = {"tone.wav", "tone.mp3", "tone.m4a", "clip.mp4", "clip.mov", "会議 録音 第1回.wav"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        AppViewModel& vm = makeWithPicker();
        vm.setAutoPasteEnabled(true);
        engine->speech->sampleCounts.clear();
        paster.insertions.clear();
        paster.copied.clear();
        picker.answer = mediaFolder() / name;
        vm.openFilePicker();
        EXPECT_EQ(picker.shown, 1);
        picker.shown = 0;
        EXPECT_TRUE(vm.isTranscribing());
        EXPECT_EQ(vm.currentSourceName(), name);
        EXPECT_TRUE(overlay.calls.empty()) << "no pill while a file is transcribed";
        settle();
        EXPECT_FALSE(vm.isTranscribing());
        EXPECT_EQ(vm.errorMessage(), std::nullopt);
        ASSERT_EQ(engine->speech->sampleCounts.size(), 1u);
        EXPECT_NEAR(static_cast<double>(engine->speech->sampleCounts[0]), 1.5 * 16000, 0.1 * 16000)
            << "decoded to 16 kHz";
        ASSERT_TRUE(vm.currentResult().has_value());
        EXPECT_EQ(vm.currentResult()->text, "今日は晴れです。");
        ASSERT_FALSE(vm.history().empty());
        EXPECT_EQ(vm.history().front().sourceName, name);
        EXPECT_EQ(vm.history().front().targetAppName, std::nullopt);
        EXPECT_TRUE(paster.insertions.empty()) << "a file is never inserted";
        EXPECT_EQ(paster.copied, std::vector<std::string>{"今日は晴れです。"});
        EXPECT_TRUE(vm.isEngineLoaded()) << "the transcriber built here reports its acoustic model";
        overlay.calls.clear();
    }
}

TEST_F(LongRuns, PathsTheDecoderCannotReadAreRefusedAtOnce) {
    TempDir dir;
    pelora::testing::writeFile(dir / "x.wav", std::string("\x13\x37 not audio at all \x01\x02", 22));
    fs::create_directory(dir / "folder.wav");
    ASSERT_EQ(::mkfifo((dir / "pipe.wav").c_str(), 0600), 0);
    struct Case {
        const char* name;
        fs::path path;
        bool refusedAtOnce;  // before any worker runs
    };
    const Case cases[] = {
        {"random bytes", dir / "x.wav", false},
        {"a folder", dir / "folder.wav", true},
        {"a FIFO", dir / "pipe.wav", true},
        {"missing", dir / "absent.mp3", true},
        {"a device", "/dev/zero", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppViewModel& vm = makeWithPicker();
        // An earlier result stays where it was.
        TranscriptionResult earlier;
        earlier.text = "前の結果";
        vm.completeTranscription(earlier, "前", std::nullopt, std::nullopt, false);
        settle();
        const auto history = vm.history();
        vm.transcribeAudioFile(c.path);
        if (c.refusedAtOnce) {
            EXPECT_FALSE(vm.isTranscribing());
        }
        settle();
        EXPECT_FALSE(vm.isTranscribing());
        EXPECT_EQ(vm.errorMessage(), filePrefix + decodeFailed + c.path.filename().string());
        EXPECT_EQ(vm.currentSourceName(), c.path.filename().string());
        EXPECT_EQ(vm.currentResult()->text, "前の結果");
        EXPECT_EQ(vm.history(), history);
        EXPECT_TRUE(std::none_of(cues.played.begin(), cues.played.end(),
                                 [](const std::string& cue) { return cue == "Basso"; }));
        cues.played.clear();
    }
}

TEST_F(LongRuns, GuardsKeepFilesAndBenchmarksFromOverlapping) {
    struct Case {
        const char* name;
        std::function<void(LongRuns&, AppViewModel&)> busy;
    };
    const Case cases[] = {
        {"recording", [](LongRuns&, AppViewModel& vm) { vm.toggleManualRecording(); }},
        {"waiting for the microphone",
         [](LongRuns& t, AppViewModel& vm) {
             t.denyMicrophone();
             vm.toggleManualRecording();
         }},
        {"transcribing a file",
         [](LongRuns&, AppViewModel& vm) { vm.transcribeAudioFile(mediaFolder() / "tone.wav"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        recorder.status = MicrophoneAuthorizationStatus::authorized;
        AppViewModel& vm = makeWithPicker();
        c.busy(*this, vm);
        const std::string source = vm.currentSourceName();
        const std::size_t jobs = workers.jobs.size();
        picker.answer = mediaFolder() / "tone.mp3";
        picker.shown = 0;
        vm.openFilePicker();
        EXPECT_EQ(picker.shown, 0) << "no dialog while busy";
        vm.transcribeAudioFile(mediaFolder() / "tone.mp3");
        vm.runBuiltInSampleBenchmark(true, false);
        EXPECT_EQ(vm.currentSourceName(), source);
        EXPECT_EQ(workers.jobs.size(), jobs);
        workers.jobs.clear();
        scheduler.runPosted();
    }
    recorder.status = MicrophoneAuthorizationStatus::authorized;

    // A cancelled dialog does nothing.
    AppViewModel& vm = makeWithPicker();
    picker.answer.reset();
    vm.openFilePicker();
    EXPECT_FALSE(vm.isTranscribing());
    EXPECT_EQ(vm.currentSourceName(), "未選択");
}

// ---- the benchmark ----

class Benchmark : public LongRuns {
public:
    TempDir runtime;
    ScopedEnvironment runtimeVariable{"XDG_RUNTIME_DIR", runtime.path().string()};
    fs::path sampleFile(bool japanese) const {
        return runtime.path() / "PeloraVoice2" / (japanese ? "pelora_benchmark_ja.wav" : "pelora_benchmark_en.wav");
    }
    BenchmarkSpeechSynthesizer::Tool standIn(const std::string& body, std::chrono::milliseconds limit = 60s) {
        const fs::path program = tools_.path() / "espeak-ng";
        pelora::testing::writeFile(program, "#!/bin/sh\n" + body + "\n");
        fs::permissions(program, fs::perms::owner_all);
        return {program, limit};
    }
    TempDir tools_;
};

TEST_F(Benchmark, TheSampleDecidesTheModeAndItsLabel) {
    struct Case {
        bool japanese;
        EngineMode setting;
        bool eg2;
        std::string label;
        std::optional<std::string> error;
    };
    const Case cases[] = {
        {true, EngineMode::pureEG2English, true, "日本語ハイブリッド検証サンプル (Kyoko)", std::nullopt},
        {false, EngineMode::appleSpeechJa, true, "EG2 英語パイプライン検証サンプル (Samantha)", std::nullopt},
        {false, EngineMode::hybridJaEn, false, "EG2 英語パイプライン検証サンプル (Samantha)",
         benchmarkPrefix + "EG2モデルが見つかりません: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label + (c.eg2 ? "" : ", no models"));
        engine->transcriberHasEG2 = c.eg2;
        AppViewModel& vm = makeWithPicker();
        vm.setEngineMode(c.setting);
        vm.setAutoPasteEnabled(true);
        paster.insertions.clear();
        int passes = 0;
        vm.setContextualPassObserverForTesting([&](const auto&) { ++passes; });
        vm.runBuiltInSampleBenchmark(c.japanese, false);
        EXPECT_TRUE(vm.isTranscribing());
        EXPECT_EQ(vm.currentSourceName(), c.label);
        EXPECT_TRUE(targetCapture.preferExternalAsked.empty()) << "no target without insertion";
        settle();
        EXPECT_FALSE(vm.isTranscribing());
        EXPECT_TRUE(fs::exists(sampleFile(c.japanese)));
        if (c.error) {
            ASSERT_TRUE(vm.errorMessage().has_value());
            EXPECT_EQ(vm.errorMessage()->rfind(*c.error, 0), 0u) << *vm.errorMessage();
            EXPECT_TRUE(vm.history().empty());
            continue;
        }
        EXPECT_EQ(vm.errorMessage(), std::nullopt);
        ASSERT_TRUE(vm.currentResult().has_value());
        EXPECT_EQ(vm.currentResult()->engineMode,
                  c.japanese ? EngineMode::hybridJaEn : EngineMode::pureEG2English);
        EXPECT_EQ(vm.history().front().sourceName, c.label);
        EXPECT_TRUE(paster.insertions.empty());
        EXPECT_EQ(passes, c.japanese ? 1 : 0) << "the English result never starts a pass";
        EXPECT_GT(engine->speech->sampleCounts.back(), 16000u) << "a spoken sentence, resampled";
    }
    engine->transcriberHasEG2 = true;
}

TEST_F(Benchmark, InsertsIntoTheCapturedTargetOnlyWhenAsked) {
    AppViewModel& vm = makeWithPicker();
    vm.runBuiltInSampleBenchmark(true, true);
    EXPECT_EQ(targetCapture.preferExternalAsked, std::vector<bool>{true});
    settle();
    ASSERT_EQ(paster.insertions.size(), 1u);
    EXPECT_EQ(paster.insertions[0].target, targetCapture.target);
    EXPECT_EQ(paster.insertions[0].text, "今日は晴れです。");
}

TEST_F(Benchmark, ToolsThatFailEndTheRunWithTheirError) {
    struct Case {
        const char* name;
        std::function<BenchmarkSpeechSynthesizer::Tool(Benchmark&)> tool;
        std::string message;
    };
    const Case cases[] = {
        {"cannot start",
         [](Benchmark& t) { return BenchmarkSpeechSynthesizer::Tool{t.tools_.path() / "none" / "espeak-ng"}; },
         "音声合成ツール espeak-ng を起動できません: No such file or directory"},
        {"exits non-zero", [](Benchmark& t) { return t.standIn("echo RIFF > \"$4\"; exit 2"); },
         "音声合成ツール espeak-ng が終了コード 2 で失敗しました"},
        {"hangs", [](Benchmark& t) { return t.standIn("exec sleep 600", 2000ms); },
         "音声合成ツール espeak-ng が 2 秒以内に終了しなかったため停止しました"},
        {"writes nothing usable", [](Benchmark& t) { return t.standIn("echo nonsense > \"$4\""); },
         decodeFailed + "pelora_benchmark_ja.wav"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tool = c.tool(*this);
        AppViewModel& vm = makeWithPicker();
        // A stale recording of an earlier run is never taken for this one's.
        fs::create_directories(sampleFile(true).parent_path());
        runChecked({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=duration=1", "-ar", "16000",
                    sampleFile(true).string()});
        const auto started = std::chrono::steady_clock::now();
        vm.runBuiltInSampleBenchmark(true, false);
        settle();
        EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
        EXPECT_FALSE(vm.isTranscribing());
        EXPECT_EQ(vm.errorMessage(), benchmarkPrefix + c.message);
        EXPECT_TRUE(vm.history().empty());
        EXPECT_TRUE(cues.played.empty()) << "no sound";
        EXPECT_TRUE(overlay.calls.empty()) << "no pill";
    }
    tool = {};
}

TEST_F(Benchmark, APlantedLinkIsNotFollowed) {
    fs::create_directories(sampleFile(true).parent_path());
    ::chmod(sampleFile(true).parent_path().c_str(), 0700);
    TempDir elsewhere;
    const fs::path victim = elsewhere / "victim.wav";
    pelora::testing::writeFile(victim, "precious");
    fs::create_symlink(victim, sampleFile(true));
    AppViewModel& vm = makeWithPicker();
    vm.runBuiltInSampleBenchmark(true, false);
    settle();
    EXPECT_EQ(vm.errorMessage(), std::nullopt);
    EXPECT_EQ(pelora::testing::readFile(victim), "precious");
    EXPECT_FALSE(fs::is_symlink(sampleFile(true)));
}

}  // namespace
