#pragma once

#include "PeloraVoiceApp/MainThreadScheduler.h"
#include "PeloraVoiceApp/controller/AppViewModelCollaborators.h"
#include "PeloraVoiceApp/controller/AppViewModelListener.h"
#include "PeloraVoiceApp/controller/DictationJob.h"
#include "PeloraVoiceApp/controller/FileTranscriptionProgress.h"
#include "PeloraVoiceApp/controller/HistoryEntry.h"
#include "PeloraVoiceApp/controller/OutputTab.h"
#include "PeloraVoiceApp/controller/SidebarSection.h"
#include "PeloraVoiceApp/controller/settings/AppSettingsDocument.h"
#include "PeloraVoiceApp/system/LegacyPeloraAppInfo.h"
#include "PeloraVoiceApp/system/PTTShortcutKey.h"
#include "PeloraVoiceApp/system/PermissionHealthStatus.h"
#include "engine/injection/ActiveApplicationSnapshot.h"
#include "engine/injection/FocusedTextContext.h"
#include "engine/injection/ReinsertShortcutPreset.h"
#include "engine/injection/TextInjectionOutcome.h"
#include "engine/japanese/CustomVocabularyEntry.h"
#include "engine/japanese/JapaneseEmbeddingReranker.h"
#include "engine/japanese/JapaneseInputProcessor.h"
#include "engine/japanese/JapaneseInputOptions.h"
#include "engine/japanese/MirkContextualAutoReplacer.h"
#include "engine/recognition/EngineMode.h"
#include "engine/recognition/TranscriptionResult.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pelora {

// The application's one controller: the state every window and the tray show, and the
// dictation from key press to the delivered text. Toolkit-free and confined to the main thread;
// callbacks from other threads and timers hop onto it and do nothing once it is gone.
class AppViewModel {
public:
    // Over the desktop's own collaborators (the sound server, the X11 keys, the overlay, the
    // shared tracker and orchestrator, the engine, the Qt main loop). Needs a QApplication.
    AppViewModel();
    explicit AppViewModel(AppViewModelCollaborators collaborators);
    // Stops the duration timer and any permission wait, and detaches every handler it installed.
    ~AppViewModel();
    AppViewModel(const AppViewModel&) = delete;
    AppViewModel& operator=(const AppViewModel&) = delete;

    void addListener(AppViewModelListener* listener);
    void removeListener(AppViewModelListener* listener);

