#include "tests/PeloraVoiceApp/controller/ControllerFakes.h"

#include "PeloraVoiceApp/controller/MirkAPIKeyStore.h"
#include "engine/japanese/MirkInputSecretStore.h"
#include "platform/secrets/SecretStore.h"
#include "tests/support/RerunTest.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <thread>

using namespace pelora;
using namespace pelora::controller_testing;
using namespace std::chrono_literals;

namespace {

const std::string manualLabel = "手動音声入力";
const std::string permissionText =
    "マイク音声を取得できません。サウンドサーバーと入力デバイスを確認するか、「マイク権限をリセットして再許可」を押してください。";
const std::string silenceText =
    "マイクから音声信号が検出されませんでした（無音）。マイクのミュート設定または入力デバイスをご確認ください。";

// ---- enumerations and badges ----

TEST(SidebarSectionTest, CasesCarryTheirTextsAndIconNames) {
    struct Row {
        SidebarSection section;
        const char *raw, *title, *subtitle, *icon;
    };
    const Row rows[] = {
        {SidebarSection::studio, "studio", "音声入力", "録音・ファイル文字起こし", "waveform.badge.mic"},
        {SidebarSection::rules, "rules", "日本語ルール・辞書", "句読点・フィラー・用語登録",
         "character.book.closed.fill"},
        {SidebarSection::shortcuts, "shortcuts", "ショートカット・設定", "キー設定・入力先・権限", "keyboard"},
    };
    ASSERT_EQ(sidebar_section::allCases.size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        EXPECT_EQ(sidebar_section::allCases[i], row.section);
        EXPECT_EQ(sidebar_section::rawValue(row.section), row.raw);
        EXPECT_EQ(sidebar_section::title(row.section), row.title);
        EXPECT_EQ(sidebar_section::subtitle(row.section), row.subtitle);
        EXPECT_EQ(sidebar_section::icon(row.section), row.icon);
        EXPECT_EQ(sidebar_section::fromRawValue(row.raw), row.section);
    }
    EXPECT_EQ(sidebar_section::fromRawValue("Studio"), std::nullopt);
}

TEST(OutputTabTest, RawValuesAreTheTabLabels) {
    const std::pair<OutputTab, const char*> rows[] = {
        {OutputTab::formatted, "テキスト"}, {OutputTab::timestamps, "タイムスタンプ"}, {OutputTab::srt, "SRT字幕"}};
    ASSERT_EQ(output_tab::allCases.size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(output_tab::allCases[i], rows[i].first);
        EXPECT_EQ(output_tab::rawValue(rows[i].first), rows[i].second);
        EXPECT_EQ(output_tab::fromRawValue(rows[i].second), rows[i].first);
    }
    EXPECT_EQ(output_tab::fromRawValue("formatted"), std::nullopt);
}

TEST_F(ControllerFixture, BadgesFollowTheSettings) {
    AppViewModel& vm = make();
    const std::pair<EngineMode, const char*> engines[] = {{EngineMode::hybridJaEn, "EG2 + JA Hybrid ANE"},
                                                          {EngineMode::pureEG2English, "Pure EG2 CoreML"},
                                                          {EngineMode::appleSpeechJa, "SpeechTranscriber JA"}};
    for (const auto& [mode, badge] : engines) {
        vm.setEngineMode(mode);
        EXPECT_EQ(vm.engineBadge(), badge);
    }
    const std::pair<ReinsertShortcutPreset, const char*> presets[] = {
        {ReinsertShortcutPreset::optionShiftV, "⌥⇧V"},
        {ReinsertShortcutPreset::controlShiftP, "⌃⇧P"},
        {ReinsertShortcutPreset::optionShiftP, "⌥⇧P"},
        {ReinsertShortcutPreset::commandShiftU, "⌘⇧U"}};
    for (const auto& [preset, badge] : presets) {
        vm.setReinsertShortcutPreset(preset);
        EXPECT_EQ(vm.reinsertBadge(), badge);
    }
}

// ---- fresh state ----

TEST_F(ControllerFixture, FreshControllerHoldsTheInitialValues) {
    permissions.health = {false, true, false, true};
    AppViewModel& vm = make();
    EXPECT_EQ(vm.selectedSection(), SidebarSection::studio);
    EXPECT_EQ(vm.selectedOutputTab(), OutputTab::formatted);
    EXPECT_FALSE(vm.isEngineLoaded());
    EXPECT_FALSE(vm.isLoadingEngine());
    EXPECT_EQ(vm.engineStatusText(), "起動準備中...");
    EXPECT_FALSE(vm.isTranscribing());
    EXPECT_FALSE(vm.isRecording());
    EXPECT_FALSE(vm.isHandsFreeLocked());
    EXPECT_EQ(vm.audioLevel(), 0.0f);
    EXPECT_EQ(vm.recordingDuration(), 0.0);
    EXPECT_EQ(vm.errorMessage(), std::nullopt);
    EXPECT_EQ(vm.permissionHealth(), (PermissionHealthStatus{false, true, false, true}));
    EXPECT_FALSE(vm.isPermissionSheetPresented());
    EXPECT_TRUE(vm.conflictingLegacyApps().empty());
    EXPECT_EQ(vm.statusNoticeMessage(), std::nullopt);
    EXPECT_EQ(vm.lastExternalApp(), std::nullopt);
    EXPECT_EQ(vm.capturedTargetApp(), std::nullopt);
    EXPECT_EQ(vm.capturedFocusedContext(), std::nullopt);
    EXPECT_EQ(vm.lastInjectionOutcome(), std::nullopt);
    EXPECT_EQ(vm.lastTranscribedText(), "");
    EXPECT_EQ(vm.lastMirkAutoReplaceSummary(), std::nullopt);
    EXPECT_EQ(vm.engineMode(), EngineMode::hybridJaEn);
    EXPECT_TRUE(vm.pushToTalkEnabled());
    EXPECT_EQ(vm.pushToTalkKey(), PTTShortcutKey::rightOption);
    EXPECT_TRUE(vm.doubleTapToggleEnabled());
    EXPECT_TRUE(vm.reinsertShortcutEnabled());
    EXPECT_EQ(vm.reinsertShortcutPreset(), ReinsertShortcutPreset::optionShiftV);
    EXPECT_TRUE(vm.autoPasteEnabled());
    EXPECT_TRUE(vm.copyToClipboardOnComplete());
    EXPECT_TRUE(vm.soundFeedbackEnabled());
    EXPECT_TRUE(vm.enableHomophoneReranking());
    EXPECT_TRUE(vm.enableMirkContextCorrection());
    EXPECT_FALSE(vm.allowExternalMirkTransmission());
    EXPECT_FALSE(vm.sendFocusedContextToMirk());
    EXPECT_FALSE(vm.isMirkAPIKeyConfigured());
    EXPECT_FALSE(vm.isOnDeviceFoundationModelAvailable());
    EXPECT_FALSE(vm.isRunningPlaygroundMirk());
    EXPECT_EQ(vm.inputOptions(), JapaneseInputOptions{});
    EXPECT_FALSE(vm.inputOptions().spokenToWrittenPolish);
    EXPECT_TRUE(vm.inputOptions().enableHomophoneReranking);
    EXPECT_EQ(vm.customVocabulary(), JapaneseEmbeddingReranker::defaultVocabulary());
    EXPECT_FALSE(vm.customVocabulary().empty());
    EXPECT_EQ(vm.playgroundInput(),
              "えーと、本日のミーティングでは、新しい日本音声入力ツールの設定について説明します。まる。かいぎょう。"
              "あのー、エンベディングジェマとコアエムエルを使って、三百二十ミリ秒の超低遅延を実現しました。てん。"
              "よろしくおねがいします。まる。");
    EXPECT_FALSE(vm.playgroundOutput().empty()) << "the construction computes the preview";
    EXPECT_EQ(vm.currentResult(), std::nullopt);
    EXPECT_EQ(vm.currentSourceName(), "未選択");
    EXPECT_TRUE(vm.history().empty());
    EXPECT_EQ(vm.activeTranscriptionSessionID().size(), 36u);
    EXPECT_EQ(vm.pendingRecordingRequestID(), std::nullopt);
}

TEST_F(ControllerFixture, APIKeyIsConfiguredOnlyWhenNonEmpty) {
    const std::pair<std::optional<std::string>, bool> rows[] = {
        {std::nullopt, false}, {std::string(), false}, {std::string("sk-live"), true}};
    for (const auto& [key, configured] : rows) {
        keyStore.key = key;
        EXPECT_EQ(make().isMirkAPIKeyConfigured(), configured) << key.value_or("<none>");
    }
}

TEST_F(ControllerFixture, KeyStateComesFromTheUsersKeyFileAndTheEnvironment) {
    // A fresh process with no session bus: the key lives in the user's private file.
    pelora::testing::TempDir home;
    if (pelora::testing::rerunCurrentTestIn(
            {}, {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (home / "no-bus").string()},
                 {"XDG_CONFIG_HOME", (home / "config").string()}}))
        return;
    MirkAPIKeyStore store;
    realKeyStore = &store;
    const auto file = secrets::fileSecretStore(secrets::userConfigHome() / "PeloraVoice2");
    struct Case {
        std::optional<std::string> stored;
        std::optional<std::string> variable;
        bool configured;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, false},
        {std::string(" \n"), std::nullopt, false},  // a blank stored key is none
        {std::string("sk-stored\n"), std::nullopt, true},
        {std::nullopt, std::string("sk-environment"), true},
        {std::nullopt, std::string("  "), false},
        {std::string("sk-stored"), std::string(""), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored.value_or("<none>") + " / " + c.variable.value_or("<unset>"));
        if (c.stored)
            ASSERT_EQ(file->write(MirkInputSecretStore::service, MirkInputSecretStore::account, "key", *c.stored),
                      secrets::Outcome::done);
        else
            file->remove(MirkInputSecretStore::service, MirkInputSecretStore::account);
        pelora::testing::ScopedEnvironment variable(std::string(MirkInputSecretStore::environmentVariable), c.variable);
        EXPECT_EQ(make().isMirkAPIKeyConfigured(), c.configured);
    }
}

