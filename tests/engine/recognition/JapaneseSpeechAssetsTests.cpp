#include "engine/recognition/JapaneseSpeechAssets.h"

#include <cmath>
#include <future>
#include <set>
#include <numbers>

#include <gtest/gtest.h>

#include "engine/recognition/ModelManager.h"
#include "engine/recognition/SpeechAnalyzerTranscription.h"
#include "platform/http/Sha256.h"
#include "tests/support/LocalHttpServer.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TempDir.h"
#include "tests/support/TinyWhisperModel.h"

namespace pelora {
namespace {

namespace fs = std::filesystem;
using testing::LocalHttpServer;
using testing::TempDir;

constexpr const char* kManifestPath = "/models/speech/ja/v1/manifest.json";
constexpr const char* kModelPath = "/models/speech/ja/v1/ggml-tiny-random.bin";

std::vector<std::string> folderContents(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

LocalHttpServer::Reply reply(std::string body, std::string contentType = "application/octet-stream") {
    LocalHttpServer::Reply r;
    r.body = std::move(body);
    r.contentType = std::move(contentType);
    return r;
}

// Voice-like sound: a tone with harmonics whose loudness rises and falls.
std::vector<float> voiceLike(double seconds) {
    std::vector<float> samples(static_cast<std::size_t>(seconds * 16000));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i) / 16000;
        double v = 0;
        for (int h = 1; h <= 5; ++h) v += std::sin(2 * std::numbers::pi * 140 * h * t) / h;
        samples[i] = static_cast<float>(0.2 * std::max(0.0, std::sin(2 * std::numbers::pi * 1.7 * t)) * v);
    }
    return samples;
}

// The model server on 127.0.0.1 offering a tiny speech model, and a recogniser whose
// assets install from it into a folder of the test.
class JapaneseSpeechAssetsTest : public ::testing::Test {
public:
    static void SetUpTestSuite() {
        TempDir dir;
        testing::writeTinyWhisperModel(dir / "model.bin");
        model_ = new std::string(testing::readFile(dir / "model.bin"));
    }
    static void TearDownTestSuite() {
        delete model_;
        model_ = nullptr;
    }

    void serveManifest(const std::string& sha256, std::int64_t size) {
        const std::string manifest = R"({"total_bytes":)" + std::to_string(size) +
                                     R"(,"version":1,"files":[{"sha256":")" + sha256 +
                                     R"(","url":"ggml-tiny-random.bin","size":)" + std::to_string(size) +
                                     R"(,"path":"ggml-tiny-random.bin"}]})";
        server_.serve(kManifestPath, reply(manifest, "application/json"));
    }

    void serveModel(const std::string& bytes) { server_.serve(kModelPath, reply(bytes)); }

    std::shared_ptr<speech::SpeechRecognition> recognition(const std::string& manifestURL) {
        return speech::makeSpeechRecognition(
            {folder_, std::nullopt, [manifestURL](const fs::path& f, const speech::AssetProgressCallback&) { JapaneseSpeechAssets::installAssets(f, manifestURL); }});
    }

    std::vector<std::string> progress_;
    JapaneseSpeechAssets::ProgressCallback onProgress_ = [this](const std::string& line) { progress_.push_back(line); };

    static std::string* model_;
    LocalHttpServer server_;
    TempDir dir_;
    fs::path folder_ = dir_ / "PeloraVoice2" / "speech" / "ja";
};

std::string* JapaneseSpeechAssetsTest::model_ = nullptr;

TEST_F(JapaneseSpeechAssetsTest, InstalledAssetsAskNothingOfTheServer) {
    testing::writeFile(folder_ / "ggml-small.bin", *model_);
    auto recognition = this->recognition(server_.url(kManifestPath));
    EXPECT_EQ(JapaneseSpeechAssets::ensureJapaneseSpeechAssets(*recognition, onProgress_), "ja_JP");
    EXPECT_TRUE(progress_.empty());
    EXPECT_TRUE(server_.requests().empty());
}