    // Published state.
    SidebarSection selectedSection() const { return selectedSection_; }
    OutputTab selectedOutputTab() const { return selectedOutputTab_; }
    bool isEngineLoaded() const { return isEngineLoaded_; }
    bool isLoadingEngine() const { return isLoadingEngine_; }
    const std::string& engineStatusText() const { return engineStatusText_; }
    bool isTranscribing() const { return isTranscribing_; }
    bool isRecording() const { return isRecording_; }
    bool isHandsFreeLocked() const { return isHandsFreeLocked_; }
    float audioLevel() const { return audioLevel_; }
    double recordingDuration() const { return recordingDuration_; }
    const std::optional<std::string>& errorMessage() const { return errorMessage_; }
    const PermissionHealthStatus& permissionHealth() const { return permissionHealth_; }
    bool isPermissionSheetPresented() const { return isPermissionSheetPresented_; }
    const std::vector<LegacyPeloraAppInfo>& conflictingLegacyApps() const { return conflictingLegacyApps_; }
    const std::optional<std::string>& statusNoticeMessage() const { return statusNoticeMessage_; }
    const std::optional<ActiveApplicationSnapshot>& lastExternalApp() const { return lastExternalApp_; }
    const std::optional<ActiveApplicationSnapshot>& capturedTargetApp() const { return capturedTargetApp_; }
    const std::optional<FocusedTextContext>& capturedFocusedContext() const { return capturedFocusedContext_; }
    const std::optional<TextInjectionOutcome>& lastInjectionOutcome() const { return lastInjectionOutcome_; }
    const std::string& lastTranscribedText() const { return lastTranscribedText_; }
    const std::optional<std::string>& lastMirkAutoReplaceSummary() const { return lastMirkAutoReplaceSummary_; }
    EngineMode engineMode() const { return engineMode_; }
    bool pushToTalkEnabled() const { return pushToTalkEnabled_; }
    PTTShortcutKey pushToTalkKey() const { return pushToTalkKey_; }
    bool doubleTapToggleEnabled() const { return doubleTapToggleEnabled_; }
    bool reinsertShortcutEnabled() const { return reinsertShortcutEnabled_; }
    ReinsertShortcutPreset reinsertShortcutPreset() const { return reinsertShortcutPreset_; }
    bool autoPasteEnabled() const { return autoPasteEnabled_; }
    bool copyToClipboardOnComplete() const { return copyToClipboardOnComplete_; }
    bool soundFeedbackEnabled() const { return soundFeedbackEnabled_; }
    bool enableHomophoneReranking() const { return enableHomophoneReranking_; }
    bool enableMirkContextCorrection() const { return enableMirkContextCorrection_; }
    bool allowExternalMirkTransmission() const { return allowExternalMirkTransmission_; }
    bool sendFocusedContextToMirk() const { return sendFocusedContextToMirk_; }
    bool isMirkAPIKeyConfigured() const { return isMirkAPIKeyConfigured_; }
    bool isOnDeviceFoundationModelAvailable() const { return isOnDeviceFoundationModelAvailable_; }
    bool isRunningPlaygroundMirk() const { return isRunningPlaygroundMirk_; }
    const JapaneseInputOptions& inputOptions() const { return inputOptions_; }
    const std::vector<CustomVocabularyEntry>& customVocabulary() const { return customVocabulary_; }
    const std::string& playgroundInput() const { return playgroundInput_; }
    const std::string& playgroundOutput() const { return playgroundOutput_; }
    const std::vector<std::string>& playgroundAppliedRules() const { return playgroundAppliedRules_; }
    const std::optional<TranscriptionResult>& currentResult() const { return currentResult_; }
    const std::string& currentSourceName() const { return currentSourceName_; }
    const std::vector<HistoryEntry>& history() const { return history_; }
    // Why Japanese recognition has no speech model, as the last boot found (it names the
    // model folder and the variable that names a model file); none otherwise. A boot
    // clears it when it starts.
    const std::optional<std::string>& speechModelMissingMessage() const { return speechModelMissingMessage_; }
    // How far the file being transcribed has come (the decoder's fraction, then the Japanese
    // recogniser's), at most ten changes a second and never back within a phase; none while
    // no file is transcribed (dictations and the benchmark tell nothing here).
    const std::optional<FileTranscriptionProgress>& fileTranscriptionProgress() const { return fileTranscriptionProgress_; }

    // What the views write.
    void setSelectedSection(SidebarSection value);
    void setSelectedOutputTab(OutputTab value);
    void setIsPermissionSheetPresented(bool value);
    void setPlaygroundInput(std::string value);
    // Settings.
    void setEngineMode(EngineMode value);
    void setPushToTalkEnabled(bool value);
    void setPushToTalkKey(PTTShortcutKey value);
    void setDoubleTapToggleEnabled(bool value);
    void setReinsertShortcutEnabled(bool value);
    void setReinsertShortcutPreset(ReinsertShortcutPreset value);
    void setAutoPasteEnabled(bool value);
    void setCopyToClipboardOnComplete(bool value);
    void setSoundFeedbackEnabled(bool value);
    void setEnableHomophoneReranking(bool value);
    void setEnableMirkContextCorrection(bool value);
    void setAllowExternalMirkTransmission(bool value);
    void setSendFocusedContextToMirk(bool value);
    void setInputOptions(JapaneseInputOptions value);
    void setCustomVocabulary(std::vector<CustomVocabularyEntry> value);

    // The badges the overlay and the windows show for the current settings.
    std::string engineBadge() const;
    std::string reinsertBadge() const;

    // Prepares recognition once per launch: the models (downloaded on first use), the
    // Japanese speech assets and the transcriber, built on a worker. Does nothing while a
    // boot runs or once the acoustic model is loaded, unless the speech model was missing.
    void bootEngine();
    // The engine; built by the boot or by the first dictation. It is replaced on the main
    // thread only, and a run holds its own share, so a replaced one lives until its run ends.
    const std::shared_ptr<const PeloraHybridTranscriber>& transcriber() const { return transcriber_; }

    // The application became the active one (forwarded from the toolkit): permissions are read again.
    void applicationDidBecomeActive();

