#include "tests/PeloraVoiceApp/controller/ControllerFakes.h"

#include "engine/recognition/PeloraVoiceError.h"

using namespace pelora;
using namespace pelora::controller_testing;

namespace {

// Every value engineStatusText takes, in order.
struct StatusTrail : AppViewModelListener {
    const AppViewModel* model = nullptr;
    std::vector<std::string> statuses;
    void appViewModelDidChange(AppViewModelProperty property) override {
        if (property == AppViewModelProperty::engineStatusText) statuses.push_back(model->engineStatusText());
    }
};

class BootFixture : public ControllerFixture {
protected:
    StatusTrail trail;

    AppViewModel& makeWatched() {
        AppViewModel& vm = make();
        trail = {};
        trail.model = &vm;
        vm.addListener(&trail);
        return vm;
    }
    // The boot's worker, then everything it posted.
    void finishWork() {
        workers.runAll();
        scheduler.runPosted();
    }
};

const std::string starting = "音声認識エンジンを準備中...";
const std::string ready = "準備完了";
const std::string japaneseOnly = "準備完了 (日本語モード)";

TEST_F(BootFixture, StatusFollowsTheEngineToItsEnd) {
    const std::string assetError =
        "日本語音声認識モデルをダウンロードできませんでした (HTTP 404)。日本語対応の whisper.cpp 形式 (ggml) のモデルファイル "
        "(.bin) を /data/PeloraVoice2/speech/ja に置くか、環境変数 PELORAVOICE_SPEECH_MODEL でそのファイルを指定してください。";
    struct Case {
        const char* name;
        bool modelsPresent;
        std::optional<std::string> downloadFailure;
        std::optional<std::string> assetFailure;
        bool eg2;
        std::optional<std::string> buildFailure;
        std::vector<std::string> statuses;
        bool loaded;
        bool hasTranscriber;
        int downloads;
    };
    const Case cases[] = {
        {"models present", true, {}, {}, true, {}, {starting, "asset", ready}, true, true, 0},
        {"models downloaded", false, {}, {}, true, {}, {starting, "m1", "m2", "asset", ready}, true, true, 1},
        {"download failed", false, "offline", {}, false, {}, {starting, "m1", "m2", "asset", japaneseOnly}, false,
         true, 1},
        {"no acoustic model found", true, {}, {}, false, {}, {starting, "asset", japaneseOnly}, false, true, 0},
        // Japanese cannot work: the end says why instead of claiming it is ready.
        {"speech assets failed", true, {}, assetError, false, {}, {starting, "asset", assetError}, false, true, 0},
        {"speech assets failed, acoustic model loaded", true, {}, assetError, true, {},
         {starting, "asset", assetError}, true, true, 0},
        {"transcriber not built", true, {}, {}, true, "out of memory", {starting, "asset", "out of memory"}, false,
         false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        engine = std::make_shared<FakeEngine>();
        engine->modelsPresent = c.modelsPresent;
        engine->downloadLines = {"m1", "m2"};
        engine->downloadFailure = c.downloadFailure;
        engine->assetLines = {"asset"};
        engine->assetFailure = c.assetFailure;
        engine->transcriberHasEG2 = c.eg2;
        engine->buildFailure = c.buildFailure;
        AppViewModel& vm = makeWatched();

        vm.bootEngine();
        EXPECT_TRUE(vm.isLoadingEngine());
        EXPECT_EQ(vm.engineStatusText(), starting);
        finishWork();

        EXPECT_EQ(trail.statuses, c.statuses);
        EXPECT_FALSE(vm.isLoadingEngine());
        EXPECT_EQ(vm.isEngineLoaded(), c.loaded);
        EXPECT_EQ(vm.transcriber() != nullptr, c.hasTranscriber);
        if (vm.transcriber()) {
            EXPECT_EQ(vm.transcriber()->isEG2Loaded(), c.eg2);
        }
        EXPECT_EQ(engine->downloads, c.downloads);
        EXPECT_EQ(engine->assetChecks, 1);
        // The boot reports no error: no banner, no sound.
        EXPECT_EQ(vm.errorMessage(), std::nullopt);
        EXPECT_TRUE(cues.played.empty());
    }
}

TEST_F(BootFixture, ABootRunsOnceUntilItEndsAndAgainOnlyInJapaneseOnlyMode) {
    engine->modelsPresent = true;
    engine->transcriberHasEG2 = false;
    AppViewModel& vm = makeWatched();
    vm.bootEngine();
    vm.bootEngine();
    EXPECT_EQ(workers.jobs.size(), 1u);
    finishWork();
    EXPECT_EQ(engine->builds, 1);
    EXPECT_EQ(vm.engineStatusText(), japaneseOnly);
    const auto japaneseOnlyTranscriber = vm.transcriber();

    // Japanese-only: a new boot builds and replaces the transcriber.
    engine->transcriberHasEG2 = true;
    vm.bootEngine();
    finishWork();
    EXPECT_EQ(engine->builds, 2);
    EXPECT_NE(vm.transcriber(), japaneseOnlyTranscriber);
    EXPECT_TRUE(vm.isEngineLoaded());
    EXPECT_EQ(vm.engineStatusText(), ready);

    // Loaded: nothing more.
    vm.bootEngine();
    EXPECT_TRUE(workers.jobs.empty());
    EXPECT_FALSE(vm.isLoadingEngine());
    EXPECT_EQ(engine->builds, 2);
}

TEST_F(BootFixture, ABootClearsTheErrorBanner) {
    recorder.startFailure = "no device";
    AppViewModel& vm = makeWatched();
    vm.toggleManualRecording();
    ASSERT_TRUE(vm.errorMessage());
    vm.bootEngine();
    EXPECT_EQ(vm.errorMessage(), std::nullopt);
}

TEST_F(BootFixture, ALateProgressLineNeverHidesTheFinalStatus) {
    engine->downloadLines = {"m1"};
    AppViewModel& vm = makeWatched();
    vm.bootEngine();
    workers.runAll();
    // A line the engine sends after its call returned, queued behind the boot's end.
    engine->lastProgress("遅れた進捗");
    scheduler.runPosted();
    EXPECT_EQ(vm.engineStatusText(), ready);
    EXPECT_EQ(trail.statuses, (std::vector<std::string>{starting, "m1", ready}));
    // And one from an earlier boot while a later one runs.
    engine->transcriberHasEG2 = false;
    vm.bootEngine();  // loaded: ignored
    EXPECT_FALSE(vm.isLoadingEngine());
}

TEST_F(BootFixture, AnEarlierBootsLinesDoNotReachALaterBoot) {
    engine->modelsPresent = true;
    engine->transcriberHasEG2 = false;
    AppViewModel& vm = makeWatched();
    vm.bootEngine();
    finishWork();
    auto firstBootsProgress = engine->lastProgress;
    vm.bootEngine();
    firstBootsProgress("古い進捗");
    scheduler.runPosted();
    EXPECT_EQ(vm.engineStatusText(), starting);
    finishWork();
    EXPECT_EQ(vm.engineStatusText(), japaneseOnly);
}

TEST_F(BootFixture, WorkThatEndsAfterTheControllerIsGoneDoesNothing) {
    engine->downloadLines = {"m1"};
    make();
    model->bootEngine();
    model.reset();
    workers.runAll();  // the worker still holds the engine
    scheduler.runPosted();
    EXPECT_EQ(engine->builds, 1);
    // And with the progress already queued when the controller goes.
    make();
    model->bootEngine();
    workers.runAll();
    model.reset();
    scheduler.runPosted();
    SUCCEED();
}

// An engine whose recogniser cannot run here at all (no Japanese locale): no model file would help.
struct UnsupportedRecognizerEngine : FakeEngine {
    std::string ensureJapaneseSpeechAssets(const Progress&) override {
        ++assetChecks;
        throw PeloraVoiceError::invalidModelAsset("日本語オンデバイス音声認識アセットがこの環境で利用できません (status: unsupported)。");
    }
};

TEST_F(BootFixture, AMissingSpeechModelIsPublishedUntilTheNextBootStarts) {
    const std::string missing =
        "日本語音声認識モデルがインストールされていません。日本語対応の whisper.cpp 形式 (ggml) のモデルファイル (.bin) "
        "を /data/PeloraVoice2/speech/ja に置くか、環境変数 PELORAVOICE_SPEECH_MODEL でそのファイルを指定してください。";
    struct Case {
        const char* name;
        std::shared_ptr<FakeEngine> engine;
        std::optional<std::string> assetFailure;
        bool eg2;
        std::optional<std::string> buildFailure;
        std::optional<std::string> message;
    };
    const Case cases[] = {
        {"speech model in place", std::make_shared<FakeEngine>(), {}, false, {}, {}},
        {"no speech model", std::make_shared<FakeEngine>(), missing, false, {}, missing},
        {"no speech model, acoustic model loaded", std::make_shared<FakeEngine>(), missing, true, {}, missing},
        // The build failing after the asset error does not hide what is missing.
        {"no speech model, transcriber not built", std::make_shared<FakeEngine>(), missing, false, "out of memory",
         missing},
        {"no recogniser on this machine", std::make_shared<UnsupportedRecognizerEngine>(), {}, false, {}, {}},
        {"transcriber not built", std::make_shared<FakeEngine>(), {}, true, "out of memory", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        engine = c.engine;
        engine->modelsPresent = true;
        engine->assetFailure = c.assetFailure;
        engine->transcriberHasEG2 = c.eg2;
        engine->buildFailure = c.buildFailure;
        AppViewModel& vm = makeWatched();
        RecordingListener told;
        told.model = &vm;
        vm.addListener(&told);
        vm.bootEngine();
        finishWork();
        EXPECT_EQ(vm.speechModelMissingMessage(), c.message);
        EXPECT_EQ(told.count(AppViewModelProperty::speechModelMissingMessage), c.message ? 1 : 0);
        EXPECT_EQ(vm.errorMessage(), std::nullopt);
        if (!c.message) {
            vm.removeListener(&told);
            continue;
        }
        EXPECT_EQ(vm.engineStatusText(), c.buildFailure.value_or(*c.message));  // the last failure

        // The user puts a model in place and looks again: even with the acoustic model
        // loaded the boot runs, and the message is gone as soon as it starts.
        engine->assetFailure.reset();
        engine->buildFailure.reset();
        vm.bootEngine();
        ASSERT_TRUE(vm.isLoadingEngine());
        EXPECT_EQ(vm.speechModelMissingMessage(), std::nullopt);
        EXPECT_EQ(told.count(AppViewModelProperty::speechModelMissingMessage), 2);
        finishWork();
        EXPECT_EQ(vm.speechModelMissingMessage(), std::nullopt);
        EXPECT_EQ(vm.engineStatusText(), c.eg2 ? ready : japaneseOnly);
        EXPECT_EQ(engine->assetChecks, 2);
        vm.removeListener(&told);
    }
}

}  // namespace
