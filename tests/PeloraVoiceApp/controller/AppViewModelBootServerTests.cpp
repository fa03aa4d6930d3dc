// The boot against the real engine, downloading from a model server on 127.0.0.1. The
// engine reads its server and data folder once per process, so each test runs alone in a
// fresh process of this program.
#include "tests/PeloraVoiceApp/controller/ControllerFakes.h"

#include "PeloraVoiceApp/QtMainThreadScheduler.h"
#include "PeloraVoiceApp/controller/PeloraDictationEngine.h"
#include "engine/recognition/JapaneseSpeechAssets.h"
#include "engine/recognition/ModelManager.h"
#include "platform/http/Sha256.h"
#include "tests/support/LocalHttpServer.h"
#include "tests/support/ModelFixtures.h"
#include "tests/support/RerunTest.h"
#include "tests/support/TempDir.h"
#include "tests/support/TinyWhisperModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include <cstdlib>

using namespace pelora;
using namespace pelora::controller_testing;
using ::testing::HasSubstr;
using ::testing::StartsWith;
namespace fs = std::filesystem;

namespace {

// The controller over the real engine, real workers and the Qt main loop; everything else
// is fake. Made inside the fresh process, after the environment is set.
class RealEngineBoot : public ControllerFakes {
public:
    RealEngineBoot() {
        model = std::make_unique<AppViewModel>(over(scheduler, std::make_shared<PeloraDictationEngine>()));
        trail.model = model.get();
        model->addListener(&trail);
    }