TEST_F(ControllerFixture, OnlyAnUndecidedMicrophoneIsAskedAboutAtConstruction) {
    const std::pair<MicrophoneAuthorizationStatus, std::size_t> rows[] = {
        {MicrophoneAuthorizationStatus::notDetermined, 1}, {MicrophoneAuthorizationStatus::restricted, 0},
        {MicrophoneAuthorizationStatus::denied, 0}, {MicrophoneAuthorizationStatus::authorized, 0}};
    for (const auto& [status, requests] : rows) {
        recorder.status = status;
        recorder.permissionAnswers.clear();
        make();
        scheduler.runPosted();
        EXPECT_EQ(recorder.permissionAnswers.size(), requests) << static_cast<int>(status);
        EXPECT_TRUE(permissions.resetAnswers.empty());
    }
    // The answer re-reads the permissions.
    recorder.status = MicrophoneAuthorizationStatus::notDetermined;
    recorder.permissionAnswers.clear();
    permissions.health.microphoneAuthorized = false;
    AppViewModel& vm = make();
    scheduler.runPosted();
    permissions.health.microphoneAuthorized = true;
    recorder.permissionAnswers.at(0)(true);
    EXPECT_TRUE(vm.permissionHealth().microphoneAuthorized);
}

TEST_F(ControllerFixture, ListenersAreToldOncePerChangeAfterTheValueIsStored) {
    AppViewModel& vm = make();
    RecordingListener listener;
    listener.model = &vm;
    vm.addListener(&listener);
    vm.setSelectedSection(SidebarSection::rules);
    vm.setSelectedSection(SidebarSection::rules);  // unchanged: no news
    vm.setSoundFeedbackEnabled(false);
    EXPECT_EQ(listener.changes,
              (std::vector{AppViewModelProperty::selectedSection, AppViewModelProperty::soundFeedbackEnabled}));
    vm.toggleManualRecording();
    EXPECT_EQ(listener.recordingSeen, std::vector<bool>{true});
    vm.toggleManualRecording();
    EXPECT_EQ(listener.recordingSeen, (std::vector<bool>{true, false}));
    vm.removeListener(&listener);
    vm.setSelectedSection(SidebarSection::studio);
    EXPECT_EQ(listener.count(AppViewModelProperty::selectedSection), 1);
}