    // ---- Permissions and earlier editions ----
    // Reads the permissions again (from state the desktop keeps current; never waits),
    // announces a newly granted one, and lists the earlier editions running now.
    void refreshPermissions();
    // Asks for every missing permission.
    void requestPermissions();
    void requestAllPermissions() { requestPermissions(); }
    void requestAndOpenAccessibility();
    void resetAndRePromptAccessibility();
    void revealAppInFinder();
    void openInputMonitoringSettings();
    // Opens the sound settings when the microphone is usable, else asks again (reconnecting
    // to the sound server) and opens them only when that did not help.
    void openMicrophoneSettings();
    void resetAndRePromptMicrophone();
    // Asks the earlier editions to quit; when some did, the hot keys are taken again.
    void terminateConflictingLegacyApps();

    static constexpr std::string_view accessibilityGrantedNotice =
        "✓ アクセシビリティ権限が有効になりました！すべてのアプリへの直接テキスト挿入が利用可能です。";
    static constexpr std::string_view microphoneGrantedNotice =
        "✓ マイク音声取得の権限が有効になりました！音声入力が利用可能です。";
    static constexpr std::string_view legacyEditionRunningNotice =
        "⚠️ 旧バージョンの PeloraVoice が同時起動しています。ショートカット競合を防ぐため、必要に応じてバナーから終了できます。";
    static constexpr std::string_view accessibilityResetNotice =
        "アクセシビリティとマイクの接続をやり直しました。反映されない場合は「状態を再確認」を押してください。";
    static constexpr std::string_view microphoneRegrantedAfterResetNotice =
        "✓ マイク権限キャッシュをリセットして再許可しました！音声入力が利用可能です。";
    static constexpr std::string_view microphoneReregisteredNotice = "✓ マイク権限を再登録し、音声取得が有効になりました！";
    static constexpr std::string_view microphoneResetPendingNotice =
        "マイクへの接続をやり直しました。サウンドサーバーと入力デバイスを確認してください。";
    // The window's "閉じる" on the error banner and on the notice line.
    void dismissErrorMessage();
    void dismissStatusNotice();

    // ---- Settings: persistence, the vocabulary and the API key, the playground ----
    // Writes the whole settings document from the current values (every settings setter
    // does, after its other effects); a failed write keeps the previous document.
    void saveSettings();
    // Computed settings the shortcuts page binds; writing them assigns the stored setting.
    ReinsertShortcutPreset reinsertPreset() const { return reinsertShortcutPreset_; }
    void setReinsertPreset(ReinsertShortcutPreset value) { setReinsertShortcutPreset(value); }
    bool doubleTapLockEnabled() const { return doubleTapToggleEnabled_; }
    void setDoubleTapLockEnabled(bool value) { setDoubleTapToggleEnabled(value); }
    bool restoreClipboardAfterPaste() const { return !copyToClipboardOnComplete_; }
    void setRestoreClipboardAfterPaste(bool value) { setCopyToClipboardOnComplete(!value); }
    // A user entry at the top of the vocabulary; a blank written form adds nothing.
    // `contextKeywords` are separated by ASCII commas.
    void addVocabularyEntry(const std::string& reading, const std::string& surface, const std::string& contextKeywords);
    void removeVocabularyEntry(const std::string& id);
    void resetVocabularyToDefaults();
    // Stores the trimmed key; true when it was stored. A blank key, or one that still holds
    // a control character (a paste that caught a tab or line break), changes nothing.
    bool saveMirkAPIKey(const std::string& key);
    void clearMirkAPIKey();
    // The playground's output from its input under the current rules and vocabulary.
    void refreshPlaygroundPreview();
    // The preview through the contextual auto-replacer too, on a worker; its result is taken
    // only while the preview is still the text it was given.
    void runPlaygroundMirkAutoReplace();
    // The current result's final text and timeline again from its raw text, under the current rules.
    void reprocessCurrentResultIfAvailable();
    // Tests follow the effects of a settings change: "saveSettings", "applyShortcutSettings",
    // "refreshPlaygroundPreview", "reprocessCurrentResultIfAvailable", in the order they run.
    void setSettingsEffectObserverForTesting(std::function<void(std::string_view effect)> observer) {
        settingsEffectObserver_ = std::move(observer);
    }
    // Tests see each job handed to transcription, as it starts.
    void setDictationJobObserverForTesting(std::function<void(const DictationJob&)> observer) {
        dictationJobObserver_ = std::move(observer);
    }
    // Where the settings are kept.
    const AppSettingsDocument& settingsDocument() const { return settingsDocument_; }