TEST_F(JapaneseSpeechAssetsTest, MissingAssetsAreDownloadedVerifiedAndThenInstalled) {
    serveManifest(http::sha256Hex(*model_), static_cast<std::int64_t>(model_->size()));
    serveModel(*model_);
    auto recognition = this->recognition(server_.url(kManifestPath));
    ASSERT_EQ(recognition->assetStatus("ja_JP"), speech::AssetStatus::supported);

    EXPECT_EQ(JapaneseSpeechAssets::ensureJapaneseSpeechAssets(*recognition, onProgress_), "ja_JP");
    EXPECT_EQ(progress_, std::vector<std::string>{JapaneseSpeechAssets::installingProgressText});
    EXPECT_EQ(server_.requestCount(kManifestPath), 1u);
    EXPECT_EQ(server_.requestCount(kModelPath), 1u);
    EXPECT_EQ(folderContents(folder_), (std::vector<std::string>{"ggml-tiny-random.bin", "manifest.json"}));
    EXPECT_EQ(testing::readFile(folder_ / "ggml-tiny-random.bin"), *model_);
    EXPECT_EQ(recognition->assetStatus("ja_JP"), speech::AssetStatus::installed);

    // Installed now: the next call neither reports nor asks.
    progress_.clear();
    server_.clearRequests();
    JapaneseSpeechAssets::ensureJapaneseSpeechAssets(*recognition, onProgress_);
    EXPECT_TRUE(progress_.empty());
    EXPECT_TRUE(server_.requests().empty());

    // And the recogniser runs on what was installed.
    SpeechAnalyzerTranscription transcription(recognition);
    const std::vector<float> samples = voiceLike(3);
    const JapaneseSpeechTranscript transcript = transcription.transcribeWithSpeechAnalyzer(samples, "JA-ANE");
    ASSERT_FALSE(transcript.runs.empty()) << "text: " << transcript.text;
    for (const TranscribedWord& word : transcript.runs) {
        EXPECT_EQ(word.source, "JA-ANE");
        EXPECT_GE(word.start, 0);
        EXPECT_GE(word.end, word.start);
        EXPECT_LE(word.end, 3.0);
    }
}

TEST_F(JapaneseSpeechAssetsTest, FailedInstallationsLeaveNothingBehindAndNameTheFolder) {
    struct Case {
        const char* name;
        std::function<void(JapaneseSpeechAssetsTest&)> serve;
        std::string expectedPart;
    };
    const Case cases[] = {
        {"digest mismatch",
         [](JapaneseSpeechAssetsTest& t) {
             t.serveManifest(http::sha256Hex("something else"), static_cast<std::int64_t>(model_->size()));
             t.serveModel(*model_);
         },
         "SHA-256"},
        {"size mismatch",
         [](JapaneseSpeechAssetsTest& t) {
             t.serveManifest(http::sha256Hex(*model_), static_cast<std::int64_t>(model_->size()) + 1);
             t.serveModel(*model_);
         },
         "SHA-256"},
        {"model file missing on the server",
         [](JapaneseSpeechAssetsTest& t) {
             t.serveManifest(http::sha256Hex(*model_), static_cast<std::int64_t>(model_->size()));
         },
         "HTTP 404"},
        {"no manifest on the server", [](JapaneseSpeechAssetsTest&) {}, "HTTP 404"},
        {"manifest that is not JSON",
         [](JapaneseSpeechAssetsTest& t) { t.server_.serve(kManifestPath, reply("<html>", "text/html")); }, ""},
        {"connection dropped mid-file",
         [](JapaneseSpeechAssetsTest& t) {
             t.serveManifest(http::sha256Hex(*model_), static_cast<std::int64_t>(model_->size()));
             LocalHttpServer::Reply cut = reply(*model_);
             cut.dropAfterBytes = model_->size() / 2;
             t.server_.serve(kModelPath, cut);
         },
         ""},
    };
    for (const Case& c : cases) {
        server_.clearRoutes();
        c.serve(*this);
        auto recognition = this->recognition(server_.url(kManifestPath));
        progress_.clear();
        try {
            JapaneseSpeechAssets::ensureJapaneseSpeechAssets(*recognition, onProgress_);
            ADD_FAILURE() << c.name << ": expected an error";
        } catch (const speech::SpeechRecognitionError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find(c.expectedPart), std::string::npos) << c.name << ": " << message;
            EXPECT_NE(message.find(folder_.string()), std::string::npos) << c.name << ": " << message;
        }
        EXPECT_EQ(progress_.size(), 1u) << c.name;
        EXPECT_TRUE(folderContents(folder_).empty()) << c.name << ": " << ::testing::PrintToString(folderContents(folder_));
        EXPECT_EQ(recognition->assetStatus("ja_JP"), speech::AssetStatus::supported) << c.name;
    }
}

