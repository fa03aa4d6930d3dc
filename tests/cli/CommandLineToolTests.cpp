#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cli/CommandLineTool.h"
#include "engine/recognition/EngineMode.h"
#include "tests/support/ModelFixtures.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TempDir.h"

namespace pelora {
namespace {

const std::string kUsage = "Usage: pelora-voice-cli [--mode hybrid|eg2|ja] [--polish] <audio-or-video-file>\n";

TEST(CommandLineArgumentsTest, Parsing) {
    struct Case {
        std::vector<std::string> args;
        bool usage;
        EngineMode mode;
        bool polish;
        std::string path;
    };
    const Case cases[] = {
        {{"cli"}, true, EngineMode::hybridJaEn, false, ""},
        {{"cli", "--polish"}, true, EngineMode::hybridJaEn, true, ""},
        {{"cli", "--mode"}, true, EngineMode::hybridJaEn, false, ""},
        {{"cli", "-m", "eg2"}, true, EngineMode::pureEG2English, false, ""},
        {{"cli", "nope.wav", "-h"}, true, EngineMode::hybridJaEn, false, ""},
        {{"-h"}, true, EngineMode::hybridJaEn, false, ""},
        {{"cli", "a.wav", "--mode", "EG2"}, false, EngineMode::hybridJaEn, false, "a.wav"},
        {{"cli", "a.wav", "--mode", "ja", "--mode", "eg2"}, false, EngineMode::pureEG2English, false, "a.wav"},
        {{"cli", "a.wav", "-m", "apple_speech_ja"}, false, EngineMode::appleSpeechJa, false, "a.wav"},
        {{"cli", "a.wav", "-m", "en", "--polish"}, false, EngineMode::pureEG2English, true, "a.wav"},
        {{"cli", "a.wav", "-m", "pure_eg2_en", "-m", "hybrid"}, false, EngineMode::hybridJaEn, false, "a.wav"},
        {{"cli", "a.wav", "b.wav"}, false, EngineMode::hybridJaEn, false, "b.wav"},
        {{"cli", "-m", "ja", "a.wav", "--mode"}, false, EngineMode::appleSpeechJa, false, "a.wav"},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const auto& a : c.args) line += a + " ";
        cli::ParsedArguments p = cli::parseArguments(c.args);
        EXPECT_EQ(p.showUsage, c.usage) << line;
        if (c.usage) continue;
        EXPECT_EQ(p.mode, c.mode) << line;
        EXPECT_EQ(p.polish, c.polish) << line;
        EXPECT_EQ(p.inputPath, c.path) << line;
    }
}

// The built program, run with a home and data folder of its own so that no model folder is found.
class CommandLineToolTest : public ::testing::Test {
protected:
    testing::TempDir home;
    testing::CommandResult cli(std::vector<std::string> args) {
        args.insert(args.begin(), PELORA_CLI_PATH);
        return testing::runCommand(args, {{"HOME", home.path().string()},
                                          {"XDG_DATA_HOME", (home / "data").string()},
                                          {"XDG_CONFIG_HOME", (home / "config").string()},
                                          {"PELORAVOICE_MODEL_SERVER", "http://127.0.0.1:9"},
                                          {"LC_ALL", "de_DE.UTF-8"}});
    }
    std::string makeWav(const std::string& name) {
        std::string path = (home / name).string();
        testing::runChecked({"ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                             "sine=frequency=440:duration=0.5:sample_rate=16000", "-ac", "1", path});
        return path;
    }
};

TEST_F(CommandLineToolTest, UsageCases) {
    const std::vector<std::vector<std::string>> cases = {
        {}, {"--polish"}, {"--mode"}, {"-m", "eg2"}, {"nope.wav", "-h"}, {"--help"},
    };
    for (const auto& args : cases) {
        testing::CommandResult r = cli(args);
        std::string line;
        for (const auto& a : args) line += a + " ";
        EXPECT_EQ(r.exitCode, 0) << line;
        EXPECT_EQ(r.out, kUsage) << line;
        EXPECT_EQ(r.err, "") << line;
    }
}

TEST_F(CommandLineToolTest, MissingFileWritesOnlyTheErrorLine) {
    std::filesystem::path missing = home / "missing.wav";
    testing::CommandResult r = cli({missing.string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error: File not found: " + missing.string() + "\n");

    // A relative path is reported as the absolute path it resolves to.
    testing::CommandResult relative = testing::runCommand(
        {"/bin/sh", "-c", "cd " + home.path().string() + " && exec " + PELORA_CLI_PATH + " rel/missing.wav"});
    EXPECT_EQ(relative.err, "Error: File not found: " + (home / "rel/missing.wav").string() + "\n");
}

TEST_F(CommandLineToolTest, UndecodableFilesPrintTheBannerThenTheDecodeError) {
    testing::writeFile(home / "empty.wav", "");
    testing::writeFile(home / "noise.wav", std::string(4096, '\x5a'));
    for (const std::string name : {"empty.wav", "noise.wav"}) {
        testing::CommandResult r = cli({(home / name).string()});
        EXPECT_EQ(r.exitCode, 1) << name;
        EXPECT_EQ(r.err, "Error: 音声ファイルのデコードに失敗しました: " + name + "\n") << name;
        EXPECT_NE(r.out.find(" PeloraVoice2 CLI — EmbeddingGemma 2 + Japanese Ultra-Fast Dictation\n"),
                  std::string::npos);
        EXPECT_NE(r.out.find("• Engine Ready     : "), std::string::npos);
        EXPECT_NE(r.out.find(" ms (EG2 CoreML Loaded: NO)\n"), std::string::npos);
        EXPECT_NE(r.out.find("• Input File       : " + name + "\n"), std::string::npos);
        EXPECT_EQ(r.out.find("Audio Duration"), std::string::npos) << "no report after a failure";
    }
}

TEST_F(CommandLineToolTest, ModeAndPathSelection) {
    std::string a = makeWav("first.wav");
    std::string b = makeWav("second.wav");
    struct Case {
        std::vector<std::string> args;
        EngineMode mode;
        std::string file;
    };
    const Case cases[] = {
        {{a, "--mode", "EG2"}, EngineMode::hybridJaEn, "first.wav"},
        {{"--mode", "ja", "--mode", "eg2", a}, EngineMode::pureEG2English, "first.wav"},
        {{a, b}, EngineMode::hybridJaEn, "second.wav"},
        {{"-m", "ja", b}, EngineMode::appleSpeechJa, "second.wav"},
    };
    for (const Case& c : cases) {
        testing::CommandResult r = cli(c.args);
        std::string mode = "• Mode             : " + std::string(engine_mode::displayName(c.mode)) + "\n";
        EXPECT_NE(r.out.find(mode), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("• Input File       : " + c.file + "\n"), std::string::npos) << r.out;
    }
}

TEST_F(CommandLineToolTest, EG2ModeWithoutModelsFails) {
    std::string a = makeWav("tone.wav");
    testing::CommandResult r = cli({"--mode", "eg2", a});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Error: EG2モデルが見つかりません: ~/.local/share/ai.mosvik.eg2demo/models\n");
    EXPECT_NE(r.out.find("(EG2 CoreML Loaded: NO)"), std::string::npos);
}

// `pattern` matches `line` when equal, with each "#" standing for one decimal number.
bool matchesShape(const std::string& line, const std::string& pattern) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (j < pattern.size()) {
        if (pattern[j] == '#') {
            std::size_t start = i;
            while (i < line.size() && (std::isdigit(static_cast<unsigned char>(line[i])) || line[i] == '.')) ++i;
            if (i == start) return false;
            ++j;
        } else {
            if (i >= line.size() || line[i] != pattern[j]) return false;
            ++i;
            ++j;
        }
    }
    return i == line.size();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// A whole report, line by line, from a real run of the EG2 pipeline over the synthetic
// model folder (its tones read as "hello", "world" and "api").
TEST_F(CommandLineToolTest, FullReportOfASuccessfulRun) {
    testing::makeEG2ModelFolder(home / "data" / "PeloraVoice2" / "models");
    std::string wav = (home / "tones.wav").string();
    testing::runChecked({"ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                         "aevalsrc=if(between(t\\,0.2\\,0.8)\\,0.5*sin(2*PI*500*t)\\,"
                         "if(between(t\\,1.3\\,1.9)\\,0.5*sin(2*PI*2000*t)\\,"
                         "if(between(t\\,2.4\\,3.0)\\,0.5*sin(2*PI*4000*t)\\,0))):s=16000:d=3.2",
                         "-ac", "1", "-c:a", "pcm_s16le", wav});
    testing::CommandResult r = cli({"--mode", "eg2", wav});
    ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
    EXPECT_EQ(r.err, "");

    const std::string heavy = [] {
        std::string s;
        for (int i = 0; i < 68; ++i) s += "━";
        return s;
    }();
    const std::string light = [] {
        std::string s;
        for (int i = 0; i < 68; ++i) s += "─";
        return s;
    }();
    const std::vector<std::string> expected = {
        heavy,
        " PeloraVoice2 CLI — EmbeddingGemma 2 + Japanese Ultra-Fast Dictation",
        heavy,
        "• Engine Ready     : # ms (EG2 CoreML Loaded: YES)",
        "• Mode             : Pure EG2 CoreML（英語22.9万語ベクトル直引き）",
        "• Input File       : tones.wav",
        light,
        "• Audio Duration   : 3.20 s",
        "• Total Latency    : # ms (#× Real-Time)",
        "  ├─ LogMel (vDSP) : # ms",
        "  ├─ EG2 L11 (ANE) : # ms",
        "  ├─ Reader P6     : # ms",
        "  ├─ Scorer+Rerank : # ms",
        "  ├─ JA Speech ANE : 0.0 ms",
        "  └─ JA Post-Rules : 0.0 ms",
        "• EG2 768-D Terms  : hello, world, api",
        "• Applied JA Rules : HeadOnlyPunct (punct_headonly.mlmodelc + punct_case.json)",
        light,
        "[Raw ASR Output]",
        "hello world api",
        light,
        "[Final Formatted Output]",
        "Hello world. API.",
        light,
        "[Segmented Timestamps (3 tokens / 2 pauses)]",
        "[#s → #s] Hello (EG2)",
        "[#s → #s] world. (EG2)",
        "[#s → #s] API (EG2)",
        heavy,
    };
    std::vector<std::string> got = lines(r.out);
    ASSERT_EQ(got.size(), expected.size()) << r.out;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const std::string& pattern = expected[i];
        EXPECT_TRUE(matchesShape(got[i], pattern)) << "line " << i + 1 << ": " << got[i] << "\n  wanted: " << pattern;
    }
}

}  // namespace
}  // namespace pelora
