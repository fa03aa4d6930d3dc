#pragma once

// Fakes of the controller's collaborators and the fixture that builds a controller over
// them, a manual clock and workers that run when the test says.
#include "PeloraVoiceApp/controller/AppViewModel.h"
#include "engine/japanese/JapaneseEmbeddingReranker.h"
#include "engine/japanese/JapaneseInputProcessor.h"
#include "engine/recognition/JapaneseTimelineSegmentationStage.h"
#include "tests/support/ManualMainThreadScheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace pelora::controller_testing {

// A fake that writes the calls a test follows into a log shared by all of them.
struct Logged {
    std::vector<std::string>* log = nullptr;
    void note(const char* call) {
        if (log) log->emplace_back(call);
    }
};

struct FakeRecorder : DictationRecorder, Logged {
    MicrophoneAuthorizationStatus status = MicrophoneAuthorizationStatus::authorized;
    std::vector<std::function<void(bool)>> permissionAnswers;
    std::optional<std::string> startFailure;
    std::vector<float> samples = std::vector<float>(16000, 0.25f);
    int starts = 0;
    int stops = 0;
    std::function<void(float)> levelHandler;

    MicrophoneAuthorizationStatus authorizationStatus() const override { return status; }
    void requestPermission(std::function<void(bool)> answer) override {
        note("recorder.requestPermission");
        permissionAnswers.push_back(std::move(answer));
    }
    void start() override {
        if (startFailure) throw std::runtime_error(*startFailure);
        ++starts;
    }
    // A microphone slow to start: the answers wait in `pendingStarts` until answered.
    bool slowStart = false;
    std::vector<std::function<void(std::exception_ptr)>> pendingStarts;
    void start(std::function<void(std::exception_ptr)> started) override {
        if (!slowStart) return DictationRecorder::start(std::move(started));
        note("recorder.startWaiting");
        pendingStarts.push_back(std::move(started));
    }
    void answerStart(std::optional<std::string> failure = std::nullopt) {
        auto started = std::move(pendingStarts.front());
        pendingStarts.erase(pendingStarts.begin());
        if (failure) {
            started(std::make_exception_ptr(std::runtime_error(*failure)));
        } else {
            ++starts;
            started(nullptr);
        }
    }
    std::vector<float> stop() override {
        ++stops;
        return samples;
    }
    void setLevelHandler(std::function<void(float)> handler) override {
        note(handler ? "recorder.setLevelHandler" : "recorder.clearLevelHandler");
        levelHandler = std::move(handler);
    }
};

struct FakePushToTalk : PushToTalkWatcher, Logged {
    std::function<void(bool)> onStart;
    std::function<void()> onStop;
    bool pressed = false;
    int resets = 0;

    void setHandlers(std::function<void(bool)> start, std::function<void()> stop) override {
        note(start ? "pushToTalk.setHandlers" : "pushToTalk.clearHandlers");
        onStart = std::move(start);
        onStop = std::move(stop);
    }
    void resetState() override { ++resets; }
    bool isPressed() const override { return pressed; }

    struct Configuration {
        PTTShortcutKey shortcut;
        bool doubleTapToggleEnabled;
        bool enabled;
    };
    std::vector<Configuration> configurations;
    bool dropOnNextConfiguration = false;  // the next change drops a press or lock in progress
    bool updateConfiguration(PTTShortcutKey shortcut, bool doubleTap, bool enabled) override {
        note("pushToTalk.updateConfiguration");
        configurations.push_back({shortcut, doubleTap, enabled});
        return std::exchange(dropOnNextConfiguration, false);
    }

    void press(bool handsFree = false) {
        pressed = !handsFree;
        onStart(handsFree);
    }
    void release() {
        pressed = false;
        onStop();
    }
};

struct FakeOverlay : DictationOverlay, Logged {
    struct Shown {
        std::string mode{};
        double seconds = 0;
        float level = 0;
        std::string badge{};
        std::optional<std::string> target{};
        bool locked = false;
        // The completed state.
        std::string text{};
        double latencyMs = 0;
        double rtfx = 0;
        std::string summary{};
        bool directInsert = false;
    };
    std::vector<Shown> calls;