TEST_F(JapaneseSpeechAssetsTest, AFailureOnALaterFileLeavesTheEarlierOneUninstalledUntilAllArrive) {
    const std::string extra = "vocabulary notes";
    const std::string manifest =
        R"({"total_bytes":1,"version":1,"files":[{"sha256":")" + http::sha256Hex(*model_) +
        R"(","url":"ggml-tiny-random.bin","size":)" + std::to_string(model_->size()) +
        R"(,"path":"ggml-tiny-random.bin"},{"sha256":")" + http::sha256Hex(extra) + R"(","url":"notes.txt","size":)" +
        std::to_string(extra.size()) + R"(,"path":"notes.txt"}]})";
    server_.serve(kManifestPath, reply(manifest, "application/json"));
    serveModel(*model_);
    auto recognition = this->recognition(server_.url(kManifestPath));
    EXPECT_THROW(JapaneseSpeechAssets::ensureJapaneseSpeechAssets(*recognition, {}), speech::SpeechRecognitionError);
    EXPECT_EQ(recognition->assetStatus("ja_JP"), speech::AssetStatus::supported)
        << "the verified model is not installed while the installation failed";
    EXPECT_FALSE(fs::exists(folder_ / "ggml-tiny-random.bin"));

    server_.serve("/models/speech/ja/v1/notes.txt", reply(extra));
    EXPECT_NO_THROW(JapaneseSpeechAssets::ensureJapaneseSpeechAssets(*recognition, {}));
    EXPECT_EQ(recognition->assetStatus("ja_JP"), speech::AssetStatus::installed);
    EXPECT_EQ(folderContents(folder_), (std::vector<std::string>{"ggml-tiny-random.bin", "manifest.json", "notes.txt"}));
    EXPECT_EQ(server_.requestCount(kModelPath), 1u) << "the file verified the first time is not fetched again";
}

TEST_F(JapaneseSpeechAssetsTest, WithoutNetworkTheErrorSaysWhereAModelCanBePlaced) {
    std::string unreachable;
    {
        LocalHttpServer closed;  // its port is free again once it stops
        unreachable = closed.url(kManifestPath);
    }
    auto recognition = this->recognition(unreachable);
    try {
        JapaneseSpeechAssets::ensureJapaneseSpeechAssets(*recognition, {});
        FAIL() << "expected an error";
    } catch (const speech::SpeechRecognitionError& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find("ダウンロード"), std::string::npos) << message;
        EXPECT_NE(message.find(folder_.string()), std::string::npos) << message;
    }
    // A model placed there by hand is then used as it is.
    testing::writeFile(folder_ / "ggml-small.bin", *model_);
    EXPECT_EQ(recognition->assetStatus("ja_JP"), speech::AssetStatus::installed);
    EXPECT_NO_THROW(JapaneseSpeechAssets::ensureJapaneseSpeechAssets(*recognition, {}));
}

TEST(JapaneseSpeechAssetLocations, FollowTheDataFolderAndTheModelServer) {
    EXPECT_EQ(JapaneseSpeechAssets::assetDirectory(),
              ModelManager::applicationSupportDirectory() / "PeloraVoice2" / "speech" / "ja");
    EXPECT_EQ(JapaneseSpeechAssets::remoteManifestURL(), ModelManager::remoteBaseURL() + "speech/ja/v1/manifest.json");
}