// ---- construction ----

TEST_F(ControllerFixture, ConstructionRunsItsStepsInOrder) {
    recorder.status = MicrophoneAuthorizationStatus::notDetermined;
    make();
    EXPECT_EQ(log, (std::vector<std::string>{
                       "permissions.check",           // the initial state
                       "keyStore.loadAPIKey",         // the key state
                       "permissions.check",           // the first refresh
                       "lastExternalApp.setHandler",  // the tracker's subscription
                       "overlay.setActionHandlers",   // the pill's reinsert and copy buttons
                       "recorder.setLevelHandler",
                       "pushToTalk.setHandlers",
                       "reinsert.setTriggerHandler",
                       "pushToTalk.updateConfiguration",  // the shortcut settings applied
                       "reinsert.setPreset",
                       "reinsert.start",
                   }));
    EXPECT_EQ(scheduler.pendingTimerCount(), monitorTimers);
    // The microphone question is put once the main loop runs.
    scheduler.runPosted();
    EXPECT_EQ(log.back(), "recorder.requestPermission");

    // Destruction detaches every handler it installed.
    log.clear();
    model.reset();
    std::sort(log.begin(), log.end());
    EXPECT_EQ(log, (std::vector<std::string>{"lastExternalApp.clearHandler", "overlay.clearActionHandlers",
                                             "pushToTalk.clearHandlers", "recorder.clearLevelHandler",
                                             "reinsert.clearTriggerHandler"}));
    EXPECT_EQ(scheduler.pendingTimerCount(), 0u);
}

TEST_F(ControllerFixture, PermissionsAreReadAgainEveryTickAndOnActivation) {
    AppViewModel& vm = make();
    RecordingListener listener;
    listener.model = &vm;
    vm.addListener(&listener);
    const int checks = permissions.checks;
    scheduler.advance(1199ms);
    EXPECT_EQ(permissions.checks, checks);
    scheduler.advance(1ms);
    EXPECT_EQ(permissions.checks, checks + 1);
    scheduler.advance(1200ms * 3);
    EXPECT_EQ(permissions.checks, checks + 4);
    EXPECT_EQ(listener.count(AppViewModelProperty::permissionHealth), 0) << "unchanged state is no news";

    permissions.health.accessibilityTrusted = false;
    vm.applicationDidBecomeActive();
    EXPECT_EQ(permissions.checks, checks + 5);
    EXPECT_FALSE(vm.permissionHealth().accessibilityTrusted);
    EXPECT_EQ(listener.count(AppViewModelProperty::permissionHealth), 1);
}