    void showRecording(double seconds, float level, std::string badge, std::optional<std::string> target,
                       bool locked) override {
        calls.push_back({.mode = "recording", .seconds = seconds, .level = level, .badge = std::move(badge),
                         .target = std::move(target), .locked = locked});
    }
    void showTranscribing(std::string badge, std::optional<std::string> target) override {
        calls.push_back({.mode = "transcribing", .badge = std::move(badge), .target = std::move(target)});
    }
    void showCompleted(std::string text, double latencyMs, double rtfx, std::string summary, bool directInsert,
                       std::string reinsertBadge) override {
        calls.push_back({"completed", 0, 0, std::move(reinsertBadge), std::nullopt, false, std::move(text), latencyMs,
                         rtfx, std::move(summary), directInsert});
    }
    void hideHUD() override { calls.push_back({.mode = "hidden"}); }
    void setActionHandlers(std::function<void()> reinsert, std::function<void(const std::string&)> copy) override {
        note(reinsert ? "overlay.setActionHandlers" : "overlay.clearActionHandlers");
        onReinsertRequested = std::move(reinsert);
        onCopyRequested = std::move(copy);
    }
    std::function<void()> onReinsertRequested;
    std::function<void(const std::string&)> onCopyRequested;
    std::string lastMode() const { return calls.empty() ? "" : calls.back().mode; }
};

struct FakeTargetCapture : DictationTargetCapture {
    std::optional<ActiveApplicationSnapshot> target =
        ActiveApplicationSnapshot{4242, std::string("org.example.Editor"), std::string("Editor")};
    std::vector<bool> preferExternalAsked;

    std::optional<ActiveApplicationSnapshot> captureTargetForRecordingStart(bool preferExternal) override {
        preferExternalAsked.push_back(preferExternal);
        return target;
    }
    std::optional<ActiveApplicationSnapshot> reinsertTarget =
        ActiveApplicationSnapshot{5151, std::string("org.example.Notes"), std::string("Notes")};
    std::vector<bool> reinsertFromMainWindowAsked;
    std::optional<ActiveApplicationSnapshot> resolveTargetForReinsert(bool fromMainWindowButton) override {
        reinsertFromMainWindowAsked.push_back(fromMainWindowButton);
        return reinsertTarget;
    }
    FocusedTextContext captureFocusedContext(const std::optional<ActiveApplicationSnapshot>& app) override {
        FocusedTextContext context;
        if (app) context.appName = app->appName;
        context.preText = std::string("前の文");
        return context;
    }
};

struct FakePermissions : PermissionAccess, Logged {
    PermissionHealthStatus health{true, true, true, true};
    std::vector<std::function<void(bool)>> resetAnswers;
    int checks = 0;

    PermissionHealthStatus checkPermissionHealth() override {
        note("permissions.check");
        ++checks;
        return health;
    }
    void resetMicrophonePermissionAndPrompt(std::function<void(bool)> answer) override {
        resetAnswers.push_back(std::move(answer));
    }

    // The repairs asked for, in order; `onAction` may change `health` as the desktop would.
    std::vector<std::string> actions;
    std::function<void(const std::string&)> onAction;
    void act(const char* name) {
        actions.emplace_back(name);
        if (onAction) onAction(name);
    }
    PermissionHealthStatus requestAllInjectionPermissions() override {
        act("requestAll");
        return health;
    }
    void requestAccessibilityAndOpenSettings() override { act("requestAccessibilityAndOpenSettings"); }
    void resetAccessibilityPermissionAndPrompt() override { act("resetAccessibility"); }
    void openMicrophoneSettings() override { act("openMicrophoneSettings"); }
    void openInputMonitoringSettings() override { act("openInputMonitoringSettings"); }
    void revealAppInFinder() override { act("revealAppInFinder"); }

    std::vector<LegacyPeloraAppInfo> legacyApps;
    int detections = 0;
    std::vector<std::function<void(int)>> terminationAnswers;
    std::vector<LegacyPeloraAppInfo> detectRunningLegacyPeloraApps() override {
        ++detections;
        return legacyApps;
    }
    void terminateRunningLegacyPeloraApps(std::function<void(int)> done) override {
        terminationAnswers.push_back(std::move(done));
    }
};

struct FakeCues : CuePlayer {
    std::vector<std::string> played;
    void play(std::string_view name) override { played.emplace_back(name); }
};

struct FakeKeyStore : APIKeyStore, Logged {
    std::optional<std::string> key;
    bool refuseWrites = false;
    std::optional<std::string> loadAPIKey() override {
        note("keyStore.loadAPIKey");
        return key;
    }
    bool saveAPIKey(std::string_view value) override {
        note("keyStore.saveAPIKey");
        if (refuseWrites) return false;
        key = std::string(value);
        return true;
    }
    bool deleteAPIKey() override {
        note("keyStore.deleteAPIKey");
        if (refuseWrites) return false;
        key.reset();
        return true;
    }
};