    // Recording.
    void toggleManualRecording();
    void startRecording(const std::string& sourceLabel, bool preferExternalTarget);
    void stopRecordingAndTranscribe(bool triggerAutoPaste);

    // ---- Completion and history ----
    // What the contextual correction pass is given by the completion that starts it.
    struct ContextualPassRequest {
        TranscriptionResult result;  // its text is the text that was delivered
        std::vector<CustomVocabularyEntry> customVocabulary;
        std::string sourceName;
        std::optional<ActiveApplicationSnapshot> target;
        std::string historyEntryID;
        std::chrono::system_clock::time_point historyCreatedAt;
        std::string sessionID;  // the completion's session; effects only while it is current
        bool triggerAutoPaste = false;
        bool insertedDirectly = false;
        std::optional<TextInjectionOutcome> insertionOutcome;
        bool enableMirkNetwork = false;
        std::optional<FocusedTextContext> focusedContext;  // none when it must not leave the device
    };

    // Delivers a finished transcription (dictation, file or benchmark): publishes it, adds it
    // to the history, inserts it into `target` (only when `triggerAutoPaste` and auto-insert
    // are on and the text is not empty) or leaves it on the clipboard, plays "Pop", shows the
    // completed overlay and, when its conditions hold, runs the contextual pass. `done` runs
    // on the main thread once the pass (if any) has ended; never if the controller is
    // destroyed first.
    void completeTranscription(TranscriptionResult result, std::string sourceName,
                               std::optional<ActiveApplicationSnapshot> target,
                               std::optional<FocusedTextContext> focusedContext, bool triggerAutoPaste,
                               std::function<void()> done = {});
    // Tests see what each contextual pass is given, as the completion starts it.
    void setContextualPassObserverForTesting(std::function<void(const ContextualPassRequest&)> observer) {
        contextualPassObserver_ = std::move(observer);
    }
    // Shows an entry's result as the current one (a row of the sidebar's history).
    void selectHistoryEntry(const HistoryEntry& entry);
    // The contextual pass's correction of an entry: same id, same place. An entry no longer
    // in the list (trimmed meanwhile) is left alone; false then.
    bool replaceHistoryEntry(const std::string& id, std::chrono::system_clock::time_point createdAt,
                             const std::string& sourceName, const std::optional<ActiveApplicationSnapshot>& target,
                             TranscriptionResult corrected);

    // ---- Reinsertion ----
    // The text a reinsertion would use: the last text, else the current result's, else the
    // newest history entry's; none when all are empty.
    std::optional<std::string> availableReinsertText() const;
    // The label of the last application other than this one, else of the captured target.
    std::string lastTargetAppName() const;
    const std::string& lastInjectedText() const { return lastTranscribedText_; }
    void setLastInjectedText(std::string value);
    using ReinsertDone = std::function<void(std::optional<TextInjectionOutcome>)>;
    // Inserts `availableReinsertText()` into the field with the focus; with nothing to insert,
    // "Basso" and the error banner. `done` (main thread) receives the outcome, none when there
    // was nothing; it is not called once the controller is gone.
    void performReinsertLastTranscription(bool fromMainWindowButton, ReinsertDone done = {});
    // Inserts `text` as it is (duplicates allowed), then reports the outcome with a sound, the
    // pill and `lastInjectionOutcome`; a skipped insertion changes nothing else.
    void performReinsertSpecificText(std::string text, bool fromMainWindowButton, ReinsertDone done = {});
    // The same from the main window and the menus: started from the main loop, returning at once.
    void reinsertLastTranscription(bool fromMainWindowButton);
    void reinsertSpecificText(std::string text, bool fromMainWindowButton);
    static constexpr std::string_view nothingToReinsertText = "再挿入できる文字起こし履歴がまだありません";

