#include "tests/PeloraVoiceApp/controller/ControllerFakes.h"

#include "PeloraVoiceApp/QtMainThreadScheduler.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <condition_variable>
#include <future>

using namespace pelora;
using namespace pelora::controller_testing;
using namespace std::chrono_literals;

namespace {

const std::string pushToTalkLabel = "Push-to-Talk (右⌥)";
const std::string copied = "📋 クリップボードにコピー完了";
const std::string completed = "✓ 文字起こし完了";

TranscriptionResult resultWithText(std::string text, EngineMode mode = EngineMode::hybridJaEn) {
    TranscriptionResult result;
    result.text = std::move(text);
    result.rawText = result.text;
    result.engineMode = mode;
    result.telemetry.audioDurationSeconds = 2;
    result.telemetry.totalProcessingMs = 250;
    return result;
}

class TranscriptionFixture : public ControllerFixture {
protected:
    std::vector<AppViewModel::ContextualPassRequest> passes;

    AppViewModel& makeWatched() {
        AppViewModel& vm = make();
        passes.clear();
        vm.setContextualPassObserverForTesting(
            [this](const AppViewModel::ContextualPassRequest& request) { passes.push_back(request); });
        return vm;
    }
    // A held key's whole dictation up to the running transcription.
    void dictate() {
        pushToTalk.press();
        pushToTalk.release();
    }
    // Every worker, and everything they posted, until nothing is left.
    void finishWork() {
        while (!workers.jobs.empty()) {
            workers.runAll();
            scheduler.runPosted();
        }
        scheduler.runPosted();
    }
    const FakeOverlay::Shown* completedOverlay() const {
        for (auto it = overlay.calls.rbegin(); it != overlay.calls.rend(); ++it)
            if (it->mode == "completed") return &*it;
        return nullptr;
    }
};

// ---- a dictation from release to delivery ----

TEST_F(TranscriptionFixture, AReleasedKeyEndsWithTheTextInsertedIntoTheTarget) {
    engine->speech->text = "えーと、今日は晴れですまる";
    AppViewModel& vm = makeWatched();
    RecordingListener listener;
    listener.model = &vm;
    dictate();
    ASSERT_TRUE(vm.isTranscribing());
    const std::string sessionAtStop = vm.activeTranscriptionSessionID();
    vm.addListener(&listener);
    finishWork();

    EXPECT_FALSE(vm.isTranscribing());
    ASSERT_TRUE(vm.currentResult());
    EXPECT_EQ(vm.currentResult()->text, "今日は晴れです。");
    EXPECT_EQ(vm.currentSourceName(), pushToTalkLabel);
    EXPECT_EQ(vm.lastTranscribedText(), "今日は晴れです。");
    EXPECT_NE(vm.activeTranscriptionSessionID(), sessionAtStop);
    ASSERT_EQ(vm.history().size(), 1u);
    EXPECT_EQ(vm.history()[0].sourceName, pushToTalkLabel);
    EXPECT_EQ(vm.history()[0].targetAppName, targetCapture.target->displayLabel());
    EXPECT_EQ(vm.history()[0].createdAt, wallClock.now());
    EXPECT_EQ(vm.history()[0].result, *vm.currentResult());
    ASSERT_EQ(engine->speech->sampleCounts, std::vector<std::size_t>{recorder.samples.size()});

    ASSERT_EQ(paster.insertions.size(), 1u);
    EXPECT_EQ(paster.insertions[0].text, "今日は晴れです。");
    EXPECT_EQ(paster.insertions[0].target, targetCapture.target);
    EXPECT_FALSE(paster.insertions[0].restoreClipboard);  // the text is to stay on the clipboard
    EXPECT_FALSE(paster.insertions[0].allowDuplicates);
    EXPECT_TRUE(paster.copied.empty());
    EXPECT_EQ(vm.lastInjectionOutcome(), paster.outcome);
    EXPECT_EQ(cues.played, (std::vector<std::string>{"Tink", "Pop"}));
    const auto* shown = completedOverlay();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->text, "今日は晴れです。");
    EXPECT_EQ(shown->summary, paster.outcome->summaryBadge());
    EXPECT_TRUE(shown->directInsert);
    EXPECT_EQ(shown->badge, "⌥⇧V");
    EXPECT_EQ(overlay.lastMode(), "completed");
    // Transcribing ends first; the result is published before its history entry.
    ASSERT_FALSE(listener.changes.empty());
    EXPECT_EQ(listener.changes.front(), AppViewModelProperty::isTranscribing);
    const auto at = [&](AppViewModelProperty p) {
        return std::find(listener.changes.begin(), listener.changes.end(), p) - listener.changes.begin();
    };
    EXPECT_LT(at(AppViewModelProperty::currentResult), at(AppViewModelProperty::history));
    EXPECT_LT(at(AppViewModelProperty::history), at(AppViewModelProperty::lastInjectionOutcome));
    // The default settings run the contextual pass on the delivered text.
    ASSERT_EQ(passes.size(), 1u);
    EXPECT_EQ(passes[0].result.text, "今日は晴れです。");
    EXPECT_EQ(passes[0].historyEntryID, vm.history()[0].id);
    EXPECT_EQ(passes[0].sessionID, vm.activeTranscriptionSessionID());
    EXPECT_TRUE(passes[0].insertedDirectly);
    vm.removeListener(&listener);
}