TEST_F(ControllerFixture, LastExternalAppMirrorsTheTracker) {
    const ActiveApplicationSnapshot editor{4242, std::string("org.example.Editor"), std::string("Editor")};
    const ActiveApplicationSnapshot terminal{77, std::string("org.example.Terminal"), std::string("Terminal")};
    lastExternalApp.current = editor;
    AppViewModel& vm = make();
    EXPECT_EQ(vm.lastExternalApp(), editor);
    RecordingListener listener;
    listener.model = &vm;
    vm.addListener(&listener);
    lastExternalApp.change(terminal);
    EXPECT_EQ(vm.lastExternalApp(), terminal);
    lastExternalApp.change(std::nullopt);
    EXPECT_EQ(vm.lastExternalApp(), std::nullopt);
    EXPECT_EQ(listener.count(AppViewModelProperty::lastExternalApp), 2);
}

TEST_F(ControllerFixture, ThePillsCopyButtonCopiesOnlyText) {
    make();
    ASSERT_TRUE(overlay.onCopyRequested);
    overlay.onCopyRequested("");
    EXPECT_TRUE(paster.copied.empty());
    overlay.onCopyRequested("今日は晴れです。");
    EXPECT_EQ(paster.copied, std::vector<std::string>{"今日は晴れです。"});
    ASSERT_TRUE(overlay.onReinsertRequested);
    ASSERT_TRUE(reinsertShortcut.onTrigger);
}

// ---- starting ----

TEST_F(ControllerFixture, SourceLabelsNameTheKeyAndTheGesture) {
    struct Row {
        PTTShortcutKey key;
        bool handsFree;
        const char* label;
    };
    const Row rows[] = {
        {PTTShortcutKey::rightOption, false, "Push-to-Talk (右⌥)"},
        {PTTShortcutKey::fnKey, false, "Push-to-Talk (Fn)"},
        {PTTShortcutKey::rightCommand, false, "Push-to-Talk (右⌘)"},
        {PTTShortcutKey::leftOption, false, "Push-to-Talk (左⌥)"},
        {PTTShortcutKey::rightControl, false, "Push-to-Talk (右⌃)"},
        {PTTShortcutKey::rightOption, true, "ハンズフリー (右⌥ ダブルタップ)"},
        {PTTShortcutKey::rightControl, true, "ハンズフリー (右⌃ ダブルタップ)"},
    };
    for (const Row& row : rows) {
        AppViewModel& vm = make();
        vm.setPushToTalkKey(row.key);
        pushToTalk.press(row.handsFree);
        EXPECT_TRUE(vm.isRecording());
        EXPECT_EQ(vm.currentSourceName(), row.label);
        EXPECT_EQ(vm.isHandsFreeLocked(), row.handsFree);
        EXPECT_EQ(targetCapture.preferExternalAsked.back(), false);
    }
    AppViewModel& vm = make();
    vm.toggleManualRecording();
    EXPECT_EQ(vm.currentSourceName(), manualLabel);
    EXPECT_EQ(targetCapture.preferExternalAsked.back(), true);
}

TEST_F(ControllerFixture, StartCapturesTheTargetPlaysTinkAndShowsTheOverlay) {
    AppViewModel& vm = make();
    const std::string sessionBefore = vm.activeTranscriptionSessionID();
    pushToTalk.press();
    EXPECT_NE(vm.activeTranscriptionSessionID(), sessionBefore);
    EXPECT_EQ(vm.capturedTargetApp(), targetCapture.target);
    ASSERT_TRUE(vm.capturedFocusedContext());
    EXPECT_EQ(vm.capturedFocusedContext()->preText, "前の文");
    EXPECT_EQ(recorder.starts, 1);
    EXPECT_EQ(cues.played, std::vector<std::string>{"Tink"});
    ASSERT_EQ(overlay.calls.size(), 1u);
    const auto& shown = overlay.calls[0];
    EXPECT_EQ(shown.mode, "recording");
    EXPECT_EQ(shown.seconds, 0.0);
    EXPECT_FLOAT_EQ(shown.level, 0.12f);
    EXPECT_EQ(shown.badge, "EG2 + JA Hybrid ANE");
    EXPECT_EQ(shown.target, targetCapture.target->displayLabel());
    EXPECT_FALSE(shown.locked);

    // No target: the overlay names none.
    targetCapture.target.reset();
    make();
    pushToTalk.press();
    EXPECT_EQ(overlay.calls.back().target, std::nullopt);
}