    // ---- Audio and video files, the built-in benchmark ----
    // Asks for a file (a modal dialog) and transcribes it; nothing while a recording or a
    // transcription runs or waits.
    void openFilePicker();
    // Decodes and transcribes a local file on a worker and completes it without inserting
    // it anywhere. A path that is not a readable regular file (a folder, a FIFO, a device)
    // is refused at once with the decoder's error. Ignored while busy, as above.
    void transcribeAudioFile(const std::filesystem::path& path);
    // Speaks a fixed sample sentence (Japanese, else English) with espeak-ng into a private
    // WAV file, transcribes it in the sample's own mode and completes it, inserting it into
    // the focused field only when asked. Ignored while busy, as above.
    void runBuiltInSampleBenchmark(bool japanese, bool injectIntoFocusedFieldAfter);
    struct BenchmarkSample {
        std::string_view sourceLabel;
        std::string_view voice;  // espeak-ng's voice
        std::string_view text;
        EngineMode engineMode;
        std::string_view fileName;
    };
    static const BenchmarkSample& benchmarkSample(bool japanese);
    static constexpr std::string_view fileTranscriptionErrorPrefix = "ファイル文字起こしエラー: ";
    static constexpr std::string_view benchmarkErrorPrefix = "ベンチマーク実行エラー: ";

    // The current session; replaced whenever a dictation starts or stops.
    const std::string& activeTranscriptionSessionID() const { return activeTranscriptionSessionID_; }
    // A recording start waiting for the microphone permission, if any.
    const std::optional<std::string>& pendingRecordingRequestID() const { return pendingRecordingRequestID_; }

    static constexpr double sampleRate = 16000.0;
    static constexpr double shortestRecordingSeconds = 0.18;
    static constexpr float silenceThreshold = 0.0001f;
    static constexpr std::chrono::milliseconds durationTimerPeriod{50};
    static constexpr float recordingStartLevel = 0.12f;
    static constexpr std::string_view manualSourceLabel = "手動音声入力";
    static constexpr std::string_view silenceNotice =
        "マイクから音声信号が検出されませんでした（無音）。マイクのミュート設定または入力デバイスをご確認ください。";
    static constexpr std::string_view microphoneStartFailurePrefix = "マイクの開始に失敗しました: ";
    static constexpr std::chrono::milliseconds permissionMonitorPeriod{1200};
    static constexpr std::string_view initialEngineStatus = "起動準備中...";
    static constexpr std::string_view bootStartedStatus = "音声認識エンジンを準備中...";
    static constexpr std::string_view readyStatus = "準備完了";
    static constexpr std::string_view japaneseOnlyReadyStatus = "準備完了 (日本語モード)";
    static constexpr std::size_t historyLimit = 40;
    static constexpr std::string_view recognitionErrorPrefix = "音声認識エラー: ";
    static constexpr std::string_view copiedToClipboardSummary = "📋 クリップボードにコピー完了";
    static constexpr std::string_view transcriptionCompletedSummary = "✓ 文字起こし完了";
    static constexpr std::string_view permissionRefusedText =
        "マイク音声を取得できません。サウンドサーバーと入力デバイスを確認するか、「マイク権限をリセットして再許可」を押してください。";

private:
    struct Setup {
        AppViewModelCollaborators collaborators;
        std::unique_ptr<AppViewModelCollaboratorOwner> owner;
    };
    explicit AppViewModel(Setup setup);
    static Setup desktopSetup();

    // A permission wait in flight; a stop or a newer start marks it cancelled.
    struct PermissionWait {
        bool cancelled = false;
    };
    using Liveness = std::weak_ptr<AppViewModel*>;
    // What a boot's worker hands back to the main thread.
    struct BootOutcome {
        std::shared_ptr<const PeloraHybridTranscriber> transcriber;  // none when building failed
        std::optional<std::string> failure;  // why Japanese recognition is not ready
        std::optional<std::string> speechModelMissing;  // the asset error, when a model file would mend it
    };

    template <class T>
    void assign(T& field, T value, AppViewModelProperty property);
    void notify(AppViewModelProperty property);