TEST_F(TranscriptionFixture, CompletionDeliversByTheSettings) {
    const auto ax = TextInjectionOutcome::injectedViaAX("Editor");
    const auto fallback = TextInjectionOutcome::copiedToClipboardFallback("フォーカスが見つかりません");
    const auto duplicate = TextInjectionOutcome::skipped("重複入力を防止しました");
    struct Row {
        const char* name;
        std::string text;
        bool trigger;
        bool autoPaste;
        bool copy;
        std::optional<TextInjectionOutcome> outcome;
        bool inserts;
        bool copies;
        std::string summary;  // empty: the outcome's badge
        bool direct;
    };
    const Row rows[] = {
        {"inserted, kept on the clipboard", "晴れ", true, true, true, ax, true, false, "", true},
        {"inserted, clipboard restored", "晴れ", true, true, false, ax, true, false, "", true},
        {"insertion fell back to the clipboard", "晴れ", true, true, true, fallback, true, false, "", false},
        {"insertion skipped as a duplicate", "晴れ", true, true, true, duplicate, true, false, "", false},
        {"auto-insert off, copy on", "晴れ", true, false, true, {}, false, true, copied, false},
        {"auto-insert off, copy off", "晴れ", true, false, false, {}, false, false, completed, false},
        {"file or benchmark never inserts", "晴れ", false, true, true, {}, false, true, copied, false},
        {"file or benchmark, copy off", "晴れ", false, true, false, {}, false, false, completed, false},
        // Nothing was copied, so the overlay must not say so.
        {"empty text, copy on", "", true, true, true, {}, false, false, completed, false},
        {"empty text, copy off", "", true, true, false, {}, false, false, completed, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        paster = {};
        paster.outcome = row.outcome.value_or(ax);
        cues.played.clear();
        overlay.calls.clear();
        AppViewModel& vm = makeWatched();
        vm.setAutoPasteEnabled(row.autoPaste);
        vm.setCopyToClipboardOnComplete(row.copy);
        int doneCalls = 0;
        vm.completeTranscription(resultWithText(row.text), "sample.wav", targetCapture.target, std::nullopt,
                                 row.trigger, [&] { ++doneCalls; });
        // The contextual pass (when it runs) answers on its worker.
        workers.runAll();
        scheduler.runPosted();
        EXPECT_EQ(doneCalls, 1);
        EXPECT_EQ(paster.insertions.size(), row.inserts ? 1u : 0u);
        if (row.inserts) {
            EXPECT_EQ(paster.insertions[0].restoreClipboard, !row.copy);
        }
        EXPECT_EQ(paster.copied, row.copies ? std::vector<std::string>{row.text} : std::vector<std::string>{});
        EXPECT_EQ(cues.played, std::vector<std::string>{"Pop"});
        const auto* shown = completedOverlay();
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(shown->summary, row.summary.empty() ? row.outcome->summaryBadge() : row.summary);
        EXPECT_EQ(shown->directInsert, row.direct);
        EXPECT_EQ(shown->text, row.text);
        EXPECT_EQ(vm.lastInjectionOutcome(), row.inserts ? row.outcome : std::nullopt);
        EXPECT_EQ(vm.currentSourceName(), "sample.wav");
        EXPECT_EQ(vm.history().size(), 1u);  // an empty result is kept too
        EXPECT_EQ(passes.size(), row.text.empty() ? 0u : 1u);
    }
}

TEST_F(TranscriptionFixture, AnEmptyResultKeepsTheEarlierTextForReinsertion) {
    AppViewModel& vm = makeWatched();
    vm.completeTranscription(resultWithText("一回目"), "a", std::nullopt, std::nullopt, true);
    vm.completeTranscription(resultWithText(""), "b", std::nullopt, std::nullopt, true);
    EXPECT_EQ(vm.lastTranscribedText(), "一回目");
    EXPECT_EQ(vm.currentResult()->text, "");
    EXPECT_EQ(vm.currentSourceName(), "b");
    EXPECT_EQ(vm.history().size(), 2u);
    EXPECT_EQ(vm.history()[1].targetAppName, std::nullopt);
}

TEST_F(TranscriptionFixture, TheOverlayShowsLatencyAndRealTimeFactor) {
    struct Row {
        double audioSeconds;
        double processingMs;
        double rtfx;
    };
    for (const Row& row : {Row{2, 250, 8}, Row{3, 0, 0}, Row{0, 100, 0}}) {
        overlay.calls.clear();
        AppViewModel& vm = makeWatched();
        TranscriptionResult result = resultWithText("晴れ");
        result.telemetry.audioDurationSeconds = row.audioSeconds;
        result.telemetry.totalProcessingMs = row.processingMs;
        vm.completeTranscription(result, "a", std::nullopt, std::nullopt, false);
        const auto* shown = completedOverlay();
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(shown->latencyMs, row.processingMs);
        EXPECT_DOUBLE_EQ(shown->rtfx, row.rtfx);
    }
}

TEST_F(TranscriptionFixture, TheCompletionWaitsForTheInsertionAndReadsTheSettingsAfterIt) {
    paster.outcome.reset();  // answered by the test
    AppViewModel& vm = makeWatched();
    bool done = false;
    vm.completeTranscription(resultWithText("晴れ"), "a", targetCapture.target, std::nullopt, true, [&] { done = true; });
    ASSERT_EQ(paster.insertions.size(), 1u);
    EXPECT_EQ(completedOverlay(), nullptr);
    EXPECT_TRUE(cues.played.empty());
    EXPECT_FALSE(done);
    // The published state is already the new result.
    EXPECT_EQ(vm.currentResult()->text, "晴れ");
    // Changed while the insertion ran: the pass is decided by the setting as it is now.
    vm.setEnableMirkContextCorrection(false);
    const int checks = permissions.checks;
    paster.insertions[0].done(TextInjectionOutcome::injectedViaUnicodeTyping("Editor"));
    EXPECT_TRUE(done);
    EXPECT_EQ(permissions.checks, checks + 1);
    EXPECT_EQ(cues.played, std::vector<std::string>{"Pop"});
    ASSERT_NE(completedOverlay(), nullptr);
    EXPECT_TRUE(completedOverlay()->directInsert);
    EXPECT_TRUE(passes.empty());
}

TEST_F(TranscriptionFixture, TheContextualPassRunsOnlyWhenItsConditionsHold) {
    struct Row {
        const char* name;
        EngineMode resultMode;
        bool correction;
        bool reranking;
        bool allowNetwork;
        bool keyConfigured;
        bool sendContext;
        std::string text;
        bool runs;
        bool network;
        bool getsContext;
    };
    const Row rows[] = {
        {"defaults", EngineMode::hybridJaEn, true, true, false, false, false, "晴れ", true, false, true},
        {"Japanese only", EngineMode::appleSpeechJa, true, true, false, false, false, "晴れ", true, false, true},
        {"English-only result", EngineMode::pureEG2English, true, true, false, false, false, "fine", false, false,
         false},
        {"correction off", EngineMode::hybridJaEn, false, true, false, false, false, "晴れ", false, false, false},
        {"reranking off", EngineMode::hybridJaEn, true, false, false, false, false, "晴れ", false, false, false},
        {"empty text", EngineMode::hybridJaEn, true, true, false, false, false, "", false, false, false},
        {"network allowed without a key", EngineMode::hybridJaEn, true, true, true, false, false, "晴れ", true, false,
         true},
        {"network, context kept on the device", EngineMode::hybridJaEn, true, true, true, true, false, "晴れ", true,
         true, false},
        {"network, context sent", EngineMode::hybridJaEn, true, true, true, true, true, "晴れ", true, true, true},
    };
    FocusedTextContext context;
    context.preText = std::string("前の文");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        keyStore.key = row.keyConfigured ? std::optional<std::string>("k-123") : std::nullopt;
        AppViewModel& vm = makeWatched();
        vm.setEnableMirkContextCorrection(row.correction);
        vm.setEnableHomophoneReranking(row.reranking);
        vm.setAllowExternalMirkTransmission(row.allowNetwork);
        vm.setSendFocusedContextToMirk(row.sendContext);
        // The current mode setting does not decide; the result's mode does.
        vm.setEngineMode(EngineMode::pureEG2English == row.resultMode ? EngineMode::hybridJaEn
                                                                       : EngineMode::pureEG2English);
        vm.completeTranscription(resultWithText(row.text, row.resultMode), "a", targetCapture.target, context, true);
        ASSERT_EQ(passes.size(), row.runs ? 1u : 0u);
        if (!row.runs) continue;
        EXPECT_EQ(passes[0].enableMirkNetwork, row.network);
        EXPECT_EQ(passes[0].focusedContext, row.getsContext ? std::optional(context) : std::nullopt);
        EXPECT_EQ(passes[0].customVocabulary, vm.customVocabulary());
        EXPECT_EQ(passes[0].target, targetCapture.target);
        EXPECT_TRUE(passes[0].triggerAutoPaste);
        EXPECT_EQ(passes[0].insertionOutcome, paster.outcome);
    }
    keyStore.key.reset();
}

