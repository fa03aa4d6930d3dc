// The benchmark's spoken samples: the private folder they are written to, and the
// synthesiser run with a time limit, real espeak-ng and stand-ins that fail.
#include "PeloraVoiceApp/controller/BenchmarkSpeechSynthesizer.h"

#include "engine/recognition/AudioDecoder.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

using namespace pelora;
using pelora::testing::ScopedEnvironment;
using pelora::testing::TempDir;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

unsigned modeOf(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return 0;
    return info.st_mode & 07777;
}

std::string folderError() {
    try {
        BenchmarkSpeechSynthesizer::privateSampleFolder();
    } catch (const BenchmarkSpeechSynthesizer::Error& error) {
        return error.what();
    }
    return "";
}

TEST(BenchmarkSampleFolder, IsThisUsersOwnAndPrivate) {
    TempDir runtime, temporary;
    const std::string perUser = "PeloraVoice2-" + std::to_string(::getuid());
    struct Case {
        const char* name;
        std::optional<std::string> runtimeDir;
        std::optional<std::string> tmpDir;
        std::function<void()> before;  // what lies there already
        fs::path expected;             // empty: refused
    };
    const Case cases[] = {
        {"the runtime folder", runtime.path().string(), temporary.path().string(), {},
         runtime.path() / "PeloraVoice2"},
        {"no runtime folder: under TMPDIR", std::nullopt, temporary.path().string(), {},
         temporary.path() / perUser},
        {"a relative runtime folder is not used", std::string("relative/run"), temporary.path().string(), {},
         temporary.path() / perUser},
        {"a runtime folder that cannot hold ours", (runtime.path() / "absent" / "deeper").string(),
         temporary.path().string(), {}, temporary.path() / perUser},
        {"a loose mode of our own folder is tightened", std::nullopt, temporary.path().string(),
         [&] {
             fs::create_directory(temporary.path() / perUser);
             ::chmod((temporary.path() / perUser).c_str(), 0777);
         },
         temporary.path() / perUser},
        {"a planted symlink is refused", std::nullopt, temporary.path().string(),
         [&] {
             fs::create_directory(temporary.path() / "elsewhere");
             fs::create_directory_symlink(temporary.path() / "elsewhere", temporary.path() / perUser);
         },
         {}},
        {"a planted file is refused", std::nullopt, temporary.path().string(),
         [&] { pelora::testing::writeFile(temporary.path() / perUser, "x"); }, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(runtime.path() / "PeloraVoice2");
        fs::remove_all(temporary.path() / perUser);
        fs::remove_all(temporary.path() / "elsewhere");
        if (c.before) c.before();
        ScopedEnvironment runtimeVariable("XDG_RUNTIME_DIR", c.runtimeDir);
        ScopedEnvironment tmpVariable("TMPDIR", c.tmpDir);
        if (c.expected.empty()) {
            EXPECT_NE(folderError().find((temporary.path() / perUser).string()), std::string::npos) << folderError();
            continue;
        }
        EXPECT_EQ(BenchmarkSpeechSynthesizer::privateSampleFolder(), c.expected);
        EXPECT_TRUE(fs::is_directory(fs::symlink_status(c.expected)));
        EXPECT_EQ(modeOf(c.expected), 0700u);
    }
}

TEST(BenchmarkSampleFolder, AnotherUsersFolderIsRefused) {
    if (::getuid() != 0) GTEST_SKIP() << "needs root to hand a folder to another user";
    TempDir temporary;
    const fs::path folder = temporary.path() / ("PeloraVoice2-" + std::to_string(::getuid()));
    fs::create_directory(folder);
    ::chmod(folder.c_str(), 0700);
    ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
    ScopedEnvironment runtimeVariable("XDG_RUNTIME_DIR", std::nullopt);
    ScopedEnvironment tmpVariable("TMPDIR", temporary.path().string());
    EXPECT_EQ(folderError(), "作業フォルダ " + folder.string() + " は他のユーザーのものです");
}

// ---- the synthesiser ----

class SpeechTool : public ::testing::Test {
protected:
    // A stand-in tool named espeak-ng: a shell script with `body`.
    BenchmarkSpeechSynthesizer::Tool standIn(const std::string& body, std::chrono::milliseconds limit = 60s) {
        const fs::path program = dir_.path() / "bin" / "espeak-ng";
        pelora::testing::writeFile(program, "#!/bin/sh\n" + body + "\n");
        fs::permissions(program, fs::perms::owner_all);
        return {program, limit};
    }
    std::string failure(const BenchmarkSpeechSynthesizer::Tool& tool, const fs::path& output) {
        try {
            BenchmarkSpeechSynthesizer::speak(tool, "ja", output, "テスト");
        } catch (const BenchmarkSpeechSynthesizer::Error& error) {
            return error.what();
        }
        return "";
    }
    TempDir dir_;
};

TEST_F(SpeechTool, RealSynthesiserWritesASampleTheDecoderReads) {
    const fs::path output = dir_.path() / "pelora_benchmark_en.wav";
    pelora::testing::writeFile(output, "an earlier run");
    BenchmarkSpeechSynthesizer::speak({}, "en-us", output, "Embedding Gemma two uses a four stage audio encoder.");
    const std::vector<float> samples = AudioDecoder::decode16kMono(output, {});
    EXPECT_GT(samples.size(), 16000u) << "more than a second of speech at 16 kHz";
}

TEST_F(SpeechTool, FailuresNameTheTool) {
    const fs::path output = dir_.path() / "pelora_benchmark_ja.wav";
    struct Case {
        const char* name;
        std::function<BenchmarkSpeechSynthesizer::Tool()> tool;
        std::string message;
    };
    const Case cases[] = {
        {"cannot start", [&] { return BenchmarkSpeechSynthesizer::Tool{dir_.path() / "missing" / "espeak-ng"}; },
         "音声合成ツール espeak-ng を起動できません: No such file or directory"},
        {"not executable",
         [&] {
             auto tool = standIn("exit 0");
             fs::permissions(tool.program, fs::perms::owner_read);
             return tool;
         },
         "音声合成ツール espeak-ng を起動できません: Permission denied"},
        {"non-zero exit, with a file written", [&] { return standIn("echo RIFF > \"$4\"; exit 3"); },
         "音声合成ツール espeak-ng が終了コード 3 で失敗しました"},
        {"killed", [&] { return standIn("kill -9 $$"); }, "音声合成ツール espeak-ng が異常終了しました"},
        {"hangs", [&] { return standIn("exec sleep 600", 2000ms); },
         "音声合成ツール espeak-ng が 2 秒以内に終了しなかったため停止しました"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(failure(c.tool(), output), c.message);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 30s) << "the limit ends a hung tool";
    }
}

TEST_F(SpeechTool, ArgumentsAndAnEarlierFileOrPlantedLink) {
    // The stand-in records its arguments and writes its output where it was told.
    const fs::path argsFile = dir_.path() / "args";
    const auto tool = standIn("for a in \"$@\"; do echo \"$a\"; done > '" + argsFile.string() + "'; echo new > \"$4\"");
    const fs::path output = dir_.path() / "pelora_benchmark_ja.wav";
    const fs::path victim = dir_.path() / "victim";
    pelora::testing::writeFile(victim, "precious");
    fs::create_symlink(victim, output);

    BenchmarkSpeechSynthesizer::speak(tool, "ja", output, "えーと、本日の");
    EXPECT_EQ(pelora::testing::readFile(argsFile), "-v\nja\n-w\n" + output.string() + "\nえーと、本日の\n");
    EXPECT_EQ(pelora::testing::readFile(victim), "precious") << "the link is removed, not followed";
    EXPECT_FALSE(fs::is_symlink(output));
    EXPECT_EQ(pelora::testing::readFile(output), "new\n");

    // A tool that fails leaves no earlier recording behind to be transcribed.
    EXPECT_EQ(failure(standIn("exit 1"), output), "音声合成ツール espeak-ng が終了コード 1 で失敗しました");
    EXPECT_FALSE(fs::exists(output));
}

}  // namespace