struct FakeWallClock : WallClock {
    std::chrono::system_clock::time_point now() const override { return std::chrono::system_clock::time_point(std::chrono::hours(1)); }
};

struct RecordingListener : AppViewModelListener {
    const AppViewModel* model = nullptr;
    std::vector<AppViewModelProperty> changes;
    std::vector<bool> recordingSeen;  // isRecording as stored when told
    void appViewModelDidChange(AppViewModelProperty property) override {
        changes.push_back(property);
        if (property == AppViewModelProperty::isRecording) recordingSeen.push_back(model->isRecording());
    }
    int count(AppViewModelProperty property) const {
        return static_cast<int>(std::count(changes.begin(), changes.end(), property));
    }
};

struct FakePaster : DictationPaster {
    std::vector<std::string> copied;
    void copyOnly(const std::string& text) override { copied.push_back(text); }

    struct Insertion {
        std::string text;
        std::optional<ActiveApplicationSnapshot> target;
        bool restoreClipboard;
        bool allowDuplicates;
        std::function<void(TextInjectionOutcome)> done;
    };
    std::vector<Insertion> insertions;
    // Answered at once with this outcome; none: the test answers through `insertions`.
    std::optional<TextInjectionOutcome> outcome = TextInjectionOutcome::injectedViaAX("Editor");
    void injectIntoFocusedField(std::string text, std::optional<ActiveApplicationSnapshot> target,
                                bool restoreClipboard, bool allowDuplicates,
                                std::function<void(TextInjectionOutcome)> done) override {
        insertions.push_back({std::move(text), std::move(target), restoreClipboard, allowDuplicates, done});
        if (outcome) done(*outcome);
    }

    struct Correction {
        InsertedTextCorrection correction;
        std::string original;
        std::string corrected;
        std::optional<ActiveApplicationSnapshot> target;
        bool restoreClipboard;
        std::function<void(bool)> done;
    };
    std::vector<Correction> corrections;
    // Answered at once with this; none: the test answers through `corrections`.
    std::optional<bool> correctionApplied = true;
    void applyInPlaceCorrection(InsertedTextCorrection correction, std::string original, std::string corrected,
                                std::optional<ActiveApplicationSnapshot> target, bool restoreClipboard,
                                std::function<void(bool)> done) override {
        corrections.push_back({correction, std::move(original), std::move(corrected), std::move(target),
                               restoreClipboard, done});
        if (correctionApplied) done(*correctionApplied);
    }
};

struct FakeReinsertShortcut : ReinsertShortcutWatcher, Logged {
    std::function<void()> onTrigger;
    ReinsertShortcutPreset preset = ReinsertShortcutPreset::optionShiftV;
    bool registered = false;
    int starts = 0;
    void setTriggerHandler(std::function<void()> handler) override {
        note(handler ? "reinsert.setTriggerHandler" : "reinsert.clearTriggerHandler");
        onTrigger = std::move(handler);
    }
    void setPreset(ReinsertShortcutPreset value) override {
        note("reinsert.setPreset");
        preset = value;
    }
    void start() override {
        note("reinsert.start");
        registered = true;
        ++starts;
    }
    void stop() override {
        note("reinsert.stop");
        registered = false;
    }
};

struct FakeLastExternalApp : LastExternalAppSource, Logged {
    Handler handler;
    std::optional<ActiveApplicationSnapshot> current;
    void setLastExternalAppHandler(Handler h) override {
        note(h ? "lastExternalApp.setHandler" : "lastExternalApp.clearHandler");
        handler = std::move(h);
        if (handler) handler(current);
    }
    void change(std::optional<ActiveApplicationSnapshot> app) {
        current = std::move(app);
        if (handler) handler(current);
    }
};

// An acoustic pipeline that exists: a transcriber built with it reports its model loaded.
struct IdleEG2Pipeline : EG2Pipeline {
    EG2CoreMLOutput runCoreMLPipeline(std::span<const float>) override { return {}; }
};

// What the recognisers of the fake engine's transcribers answer; shared by all of them,
// changed by the test between runs and read on the workers.
struct SpeechScript {
    std::mutex mutex;
    std::string text = "今日は晴れです。";
    std::optional<std::string> failure;
    bool failWithNonStandardException = false;
    std::vector<std::size_t> sampleCounts;  // one per run
    // Runs on the worker before the answer (a gate a test can hold closed).
    std::function<void()> beforeAnswer;
};