    void pushToTalkStartHandler(bool handsFree);
    void pushToTalkStopHandler();
    void levelHandler(float level);
    void beginRecording(const std::string& sourceLabel);
    void finishRecordingStart(const std::shared_ptr<PermissionWait>& wait, const std::string& requestID,
                              const std::string& sourceLabel, std::exception_ptr failure);
    void invalidateTranscriptionSession();
    void setStatusNotice(std::string_view text);
    // Clears an error about the microphone; any other error stays.
    void clearMicrophoneError();
    void runPermissionWait(const std::shared_ptr<PermissionWait>& wait, const std::string& requestID,
                           MicrophoneAuthorizationStatus status, const std::string& label);
    void finishPermissionWait(const std::shared_ptr<PermissionWait>& wait, const std::string& requestID,
                              const std::string& label, bool granted);
    bool permissionWaitStillWanted(const std::shared_ptr<PermissionWait>& wait, const std::string& requestID) const;
    void playCue(std::string_view name);
    void showBootProgress(std::uint64_t boot, std::string line);
    void finishBoot(std::uint64_t boot, BootOutcome outcome);
    void finishReinsert(const std::string& text, const TextInjectionOutcome& outcome);
    bool isBusyTranscribingOrRecording() const;
    // The end of a file transcription or benchmark that failed: the banner, nothing else.
    void failLongOperation(std::string_view prefix, const std::string& description);
    // A file's transcription on a worker: `source` (run there) gives the file to decode.
    struct SampleJob {
        std::function<std::filesystem::path()> source;
        EngineMode engineMode = EngineMode::hybridJaEn;
        JapaneseInputOptions inputOptions;
        bool enableHomophoneReranking = true;
        std::vector<CustomVocabularyEntry> customVocabulary;
        bool reportsProgress = false;  // publishes fileTranscriptionProgress while it runs
    };
    // Builds the transcriber first when there is none (and says whether its acoustic model
    // loaded), runs the job, then `complete` on the main thread or the failure with `errorPrefix`.
    void runSampleJob(SampleJob job, std::string_view errorPrefix,
                      std::function<void(AppViewModel&, TranscriptionResult)> complete);
    // The progress of the file job `job` (the current one, or a late report that changes nothing).
    void startFileProgress();
    void reportFileProgress(std::uint64_t job, FileTranscriptionProgress value);
    void applyFileProgress(std::uint64_t job, FileTranscriptionProgressThrottle::Step step);
    void endFileProgress();
    // The pass's main-thread half, once the auto-replacer has answered.
    void continueMirkAutoReplacePass(const ContextualPassRequest& request,
                                     MirkContextualAutoReplacer::Replacement replacement,
                                     std::function<bool()> isCancelled, std::function<void()> done);
    static constexpr std::string_view mirkCorrectedSummary = "⚡ MIRK高確度自動補正完了";

    // The transcription of a stopped recording: the transcriber (built first when neither the
    // boot nor an earlier dictation has made one), recognition on a worker, then the completion.
    void runTranscription(DictationJob job);
    void transcribeWith(std::shared_ptr<const PeloraHybridTranscriber> transcriber, DictationJob job);
    void transcriptionFailed(const std::string& description);
    // What the completion does once the insertion (if any) is over.
    struct Delivery {
        TranscriptionResult result;
        std::string sourceName;
        std::optional<ActiveApplicationSnapshot> target;
        std::optional<FocusedTextContext> focusedContext;
        bool triggerAutoPaste = false;
        std::string sessionID;
        std::string historyEntryID;
        std::chrono::system_clock::time_point historyCreatedAt;
        std::optional<TextInjectionOutcome> outcome;  // none when nothing was inserted
    };
    void finishDelivery(Delivery delivery, std::function<void()> done);
    HistoryEntry addHistoryEntry(const TranscriptionResult& result, const std::string& sourceName,
                                 const std::optional<ActiveApplicationSnapshot>& target);

    // The contextual correction pass, the completion's last step. Returns the handle that
    // cancels it (kept as the active pass); `done` runs on the main thread when it has
    // ended, cancelled or not.
    MainThreadScheduler::Task runMirkAutoReplacePass(ContextualPassRequest request, std::function<void()> done);

    // Construction steps and handlers whose work belongs to later flows (settings,
    // playground, earlier editions, reinsertion); each is called in its place.
    void loadSettings();
    void checkConflictingLegacyApps();
    void startPermissionMonitor();
    void applyShortcutSettings();
    void reinsertShortcutTriggered();
    std::string pushToTalkLabel() const;
    std::string handsFreeLabel() const;
    std::optional<std::string> targetLabel() const;
    Liveness liveness() const { return alive_; }

    // First, so that what the collaborators are made of goes last.
    std::unique_ptr<AppViewModelCollaboratorOwner> owner_;
    AppViewModelCollaborators c_;
    std::vector<AppViewModelListener*> listeners_;