TEST_F(ControllerFixture, DoubleTapDuringAHeldRecordingLocksItWithoutRestarting) {
    AppViewModel& vm = make();
    pushToTalk.press();
    scheduler.advance(300ms);
    const std::string session = vm.activeTranscriptionSessionID();
    pushToTalk.press(true);
    EXPECT_EQ(recorder.starts, 1);
    EXPECT_TRUE(vm.isHandsFreeLocked());
    EXPECT_EQ(vm.currentSourceName(), "ハンズフリー (右⌥ ダブルタップ)");
    EXPECT_EQ(vm.activeTranscriptionSessionID(), session);
    EXPECT_EQ(overlay.lastMode(), "recording");
    EXPECT_TRUE(overlay.calls.back().locked);
    EXPECT_NEAR(overlay.calls.back().seconds, 0.3, 1e-9);
    // A plain second press while recording does nothing.
    const auto shownBefore = overlay.calls.size();
    pushToTalk.press(false);
    EXPECT_EQ(overlay.calls.size(), shownBefore);
    EXPECT_EQ(recorder.starts, 1);
}

TEST_F(ControllerFixture, StartIsRefusedUnlessIdle) {
    AppViewModel& vm = make();
    // While a transcription runs.
    pushToTalk.press();
    pushToTalk.release();
    ASSERT_TRUE(vm.isTranscribing());
    const std::string session = vm.activeTranscriptionSessionID();
    pushToTalk.press();
    vm.toggleManualRecording();  // a stop that finds nothing to stop
    vm.startRecording(manualLabel, true);
    EXPECT_FALSE(vm.isRecording());
    EXPECT_EQ(recorder.starts, 1);
    EXPECT_EQ(transcription.jobs.size(), 1u);
    EXPECT_EQ(vm.activeTranscriptionSessionID(), session);

    // While waiting for permission.
    recorder.status = MicrophoneAuthorizationStatus::notDetermined;
    AppViewModel& waiting = make();
    waiting.startRecording(manualLabel, true);
    ASSERT_TRUE(waiting.pendingRecordingRequestID());
    const auto request = *waiting.pendingRecordingRequestID();
    waiting.startRecording("Push-to-Talk (右⌥)", false);
    EXPECT_EQ(waiting.pendingRecordingRequestID(), request);
}

TEST_F(ControllerFixture, MicrophoneStartFailureReturnsToIdleWithTheError) {
    for (bool sound : {true, false}) {
        recorder.startFailure = "入力デバイスがありません";
        cues.played.clear();
        const int resetsBefore = pushToTalk.resets;
        AppViewModel& vm = make();
        vm.setSoundFeedbackEnabled(sound);
        pushToTalk.press(true);
        EXPECT_FALSE(vm.isRecording());
        EXPECT_FALSE(vm.isHandsFreeLocked());
        EXPECT_EQ(pushToTalk.resets, resetsBefore + 1);
        EXPECT_EQ(overlay.lastMode(), "hidden");
        EXPECT_EQ(vm.errorMessage(), "マイクの開始に失敗しました: 入力デバイスがありません");
        EXPECT_EQ(cues.played, sound ? std::vector<std::string>{"Basso"} : std::vector<std::string>{});
        EXPECT_EQ(scheduler.pendingTimerCount(), monitorTimers);
    }
}

TEST_F(ControllerFixture, AMicrophoneSlowToStartLeavesTheMainThreadAndARelease) {
    recorder.slowStart = true;
    recorder.samples = {};  // each recording too short to transcribe: the next press may start
    AppViewModel& vm = make();
    {
        SCOPED_TRACE("the microphone answers: the recording begins then");
        pushToTalk.press();
        EXPECT_FALSE(vm.isRecording()) << "nothing claims a recording before the microphone runs";
        EXPECT_TRUE(vm.pendingRecordingRequestID());
        ASSERT_EQ(recorder.pendingStarts.size(), 1u);
        recorder.answerStart();
        EXPECT_TRUE(vm.isRecording());
        EXPECT_FALSE(vm.pendingRecordingRequestID());
        EXPECT_EQ(overlay.lastMode(), "recording");
        pushToTalk.release();
        EXPECT_FALSE(vm.isRecording());
    }
    {
        SCOPED_TRACE("released before the microphone answers: no recording, the late capture dropped");
        const int stopsBefore = recorder.stops;
        const auto jobsBefore = transcription.jobs.size();
        pushToTalk.press();
        pushToTalk.release();
        EXPECT_FALSE(vm.pendingRecordingRequestID());
        recorder.answerStart();
        EXPECT_FALSE(vm.isRecording());
        EXPECT_EQ(recorder.stops, stopsBefore + 1);
        EXPECT_EQ(transcription.jobs.size(), jobsBefore);
        pushToTalk.press();
        EXPECT_EQ(recorder.pendingStarts.size(), 1u) << "a new press starts again";
        recorder.answerStart("入力デバイスがありません");
        EXPECT_FALSE(vm.isRecording());
        EXPECT_EQ(vm.errorMessage(), "マイクの開始に失敗しました: 入力デバイスがありません");
    }
}

// ---- while recording ----