// ---- errors ----

TEST_F(TranscriptionFixture, AnEngineErrorEndsTheDictationWithTheBanner) {
    struct Row {
        const char* name;
        std::function<void(FakeEngine&)> script;
        EngineMode mode;
        std::string message;
    };
    const Row rows[] = {
        {"recogniser error", [](FakeEngine& e) { e.speech->failure = "認識に失敗しました"; },
         EngineMode::hybridJaEn, "音声認識エラー: 認識に失敗しました"},
        {"an exception of no standard type", [](FakeEngine& e) { e.speech->failWithNonStandardException = true; },
         EngineMode::appleSpeechJa, "音声認識エラー: 不明なエラーが発生しました"},
        {"English-only mode without models", [](FakeEngine& e) { e.transcriberHasEG2 = false; },
         EngineMode::pureEG2English, "音声認識エラー: "},  // the engine's own text follows
        {"the transcriber cannot be built", [](FakeEngine& e) { e.buildFailure = "モデルを読み込めません"; },
         EngineMode::hybridJaEn, "音声認識エラー: モデルを読み込めません"},
    };
    for (bool sound : {true, false}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.name);
            engine = std::make_shared<FakeEngine>();
            row.script(*engine);
            paster = {};
            cues.played.clear();
            AppViewModel& vm = makeWatched();
            vm.setSoundFeedbackEnabled(sound);
            vm.setEngineMode(row.mode);
            vm.completeTranscription(resultWithText("前の結果"), "前", std::nullopt, std::nullopt, false);
            cues.played.clear();
            const auto historyBefore = vm.history();
            dictate();
            finishWork();
            EXPECT_FALSE(vm.isTranscribing());
            EXPECT_EQ(overlay.lastMode(), "hidden");
            ASSERT_TRUE(vm.errorMessage());
            EXPECT_EQ(vm.errorMessage()->rfind(row.message, 0), 0u) << *vm.errorMessage();
            EXPECT_GT(vm.errorMessage()->size(), std::string("音声認識エラー: ").size());
            const std::vector<std::string> expectedCues =
                sound ? std::vector<std::string>{"Tink", "Basso"} : std::vector<std::string>{};
            EXPECT_EQ(cues.played, expectedCues);
            EXPECT_EQ(vm.history(), historyBefore);
            EXPECT_EQ(vm.currentResult()->text, "前の結果");
            EXPECT_EQ(vm.currentSourceName(), pushToTalkLabel);  // the recording's own label
            EXPECT_TRUE(paster.insertions.empty());
            // The next dictation works again.
            engine->speech->failure.reset();
            engine->speech->failWithNonStandardException = false;
            engine->buildFailure.reset();
            engine->transcriberHasEG2 = true;
            vm.setEngineMode(EngineMode::hybridJaEn);
            dictate();
            finishWork();
            EXPECT_EQ(vm.history().size(), historyBefore.size() + 1);
        }
    }
}