    // Boots and runs the main loop until the boot ended (or a generous limit passed).
    void boot() {
        trail.statuses.clear();
        model->bootEngine();
        QElapsedTimer clock;
        clock.start();
        while (model->isLoadingEngine() && clock.elapsed() < 300'000)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        ASSERT_FALSE(model->isLoadingEngine()) << "the boot did not end";
        // Anything still queued behind the end arrives now.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    }

    struct Trail : AppViewModelListener {
        const AppViewModel* model = nullptr;
        std::vector<std::string> statuses;
        void appViewModelDidChange(AppViewModelProperty property) override {
            if (property == AppViewModelProperty::engineStatusText) statuses.push_back(model->engineStatusText());
        }
    } trail;

    QtMainThreadScheduler scheduler;
    std::unique_ptr<AppViewModel> model;
};

class BootServerTest : public ::testing::Test {
protected:
    // True in the test's own process, which only waits for the fresh one.
    bool inParent() { return pelora::testing::rerunCurrentTestIn({}, {}); }

    // The data folder and the model server's address, fixed for this process.
    void useEnvironment(const std::string& server) {
        setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
        setenv("HOME", home.path().c_str(), 1);
        setenv(ModelManager::serverEnvironmentVariable, server.c_str(), 1);
        unsetenv(JapaneseSpeechAssets::modelEnvironmentVariable);
        static int argc = 1;
        static char name[] = "boot-tests";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QCoreApplication>(argc, argv);
    }

    pelora::testing::TempDir home;
    std::unique_ptr<QCoreApplication> app;
};

struct ServedFile {
    std::string path;
    std::string bytes;
};

std::string manifestOf(const std::vector<ServedFile>& files, const std::string& urlPrefix) {
    nlohmann::json list = nlohmann::json::array();
    std::int64_t total = 0;
    for (const auto& f : files) {
        list.push_back({{"path", f.path},
                        {"url", urlPrefix + f.path},
                        {"size", f.bytes.size()},
                        {"sha256", http::sha256Hex(f.bytes)}});
        total += static_cast<std::int64_t>(f.bytes.size());
    }
    return nlohmann::json{{"version", 5}, {"total_bytes", total}, {"files", list}}.dump();
}

TEST_F(BootServerTest, FirstLaunchDownloadsEverythingAndEndsReady) {
    if (inParent()) return;
    pelora::testing::LocalHttpServer server;
    useEnvironment(server.baseURL());

    // The tiny EG2 model set and the tiny speech model, as the server offers them.
    const fs::path fixture = home / "fixture";
    pelora::testing::makeEG2ModelFolder(fixture);
    std::vector<ServedFile> models;
    for (const auto& entry : fs::recursive_directory_iterator(fixture))
        if (entry.is_regular_file())
            models.push_back({fs::relative(entry.path(), fixture).generic_string(), pelora::testing::readFile(entry.path())});
    std::sort(models.begin(), models.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
    server.serve("/models/v5/manifest.json",
                 pelora::testing::LocalHttpServer::Reply::ok(manifestOf(models, "v5/files/"), "application/json"));
    for (const auto& f : models)
        server.serve("/models/v5/files/" + f.path, pelora::testing::LocalHttpServer::Reply::ok(f.bytes));
    pelora::testing::writeTinyWhisperModel(home / "ggml-tiny-random.bin");
    const std::vector<ServedFile> speech = {
        {"ggml-tiny-random.bin", pelora::testing::readFile(home / "ggml-tiny-random.bin")}};
    server.serve("/models/speech/ja/v1/manifest.json",
                 pelora::testing::LocalHttpServer::Reply::ok(manifestOf(speech, ""), "application/json"));
    server.serve("/models/speech/ja/v1/ggml-tiny-random.bin",
                 pelora::testing::LocalHttpServer::Reply::ok(speech[0].bytes));

    RealEngineBoot controller;
    controller.boot();

    std::vector<std::string> expected = {"音声認識エンジンを準備中...", "音声認識モデル構成を取得中..."};
    std::int64_t total = 0, completed = 0;
    for (const auto& f : models) total += static_cast<std::int64_t>(f.bytes.size());
    for (const auto& f : models) {
        expected.push_back(ModelManager::progressLine(completed, total));
        completed += static_cast<std::int64_t>(f.bytes.size());
    }
    expected.push_back("日本語オンデバイス音声認識アセットをインストール中...");
    expected.push_back("準備完了");
    // A line equal to the one shown is no change.
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    EXPECT_EQ(controller.trail.statuses, expected);
    EXPECT_TRUE(controller.model->isEngineLoaded());
    ASSERT_TRUE(controller.model->transcriber());
    EXPECT_TRUE(controller.model->transcriber()->isEG2Loaded());
    EXPECT_EQ(controller.model->errorMessage(), std::nullopt);
    EXPECT_TRUE(controller.cues.played.empty());
    EXPECT_TRUE(fs::exists(home / "data" / "PeloraVoice2" / "speech" / "ja" / "ggml-tiny-random.bin"));

    // Booted with the acoustic model: a second boot does nothing, and asks the server nothing.
    server.clearRequests();
    controller.model->bootEngine();
    EXPECT_FALSE(controller.model->isLoadingEngine());
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(BootServerTest, WithTheServerGoneTheBootSaysWhatIsMissing) {
    if (inParent()) return;
    std::string deadServer;
    {
        pelora::testing::LocalHttpServer server;
        deadServer = server.baseURL();
    }
    useEnvironment(deadServer);
    const fs::path speechFolder = home / "data" / "PeloraVoice2" / "speech" / "ja";

    // No speech model: Japanese cannot work, and the status says why and where it goes.
    RealEngineBoot controller;
    controller.boot();
    const auto& statuses = controller.trail.statuses;
    ASSERT_EQ(statuses.size(), 4u) << ::testing::PrintToString(statuses);
    EXPECT_EQ(statuses[0], "音声認識エンジンを準備中...");
    EXPECT_EQ(statuses[1], "音声認識モデル構成を取得中...");
    EXPECT_EQ(statuses[2], "日本語オンデバイス音声認識アセットをインストール中...");
    EXPECT_THAT(statuses[3], StartsWith("日本語音声認識モデルをダウンロードできませんでした ("));
    EXPECT_THAT(statuses[3], HasSubstr(speechFolder.string()));
    EXPECT_THAT(statuses[3], HasSubstr("PELORAVOICE_SPEECH_MODEL"));
    EXPECT_FALSE(controller.model->isEngineLoaded());
    EXPECT_TRUE(controller.model->transcriber());
    EXPECT_EQ(controller.model->errorMessage(), std::nullopt);
    EXPECT_TRUE(controller.cues.played.empty());

    // The user puts a speech model in place and boots again: the Japanese-only end.
    pelora::testing::writeTinyWhisperModel(speechFolder / "ggml-tiny-random.bin");
    controller.boot();
    EXPECT_EQ(controller.trail.statuses, (std::vector<std::string>{"音声認識エンジンを準備中...",
                                                                   "音声認識モデル構成を取得中...",
                                                                   "準備完了 (日本語モード)"}));
    EXPECT_FALSE(controller.model->isEngineLoaded());
    EXPECT_EQ(controller.model->errorMessage(), std::nullopt);
    EXPECT_TRUE(controller.cues.played.empty());
}

}  // namespace