TEST_F(ControllerFixture, DurationTicksEvery50msFromTheStart) {
    AppViewModel& vm = make();
    scheduler.advance(7ms);
    pushToTalk.press();
    scheduler.advance(49ms);
    EXPECT_EQ(vm.recordingDuration(), 0.0);
    scheduler.advance(1ms);
    EXPECT_NEAR(vm.recordingDuration(), 0.05, 1e-9);
    scheduler.advance(1000ms);
    EXPECT_NEAR(vm.recordingDuration(), 1.05, 1e-9);
    // The timer does not touch the overlay.
    EXPECT_EQ(overlay.calls.size(), 1u);
    pushToTalk.release();
    EXPECT_EQ(scheduler.pendingTimerCount(), monitorTimers);
}

TEST_F(ControllerFixture, LevelsFromTheAudioThreadLandOnTheMainThread) {
    AppViewModel& vm = make();
    std::thread audio([this] { recorder.levelHandler(0.4f); });
    audio.join();
    EXPECT_EQ(vm.audioLevel(), 0.0f);  // not yet: it waits for the main thread
    scheduler.runPosted();
    EXPECT_FLOAT_EQ(vm.audioLevel(), 0.4f);
    EXPECT_TRUE(overlay.calls.empty());  // not recording: stored, not shown

    pushToTalk.press();
    scheduler.advance(100ms);
    recorder.levelHandler(0.7f);
    scheduler.runPosted();
    EXPECT_FLOAT_EQ(vm.audioLevel(), 0.7f);
    ASSERT_EQ(overlay.lastMode(), "recording");
    EXPECT_FLOAT_EQ(overlay.calls.back().level, 0.7f);
    EXPECT_NEAR(overlay.calls.back().seconds, 0.1, 1e-9);
    EXPECT_FALSE(overlay.calls.back().locked);
}

// ---- stopping ----

TEST_F(ControllerFixture, StopKeepsOnlyLongEnoughAudibleRecordings) {
    struct Row {
        const char* name;
        std::size_t count;
        float value;
        bool transcribed;
        bool silent;
    };
    const Row rows[] = {
        {"empty", 0, 0.5f, false, false},
        {"just under 0.18 s", 2879, 0.5f, false, false},
        {"0.18 s of zeros", 2880, 0.0f, false, true},
        {"just under the silence threshold", 4000, 0.000099f, false, true},
        {"at the silence threshold", 4000, 0.0001f, true, false},
        {"negative samples count by size", 4000, -0.3f, true, false},
    };
    for (bool sound : {true, false}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.name);
            recorder.samples.assign(row.count, 0.0f);
            if (row.count > 0) recorder.samples[row.count / 2] = row.value;
            cues.played.clear();
            transcription.jobs.clear();
            AppViewModel& vm = make();
            vm.setSoundFeedbackEnabled(sound);
            pushToTalk.press();
            cues.played.clear();
            const std::string session = vm.activeTranscriptionSessionID();
            pushToTalk.release();
            EXPECT_NE(vm.activeTranscriptionSessionID(), session);
            EXPECT_FALSE(vm.isRecording());
            EXPECT_EQ(vm.audioLevel(), 0.0f);
            EXPECT_EQ(vm.isTranscribing(), row.transcribed);
            EXPECT_EQ(transcription.jobs.size(), row.transcribed ? 1u : 0u);
            EXPECT_EQ(overlay.lastMode(), row.transcribed ? "transcribing" : "hidden");
            EXPECT_EQ(vm.statusNoticeMessage(), row.silent ? std::optional<std::string>(silenceText) : std::nullopt);
            const bool basso = row.silent && sound;
            EXPECT_EQ(cues.played, basso ? std::vector<std::string>{"Basso"} : std::vector<std::string>{});
            EXPECT_EQ(vm.errorMessage(), std::nullopt);
            EXPECT_EQ(scheduler.pendingTimerCount(), monitorTimers);
        }
    }
}

TEST_F(ControllerFixture, TheJobIsASnapshotOfTheSettingsAtTheStop) {
    AppViewModel& vm = make();
    vm.setEngineMode(EngineMode::pureEG2English);
    JapaneseInputOptions options;
    options.enableHomophoneReranking = true;
    options.spokenToWrittenPolish = true;
    vm.setInputOptions(options);
    vm.setEnableHomophoneReranking(false);
    std::vector<CustomVocabularyEntry> vocabulary(1);
    vocabulary[0].surface = "ペロラ";
    vocabulary[0].reading = "ぺろら";
    vm.setCustomVocabulary(vocabulary);
    pushToTalk.press();
    vm.toggleManualRecording();
    ASSERT_EQ(transcription.jobs.size(), 1u);
    const DictationJob& job = transcription.jobs[0];
    EXPECT_EQ(job.samples->size(), recorder.samples.size());
    EXPECT_EQ(job.engineMode, EngineMode::pureEG2English);
    EXPECT_FALSE(job.inputOptions.enableHomophoneReranking);
    EXPECT_TRUE(job.inputOptions.spokenToWrittenPolish);
    EXPECT_FALSE(job.enableHomophoneReranking);
    EXPECT_EQ(job.customVocabulary, vocabulary);
    EXPECT_EQ(job.sourceName, "Push-to-Talk (右⌥)");
    EXPECT_EQ(job.targetApp, targetCapture.target);
    EXPECT_EQ(job.focusedContext, vm.capturedFocusedContext());
    EXPECT_TRUE(job.triggerAutoPaste);
    EXPECT_EQ(overlay.calls.back().badge, "Pure EG2 CoreML");
    EXPECT_GE(pushToTalk.resets, 1);  // the record button also resets the key
}