    SidebarSection selectedSection_ = SidebarSection::studio;
    OutputTab selectedOutputTab_ = OutputTab::formatted;
    bool isEngineLoaded_ = false;
    bool isLoadingEngine_ = false;
    std::string engineStatusText_{initialEngineStatus};
    bool isTranscribing_ = false;
    bool isRecording_ = false;
    bool isHandsFreeLocked_ = false;
    float audioLevel_ = 0;
    double recordingDuration_ = 0;
    std::optional<std::string> errorMessage_;
    PermissionHealthStatus permissionHealth_;
    bool isPermissionSheetPresented_ = false;
    std::vector<LegacyPeloraAppInfo> conflictingLegacyApps_;
    std::optional<std::string> statusNoticeMessage_;
    std::optional<ActiveApplicationSnapshot> lastExternalApp_;
    std::optional<ActiveApplicationSnapshot> capturedTargetApp_;
    std::optional<FocusedTextContext> capturedFocusedContext_;
    std::optional<TextInjectionOutcome> lastInjectionOutcome_;
    std::string lastTranscribedText_;
    std::optional<std::string> lastMirkAutoReplaceSummary_;
    EngineMode engineMode_ = EngineMode::hybridJaEn;
    bool pushToTalkEnabled_ = true;
    PTTShortcutKey pushToTalkKey_ = PTTShortcutKey::rightOption;
    bool doubleTapToggleEnabled_ = true;
    bool reinsertShortcutEnabled_ = true;
    ReinsertShortcutPreset reinsertShortcutPreset_ = ReinsertShortcutPreset::optionShiftV;
    bool autoPasteEnabled_ = true;
    bool copyToClipboardOnComplete_ = true;
    bool soundFeedbackEnabled_ = true;
    bool enableHomophoneReranking_ = true;
    bool enableMirkContextCorrection_ = true;
    bool allowExternalMirkTransmission_ = false;
    bool sendFocusedContextToMirk_ = false;
    bool isMirkAPIKeyConfigured_ = false;
    bool isOnDeviceFoundationModelAvailable_ = false;
    bool isRunningPlaygroundMirk_ = false;
    JapaneseInputOptions inputOptions_;
    std::vector<CustomVocabularyEntry> customVocabulary_;
    std::string playgroundInput_;
    std::string playgroundOutput_;
    std::vector<std::string> playgroundAppliedRules_;
    std::optional<TranscriptionResult> currentResult_;
    std::string currentSourceName_ = "未選択";
    std::vector<HistoryEntry> history_;
    std::optional<std::string> speechModelMissingMessage_;
    std::optional<FileTranscriptionProgress> fileTranscriptionProgress_;
    FileTranscriptionProgressThrottle fileProgressThrottle_;
    MainThreadScheduler::Task fileProgressTimer_;
    std::uint64_t fileProgressJob_ = 0;  // the file job running or last run

    std::shared_ptr<const PeloraHybridTranscriber> transcriber_;
    std::uint64_t bootGeneration_ = 0;  // the boot running or last run
    MainThreadScheduler::Task permissionMonitorTimer_;
    MainThreadScheduler::Task recordingTimer_;
    std::optional<MainThreadScheduler::Duration> recordingStartTime_;
    std::optional<std::string> pendingRecordingRequestID_;
    std::shared_ptr<PermissionWait> pendingPermissionTask_;
    std::string activeTranscriptionSessionID_;
    MainThreadScheduler::Task activeMirkTask_;

    // ---- Settings ----
    JapaneseInputOptions effectiveInputOptions() const;
    void settingsEffect(std::string_view effect);
    PersistedSettings persistedSettings() const;
    AppSettingsDocument settingsDocument_;
    bool loadingSettings_ = false;  // the load writes the document once, at its end
    std::function<void(std::string_view)> settingsEffectObserver_;
    std::function<void(const DictationJob&)> dictationJobObserver_;
    std::function<void(const ContextualPassRequest&)> contextualPassObserver_;
    JapaneseInputProcessor processor_;
    JapaneseEmbeddingReranker reranker_;

    // Held strongly here only; every deferred callback holds it weakly.
    std::shared_ptr<AppViewModel*> alive_;
};

// Stores a new value and tells the listeners; an equal value is no news. (Here, so that
// every file of the controller can use it.)
template <class T>
void AppViewModel::assign(T& field, T value, AppViewModelProperty property) {
    if (field == value) return;
    field = std::move(value);
    notify(property);
}

}  // namespace pelora