// The Japanese recogniser of a scripted transcriber: answers `text` as one run, or throws.
struct ScriptedSpeechRecognizer : JapaneseSpeechRecognizer {
    std::string text;
    std::optional<std::string> failure;
    std::shared_ptr<SpeechScript> script;  // when set, it decides
    JapaneseSpeechTranscript transcribeWithSpeechAnalyzer(std::span<const float> samples,
                                                          std::string_view source) override {
        std::string answer = text;
        std::optional<std::string> error = failure;
        bool nonStandard = false;
        if (script) {
            if (script->beforeAnswer) script->beforeAnswer();
            std::lock_guard lock(script->mutex);
            script->sampleCounts.push_back(samples.size());
            answer = script->text;
            error = script->failure;
            nonStandard = script->failWithNonStandardException;
        }
        if (nonStandard) throw 42;
        if (error) throw std::runtime_error(*error);
        TranscribedWord run;
        run.text = answer;
        run.rawText = answer;
        run.start = 0;
        run.end = static_cast<double>(samples.size()) / 16000;
        run.confidence = 1;
        run.source = std::string(source);
        return {answer, {run}};
    }
};

// A transcriber with the real correction stages over a scripted recogniser.
inline std::shared_ptr<const PeloraHybridTranscriber> scriptedTranscriber(
    bool eg2Loaded, std::string text = "", std::shared_ptr<SpeechScript> script = nullptr) {
    TranscriptionStages stages;
    if (eg2Loaded) stages.eg2 = std::make_unique<IdleEG2Pipeline>();
    auto speech = std::make_shared<ScriptedSpeechRecognizer>();
    speech->text = std::move(text);
    speech->script = std::move(script);
    stages.speech = speech;
    stages.reranker = std::make_shared<JapaneseEmbeddingReranker>();
    stages.inputProcessor = std::make_shared<JapaneseInputProcessor>();
    stages.segmenter = std::make_shared<JapaneseTimelineSegmentationStage>();
    return std::make_shared<const PeloraHybridTranscriber>(std::move(stages));
}

// The engine's boot calls, scripted. Thread-safe as far as the counters go; the script is
// set before a boot starts.
struct FakeEngine : DictationEngine {
    bool modelsPresent = false;
    std::vector<std::string> downloadLines;
    std::optional<std::string> downloadFailure;
    std::vector<std::string> assetLines;
    std::optional<std::string> assetFailure;
    bool transcriberHasEG2 = true;
    std::optional<std::string> buildFailure;
    std::atomic<int> resolves{0}, downloads{0}, assetChecks{0}, builds{0};
    // The last progress callback handed over, for lines that come late.
    Progress lastProgress;

    std::optional<std::filesystem::path> resolveModelsDirectory() override {
        ++resolves;
        if (modelsPresent) return std::filesystem::path("/models");
        return std::nullopt;
    }
    std::filesystem::path ensureOrDownloadModels(const Progress& onProgress) override {
        ++downloads;
        lastProgress = onProgress;
        for (const auto& line : downloadLines) onProgress(line);
        if (downloadFailure) throw std::runtime_error(*downloadFailure);
        return "/models";
    }
    std::string ensureJapaneseSpeechAssets(const Progress& onProgress) override {
        ++assetChecks;
        lastProgress = onProgress;
        for (const auto& line : assetLines) onProgress(line);
        if (assetFailure) throw std::runtime_error(*assetFailure);
        return "ja_JP";
    }
    // What the built transcribers recognise.
    std::shared_ptr<SpeechScript> speech = std::make_shared<SpeechScript>();
    std::mutex builtMutex;
    std::vector<std::weak_ptr<const PeloraHybridTranscriber>> built;  // in the order built

    std::shared_ptr<const PeloraHybridTranscriber> makeTranscriber() override {
        ++builds;
        if (buildFailure) throw std::runtime_error(*buildFailure);
        auto transcriber = scriptedTranscriber(transcriberHasEG2, "", speech);
        std::lock_guard lock(builtMutex);
        built.push_back(transcriber);
        return transcriber;
    }
};

// Workers held until the test runs them, on the test's thread.
struct ManualWorkers {
    std::deque<std::function<void()>> jobs;
    mainthread::WorkerSpawner spawner() {
        return [this](std::function<void()> job) { jobs.push_back(std::move(job)); };
    }
    // The oldest job held.
    void runNext() {
        ASSERT_FALSE(jobs.empty());
        auto job = std::move(jobs.front());
        jobs.pop_front();
        job();
    }
    void runAll() {
        while (!jobs.empty()) {
            auto job = std::move(jobs.front());
            jobs.pop_front();
            job();
        }
    }
};