TEST_F(ControllerFixture, KeyReleaseClearsTheHandsFreeLock) {
    AppViewModel& vm = make();
    pushToTalk.press(true);
    ASSERT_TRUE(vm.isHandsFreeLocked());
    pushToTalk.release();
    EXPECT_FALSE(vm.isHandsFreeLocked());
    EXPECT_TRUE(vm.isTranscribing());
}

// ---- permission wait ----

enum class Gesture { manual, keyHeld, keyReleased, keyReleasedButLocked };

TEST_F(ControllerFixture, PermissionWaitStartsTheRecordingOnlyWhenGrantedAndStillWanted) {
    struct Row {
        MicrophoneAuthorizationStatus status;
        Gesture gesture;
        bool granted;
        bool records;
    };
    using S = MicrophoneAuthorizationStatus;
    const Row rows[] = {
        {S::notDetermined, Gesture::manual, true, true},
        {S::notDetermined, Gesture::manual, false, false},
        {S::notDetermined, Gesture::keyHeld, true, true},
        {S::notDetermined, Gesture::keyHeld, false, false},
        {S::notDetermined, Gesture::keyReleased, true, false},
        {S::notDetermined, Gesture::keyReleased, false, false},
        {S::notDetermined, Gesture::keyReleasedButLocked, true, true},
        {S::notDetermined, Gesture::keyReleasedButLocked, false, false},
        {S::denied, Gesture::manual, true, true},
        {S::denied, Gesture::keyHeld, false, false},
        {S::denied, Gesture::keyReleased, true, false},
        {S::restricted, Gesture::keyHeld, true, true},
        {S::restricted, Gesture::manual, false, false},
        {S::restricted, Gesture::keyReleasedButLocked, true, true},
    };
    for (bool sound : {true, false}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(::testing::Message() << "status " << static_cast<int>(row.status) << " gesture "
                                            << static_cast<int>(row.gesture) << " granted " << row.granted);
            recorder.status = row.status;
            recorder.starts = 0;
            recorder.permissionAnswers.clear();
            permissions.resetAnswers.clear();
            cues.played.clear();
            AppViewModel& vm = make();
            vm.setSoundFeedbackEnabled(sound);
            scheduler.runPosted();
            recorder.permissionAnswers.clear();  // the construction's own question
            const int resetsBefore = pushToTalk.resets;

            if (row.gesture == Gesture::manual) {
                vm.toggleManualRecording();
            } else {
                // Through the start handler directly: a key release would withdraw the request.
                pushToTalk.pressed = true;
                pushToTalk.onStart(row.gesture == Gesture::keyReleasedButLocked);
            }
            EXPECT_FALSE(vm.isRecording());
            ASSERT_TRUE(vm.pendingRecordingRequestID());
            scheduler.runPosted();
            auto& answers = row.status == S::notDetermined ? recorder.permissionAnswers : permissions.resetAnswers;
            EXPECT_EQ(recorder.permissionAnswers.size() + permissions.resetAnswers.size(), 1u);
            ASSERT_EQ(answers.size(), 1u);
            if (row.gesture == Gesture::keyReleased || row.gesture == Gesture::keyReleasedButLocked)
                pushToTalk.pressed = false;
            const int checksBefore = permissions.checks;
            answers[0](row.granted);

            EXPECT_GT(permissions.checks, checksBefore);
            EXPECT_EQ(vm.pendingRecordingRequestID(), std::nullopt);
            EXPECT_EQ(vm.isRecording(), row.records);
            EXPECT_EQ(recorder.starts, row.records ? 1 : 0);
            if (row.records) {
                EXPECT_EQ(vm.errorMessage(), std::nullopt);
                EXPECT_EQ(cues.played, sound ? std::vector<std::string>{"Tink"} : std::vector<std::string>{});
            } else {
                EXPECT_FALSE(vm.isHandsFreeLocked());
                EXPECT_EQ(pushToTalk.resets, resetsBefore + 1);
                EXPECT_EQ(vm.errorMessage(), row.granted ? std::nullopt : std::optional<std::string>(permissionText));
                const bool basso = !row.granted && sound;
                EXPECT_EQ(cues.played, basso ? std::vector<std::string>{"Basso"} : std::vector<std::string>{});
            }
        }
    }
}