// The command-line tool's Japanese and default modes recognise through an installed model:
// one in the asset folder, one named by the environment beside an empty asset folder.
TEST_F(JapaneseSpeechAssetsTest, CommandLineToolRecognisesJapaneseWithTheInstalledModel) {
    TempDir home;
    testing::writeFile(home / "data" / "PeloraVoice2" / "speech" / "ja" / "ggml-tiny-random.bin", *model_);
    testing::writeFile(home / "elsewhere" / "model.bin", *model_);
    const std::string wave = (home / "speech.wav").string();
    testing::runChecked({"ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                         "sine=frequency=220:duration=2:sample_rate=16000", "-ac", "1", wave});
    const std::map<std::string, std::string> environment = {
        {"HOME", home.path().string()},
        {"XDG_DATA_HOME", (home / "data").string()},
        {"TMPDIR", home.path().string()},
        {"PELORAVOICE_MODEL_SERVER", server_.baseURL()},
    };
    auto named = environment;
    named["XDG_DATA_HOME"] = (home / "empty").string();
    named[JapaneseSpeechAssets::modelEnvironmentVariable] = (home / "elsewhere" / "model.bin").string();
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        std::map<std::string, std::string> environment;
    };
    const Case cases[] = {
        {"Japanese mode, model in the asset folder", {"--mode", "ja", wave}, environment},
        {"default hybrid mode, model named by the environment", {wave}, named},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv = {PELORA_CLI_PATH};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        const testing::CommandResult r = testing::runCommand(argv, c.environment);
        EXPECT_EQ(r.exitCode, 0) << c.name << "\n" << r.err << r.out;
        EXPECT_EQ(r.err, "") << c.name;
        EXPECT_NE(r.out.find("[Final Formatted Output]"), std::string::npos) << c.name << "\n" << r.out;
    }
    EXPECT_TRUE(server_.requests().empty()) << "an installed model is not downloaded";
    EXPECT_FALSE(fs::exists(home / "empty")) << "nothing is installed beside a named model";
    std::vector<std::string> leftovers;
    for (const std::string& name : folderContents(home.path())) {
        if (name.starts_with("peloravoice_")) leftovers.push_back(name);
    }
    EXPECT_TRUE(leftovers.empty()) << ::testing::PrintToString(leftovers);
}

// Ctrl-C or SIGTERM ends the process without any clean-up of ours; the recogniser gets the
// samples in memory, so there is no temporary file for an interruption to leave behind.
TEST_F(JapaneseSpeechAssetsTest, RecognitionWritesNoTemporaryFileAnInterruptionCouldLeave) {
    TempDir home;
    testing::writeFile(home / "data" / "PeloraVoice2" / "speech" / "ja" / "ggml-tiny-random.bin", *model_);
    const std::string wave = (home / "speech.wav").string();
    testing::runChecked({"ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                         "sine=frequency=220:duration=4:sample_rate=16000", "-ac", "1", "-c:a", "pcm_f32le", wave});
    const fs::path tmp = home / "tmp";
    fs::create_directories(tmp);
    auto run = std::async(std::launch::async, [&] {
        return testing::runCommand({PELORA_CLI_PATH, "--mode", "ja", wave},
                                   {{"HOME", home.path().string()},
                                    {"XDG_DATA_HOME", (home / "data").string()},
                                    {"TMPDIR", tmp.string()},
                                    {"PELORAVOICE_MODEL_SERVER", server_.baseURL()}},
                                   std::chrono::seconds(600));  // a loaded machine may be slow
    });
    std::set<std::string> seen;
    do {
        for (const std::string& name : folderContents(tmp)) seen.insert(name);
    } while (run.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready);
    const testing::CommandResult r = run.get();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(seen.empty()) << "files that existed during the run: " << ::testing::PrintToString(seen);
}

TEST_F(JapaneseSpeechAssetsTest, CommandLineToolWithoutAModelAndNetworkSaysWhereToPutOne) {
    TempDir home;
    const std::string wave = (home / "speech.wav").string();
    testing::runChecked({"ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                         "sine=frequency=220:duration=1:sample_rate=16000", "-ac", "1", wave});
    std::string unreachable;
    {
        LocalHttpServer closed;
        unreachable = closed.baseURL();
    }
    const testing::CommandResult r =
        testing::runCommand({PELORA_CLI_PATH, "--mode", "ja", wave}, {{"HOME", home.path().string()},
                                                                      {"XDG_DATA_HOME", (home / "data").string()},
                                                                      {"PELORAVOICE_MODEL_SERVER", unreachable}});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find((home / "data" / "PeloraVoice2" / "speech" / "ja").string()), std::string::npos) << r.err;
}

}  // namespace
}  // namespace pelora