// ---- races ----

TEST_F(TranscriptionFixture, APressWhileTranscribingIsRefusedAndTheNextOneAfterItWorks) {
    AppViewModel& vm = makeWatched();
    dictate();
    ASSERT_TRUE(vm.isTranscribing());
    pushToTalk.press();
    EXPECT_FALSE(vm.isRecording());
    EXPECT_EQ(recorder.starts, 1);
    pushToTalk.release();
    vm.toggleManualRecording();
    EXPECT_FALSE(vm.isRecording());
    EXPECT_EQ(transcription.jobs.size(), 1u);
    finishWork();
    EXPECT_FALSE(vm.isTranscribing());
    ASSERT_EQ(vm.history().size(), 1u);

    dictate();
    EXPECT_EQ(recorder.starts, 2);
    EXPECT_EQ(transcription.jobs.size(), 2u);
    finishWork();
    EXPECT_EQ(vm.history().size(), 2u);
    EXPECT_EQ(engine->builds, 1) << "the second dictation reuses the transcriber";
}

TEST_F(TranscriptionFixture, TheFirstDictationRacingTheBootBuildsItsOwnTranscriber) {
    engine->modelsPresent = true;
    AppViewModel& vm = makeWatched();
    vm.bootEngine();  // worker 1: the boot
    dictate();        // worker 2: the dictation's own transcriber
    ASSERT_EQ(workers.jobs.size(), 2u);
    auto bootJob = std::move(workers.jobs.front());
    workers.jobs.pop_front();
    workers.runNext();  // the dictation's build
    scheduler.runPosted();
    ASSERT_EQ(engine->built.size(), 1u);
    const auto dictations = engine->built[0];
    EXPECT_EQ(vm.transcriber(), dictations.lock());
    EXPECT_FALSE(vm.isEngineLoaded()) << "a dictation's build is not the boot's";
    EXPECT_EQ(vm.engineStatusText(), "音声認識エンジンを準備中...");
    ASSERT_EQ(workers.jobs.size(), 1u);  // its recognition, holding its transcriber

    bootJob();
    scheduler.runPosted();
    ASSERT_EQ(engine->built.size(), 2u);
    EXPECT_EQ(vm.transcriber(), engine->built[1].lock()) << "the boot's transcriber replaces it";
    EXPECT_TRUE(vm.isEngineLoaded());
    EXPECT_FALSE(dictations.expired()) << "the run still holds the one it started on";

    workers.runNext();
    scheduler.runPosted();
    EXPECT_TRUE(dictations.expired());
    EXPECT_FALSE(vm.isTranscribing());
    ASSERT_EQ(vm.history().size(), 1u);
    EXPECT_EQ(vm.currentResult()->text, "今日は晴れです。");
    EXPECT_EQ(vm.engineStatusText(), "準備完了");
}