// $XDG_CONFIG_HOME in a fresh temporary folder while it lives, so that the settings
// document of a test never touches the user's.
class PrivateConfigHome {
public:
    PrivateConfigHome() {
        std::string pattern = (std::filesystem::temp_directory_path() / "pelora-config-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
        if (const char* previous = std::getenv("XDG_CONFIG_HOME")) previous_ = previous;
        ::setenv("XDG_CONFIG_HOME", path_.c_str(), 1);
    }
    ~PrivateConfigHome() {
        if (previous_)
            ::setenv("XDG_CONFIG_HOME", previous_->c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    PrivateConfigHome(const PrivateConfigHome&) = delete;
    PrivateConfigHome& operator=(const PrivateConfigHome&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    std::optional<std::string> previous_;
};

// Every collaborator of the controller but its main loop and engine, faked, in a private
// config home.
struct ControllerFakes {
    PrivateConfigHome configHome;
    FakeWallClock wallClock;
    FakeKeyStore keyStore;
    FakeRecorder recorder;
    FakePushToTalk pushToTalk;
    FakeOverlay overlay;
    FakeTargetCapture targetCapture;
    FakePermissions permissions;
    FakeCues cues;
    FakePaster paster;
    FakeReinsertShortcut reinsertShortcut;
    FakeLastExternalApp lastExternalApp;

    // The fakes around this main loop and engine, with real worker threads.
    AppViewModelCollaborators over(MainThreadScheduler& mainLoop, std::shared_ptr<DictationEngine> engine) {
        return AppViewModelCollaborators{
            .scheduler = mainLoop,
            .wallClock = wallClock,
            .keyStore = keyStore,
            .recorder = recorder,
            .pushToTalk = pushToTalk,
            .overlay = overlay,
            .targetCapture = targetCapture,
            .permissions = permissions,
            .cues = cues,
            .paster = paster,
            .reinsertShortcut = reinsertShortcut,
            .lastExternalApp = lastExternalApp,
            .engine = std::move(engine),
        };
    }
};

// The controller over fakes, a manual clock and workers the test runs.
class ControllerFixture : public ::testing::Test, protected ControllerFakes {
protected:
    std::vector<std::string> log;
    ManualMainThreadScheduler scheduler;
    // The jobs handed to transcription, as they started.
    struct JobLog {
        std::vector<DictationJob> jobs;
    } transcription;
    std::shared_ptr<FakeEngine> engine = std::make_shared<FakeEngine>();
    ManualWorkers workers;
    // When set, the controller keeps its API key here instead of in the fake.
    APIKeyStore* realKeyStore = nullptr;
    // When set, the controller reads permissions and earlier editions here instead.
    PermissionAccess* realPermissions = nullptr;
    std::unique_ptr<AppViewModel> model;
    // Timers a controller keeps for its whole life: the permission monitor.
    static constexpr std::size_t monitorTimers = 1;

    // The fixture's fakes (or the real stores a test set) as the controller's collaborators;
    // a test adds or swaps members before handing them over.
    AppViewModelCollaborators collaborators() {
        return AppViewModelCollaborators{
            .scheduler = scheduler,
            .wallClock = wallClock,
            .keyStore = realKeyStore ? *realKeyStore : keyStore,
            .recorder = recorder,
            .pushToTalk = pushToTalk,
            .overlay = overlay,
            .targetCapture = targetCapture,
            .permissions = realPermissions ? *realPermissions : permissions,
            .cues = cues,
            .paster = paster,
            .reinsertShortcut = reinsertShortcut,
            .lastExternalApp = lastExternalApp,
            .engine = engine,
            .spawnWorker = workers.spawner(),
        };
    }

    AppViewModel& make() {
        model.reset();  // the old one detaches its handlers from the shared fakes first
        for (Logged* fake : std::initializer_list<Logged*>{&keyStore, &recorder, &pushToTalk, &overlay, &permissions,
                                                           &reinsertShortcut, &lastExternalApp})
            fake->log = &log;
        log.clear();
        model = std::make_unique<AppViewModel>(collaborators());
        model->setDictationJobObserverForTesting([this](const DictationJob& job) { transcription.jobs.push_back(job); });
        return *model;
    }
};

}  // namespace pelora::controller_testing