TEST_F(ControllerFixture, PermissionGrantedKeepsTheLabelTheFirstPressChose) {
    recorder.status = MicrophoneAuthorizationStatus::notDetermined;
    AppViewModel& vm = make();
    scheduler.runPosted();
    recorder.permissionAnswers.clear();
    pushToTalk.pressed = true;
    pushToTalk.onStart(false);
    scheduler.runPosted();
    // The user double-taps while the desktop asks.
    pushToTalk.pressed = false;
    pushToTalk.onStart(true);
    ASSERT_EQ(recorder.permissionAnswers.size(), 1u);
    recorder.permissionAnswers[0](true);
    EXPECT_TRUE(vm.isRecording());
    EXPECT_TRUE(vm.isHandsFreeLocked());
    EXPECT_EQ(vm.currentSourceName(), "Push-to-Talk (右⌥)");
}

TEST_F(ControllerFixture, AStopDuringThePermissionWaitMakesTheLateAnswerStartNothing) {
    struct Row {
        const char* name;
        bool answerBeforeAsked;  // the stop lands before the question is even put
        std::function<void(AppViewModel&, FakePushToTalk&)> stop;
    };
    const Row rows[] = {
        {"key released", false, [](AppViewModel&, FakePushToTalk& key) { key.release(); }},
        {"record button", false, [](AppViewModel& vm, FakePushToTalk&) { vm.toggleManualRecording(); }},
        {"record button before the question", true,
         [](AppViewModel& vm, FakePushToTalk&) { vm.toggleManualRecording(); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        recorder.status = MicrophoneAuthorizationStatus::notDetermined;
        recorder.starts = 0;
        AppViewModel& vm = make();
        scheduler.runPosted();
        recorder.permissionAnswers.clear();
        cues.played.clear();
        vm.toggleManualRecording();
        if (!row.answerBeforeAsked) scheduler.runPosted();
        const int resetsBefore = pushToTalk.resets;
        row.stop(vm, pushToTalk);
        EXPECT_EQ(vm.pendingRecordingRequestID(), std::nullopt);
        EXPECT_GE(pushToTalk.resets, resetsBefore + 1);
        scheduler.runPosted();
        for (auto& answer : recorder.permissionAnswers) answer(true);
        EXPECT_FALSE(vm.isRecording());
        EXPECT_EQ(recorder.starts, 0);
        EXPECT_TRUE(cues.played.empty());
        EXPECT_EQ(vm.errorMessage(), std::nullopt);
        EXPECT_TRUE(transcription.jobs.empty());
        // The next start asks afresh and works.
        recorder.status = MicrophoneAuthorizationStatus::authorized;
        vm.toggleManualRecording();
        EXPECT_TRUE(vm.isRecording());
    }
}

TEST_F(ControllerFixture, AnAnswerAfterANewerRequestOnlyRefreshesThePermissions) {
    recorder.status = MicrophoneAuthorizationStatus::denied;
    AppViewModel& vm = make();
    vm.toggleManualRecording();
    scheduler.runPosted();
    vm.toggleManualRecording();  // withdraw
    vm.toggleManualRecording();  // ask again
    scheduler.runPosted();
    ASSERT_EQ(permissions.resetAnswers.size(), 2u);
    permissions.health.microphoneAuthorized = false;
    permissions.resetAnswers[0](true);  // the stale one
    EXPECT_FALSE(vm.isRecording());
    EXPECT_TRUE(vm.pendingRecordingRequestID());
    permissions.health.microphoneAuthorized = true;
    permissions.resetAnswers[1](true);
    EXPECT_TRUE(vm.isRecording());
    EXPECT_TRUE(vm.permissionHealth().microphoneAuthorized);
}

// ---- lifetime ----

TEST_F(ControllerFixture, DestructionStopsTimersAndLateCallbacksDoNothing) {
    recorder.status = MicrophoneAuthorizationStatus::authorized;
    make();
    pushToTalk.press();
    recorder.levelHandler(0.5f);  // queued for the main thread
    ASSERT_EQ(scheduler.pendingTimerCount(), monitorTimers + 1);
    auto levelHandler = recorder.levelHandler;
    model.reset();
    EXPECT_EQ(scheduler.pendingTimerCount(), 0u);
    EXPECT_FALSE(recorder.levelHandler);
    EXPECT_FALSE(pushToTalk.onStart);
    const auto overlayCalls = overlay.calls.size();
    levelHandler(0.9f);  // an audio buffer that was already under way
    scheduler.advance(1s);
    EXPECT_EQ(overlay.calls.size(), overlayCalls);

    // A permission wait in flight, answered after the controller is gone.
    recorder.status = MicrophoneAuthorizationStatus::notDetermined;
    recorder.permissionAnswers.clear();
    make();
    model->toggleManualRecording();
    scheduler.runPosted();
    ASSERT_FALSE(recorder.permissionAnswers.empty());
    model.reset();
    const int checks = permissions.checks;
    for (auto& answer : recorder.permissionAnswers) answer(true);
    EXPECT_EQ(permissions.checks, checks);
    EXPECT_EQ(recorder.starts, 1);

    // A permission wait that had not yet asked.
    make();
    model->toggleManualRecording();
    model.reset();
    recorder.permissionAnswers.clear();
    scheduler.runPosted();
    EXPECT_TRUE(recorder.permissionAnswers.empty());
}

}  // namespace