TEST_F(TranscriptionFixture, ABootThatEndsFirstKeepsItsTranscriberForTheWaitingDictation) {
    engine->modelsPresent = true;
    AppViewModel& vm = makeWatched();
    dictate();  // worker 1: the dictation's build
    vm.bootEngine();  // worker 2
    auto dictationBuild = std::move(workers.jobs.front());
    workers.jobs.pop_front();
    workers.runNext();  // the boot
    scheduler.runPosted();
    const auto boots = vm.transcriber();
    ASSERT_TRUE(boots);
    dictationBuild();
    scheduler.runPosted();
    EXPECT_EQ(vm.transcriber(), boots);
    EXPECT_TRUE(vm.isEngineLoaded());
    finishWork();
    EXPECT_EQ(vm.history().size(), 1u);
}

// ---- lifetime ----

TEST_F(TranscriptionFixture, WorkInFlightWhenTheControllerGoesDoesNothing) {
    struct Row {
        const char* name;
        int workersToRunBefore;  // 0: the build is queued; 1: recognition is queued
        bool insertionPending;
    };
    const Row rows[] = {
        {"transcriber being built", 0, false},
        {"recognition running", 1, false},
        {"result posted, not yet delivered", 2, false},
        {"insertion under way", 99, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        paster = {};
        if (row.insertionPending) paster.outcome.reset();
        overlay.calls.clear();
        cues.played.clear();
        workers.jobs.clear();
        make();
        dictate();
        for (int i = 0; i < row.workersToRunBefore && !workers.jobs.empty(); ++i) {
            workers.runNext();
            if (i + 1 < row.workersToRunBefore) scheduler.runPosted();
        }
        if (row.insertionPending) {
            finishWork();
            ASSERT_EQ(paster.insertions.size(), 1u);
        }
        const auto overlayCalls = overlay.calls.size();
        model.reset();
        workers.runAll();
        scheduler.runPosted();
        workers.runAll();
        scheduler.runPosted();
        if (row.insertionPending) paster.insertions[0].done(TextInjectionOutcome::injectedViaAX("Editor"));
        EXPECT_EQ(overlay.calls.size(), overlayCalls);
        EXPECT_EQ(cues.played, std::vector<std::string>{"Tink"});
        EXPECT_EQ(paster.insertions.size(), row.insertionPending ? 1u : 0u);
        for (const auto& built : engine->built) EXPECT_TRUE(built.expired());
    }
}

// Real worker threads and the Qt main loop: the controller is destroyed while a recognition
// blocks on its worker; the worker then finishes and posts into a queue whose controller is
// gone. Meaningful above all in the sanitizer build (PELORA_SANITIZE), where a touch of the
// destroyed controller is a reported error.
TEST(TranscriptionLifetimeTest, DestructionWithARecognitionRunningOnARealWorker) {
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "transcription-tests";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }
    ControllerFakes fakes;
    QtMainThreadScheduler scheduler;
    auto engine = std::make_shared<FakeEngine>();
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> answered{false};
    engine->speech->beforeAnswer = [&entered, released, &answered] {
        entered.set_value();
        released.wait();
        answered = true;
    };
    auto vm = std::make_unique<AppViewModel>(fakes.over(scheduler, engine));
    fakes.pushToTalk.press();
    fakes.pushToTalk.release();
    ASSERT_TRUE(vm->isTranscribing());
    // The build posts back; the recognition then starts on a second worker and blocks.
    auto enteredFuture = entered.get_future();
    QElapsedTimer clock;
    clock.start();
    while (enteredFuture.wait_for(0ms) != std::future_status::ready && clock.elapsed() < 60'000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_EQ(enteredFuture.wait_for(0ms), std::future_status::ready);
    const std::weak_ptr<const PeloraHybridTranscriber> transcriber = vm->transcriber();
    const auto overlayCalls = fakes.overlay.calls.size();

    vm.reset();
    EXPECT_FALSE(transcriber.expired()) << "the running recognition holds its transcriber";
    release.set_value();
    clock.restart();
    while ((!answered || !transcriber.expired()) && clock.elapsed() < 60'000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_TRUE(answered);
    EXPECT_TRUE(transcriber.expired());
    EXPECT_EQ(fakes.overlay.calls.size(), overlayCalls);
    EXPECT_TRUE(fakes.paster.insertions.empty());
    EXPECT_EQ(fakes.cues.played, std::vector<std::string>{"Tink"});
}

}  // namespace
