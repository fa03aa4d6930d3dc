#include "PeloraVoiceApp/controller/AppViewModel.h"

#include "PeloraVoiceApp/controller/DesktopDictationCollaborators.h"
#include "PeloraVoiceApp/controller/RandomUUID.h"
#include "engine/japanese/JapaneseEmbeddingReranker.h"

#include <algorithm>
#include <cmath>
#include <exception>

namespace pelora {

namespace {
constexpr std::string_view playgroundSample =
    "えーと、本日のミーティングでは、新しい日本音声入力ツールの設定について説明します。まる。かいぎょう。あのー、"
    "エンベディングジェマとコアエムエルを使って、三百二十ミリ秒の超低遅延を実現しました。てん。よろしくおねがいします。"
    "まる。";
}  // namespace

using P = AppViewModelProperty;

AppViewModel::AppViewModel(AppViewModelCollaborators collaborators)
    : AppViewModel(Setup{std::move(collaborators), nullptr}) {}

AppViewModel::AppViewModel() : AppViewModel(desktopSetup()) {}

AppViewModel::Setup AppViewModel::desktopSetup() {
    auto owner = std::make_unique<DesktopDictationCollaborators>();
    AppViewModelCollaborators collaborators = owner->collaborators();
    return Setup{std::move(collaborators), std::move(owner)};
}

AppViewModel::AppViewModel(Setup setup)
    : owner_(std::move(setup.owner)),
      c_(std::move(setup.collaborators)),
      customVocabulary_(JapaneseEmbeddingReranker::defaultVocabulary()),
      playgroundInput_(playgroundSample),
      activeTranscriptionSessionID_(makeRandomUUID()),
      alive_(std::make_shared<AppViewModel*>(this)) {
    // 1. The values read from the system; the rest are the members' initial values.
    permissionHealth_ = c_.permissions.checkPermissionHealth();
    const auto key = c_.keyStore.loadAPIKey();
    isMirkAPIKeyConfigured_ = key.has_value() && !key->empty();
    isOnDeviceFoundationModelAvailable_ = c_.onDeviceLanguageModelAvailable;
    // 2. The collaborators exist, created but not started.

    // 3.-7.
    loadSettings();
    refreshPlaygroundPreview();
    refreshPermissions();
    checkConflictingLegacyApps();
    startPermissionMonitor();

    const Liveness weak = liveness();
    MainThreadScheduler* scheduler = &c_.scheduler;
    // 8. The tracker's last external application, mirrored.
    c_.lastExternalApp.setLastExternalAppHandler([weak](const std::optional<ActiveApplicationSnapshot>& app) {
        if (auto self = weak.lock()) (*self)->assign((*self)->lastExternalApp_, app, P::lastExternalApp);
    });
    // 9. Activation arrives through applicationDidBecomeActive().
    // 10.-11. The pill's buttons. Copying does not need the controller.
    DictationPaster* paster = &c_.paster;
    c_.overlay.setActionHandlers(
        [weak] {
            if (auto self = weak.lock()) (*self)->performReinsertLastTranscription(false);
        },
        [paster](const std::string& text) {
            if (!text.empty()) paster->copyOnly(text);
        });
    // 12. The recorder calls this on its audio thread: only the hop to the main thread happens there.
    c_.recorder.setLevelHandler([weak, scheduler](float level) {
        scheduler->post([weak, level] {
            if (auto self = weak.lock()) (*self)->levelHandler(level);
        });
    });
    // 13.
    c_.pushToTalk.setHandlers(
        [weak](bool handsFree) {
            if (auto self = weak.lock()) (*self)->pushToTalkStartHandler(handsFree);
        },
        [weak] {
            if (auto self = weak.lock()) (*self)->pushToTalkStopHandler();
        });
    // 14.
    c_.reinsertShortcut.setTriggerHandler([weak] {
        if (auto self = weak.lock()) (*self)->reinsertShortcutTriggered();
    });
    // 15.
    applyShortcutSettings();
    // 16. Only an undecided microphone is asked about at start; a decided one is left alone.
    if (c_.recorder.authorizationStatus() == MicrophoneAuthorizationStatus::notDetermined) {
        scheduler->post([weak] {
            auto self = weak.lock();
            if (!self) return;
            (*self)->c_.recorder.requestPermission([weak](bool) {
                if (auto again = weak.lock()) (*again)->refreshPermissions();
            });
        });
    }
}

AppViewModel::~AppViewModel() {
    alive_.reset();
    permissionMonitorTimer_.cancel();
    recordingTimer_.cancel();
    activeMirkTask_.cancel();
    if (pendingPermissionTask_) pendingPermissionTask_->cancelled = true;
    c_.recorder.setLevelHandler(nullptr);
    c_.pushToTalk.setHandlers(nullptr, nullptr);
    c_.reinsertShortcut.setTriggerHandler(nullptr);
    c_.overlay.setActionHandlers(nullptr, nullptr);
    c_.lastExternalApp.setLastExternalAppHandler(nullptr);
}

void AppViewModel::applicationDidBecomeActive() { refreshPermissions(); }

void AppViewModel::addListener(AppViewModelListener* listener) {
    if (listener && std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end())
        listeners_.push_back(listener);
}

void AppViewModel::removeListener(AppViewModelListener* listener) {
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void AppViewModel::notify(AppViewModelProperty property) {
    // A listener may remove itself (or another) while being told.
    const auto listeners = listeners_;
    for (auto* listener : listeners)
        if (std::find(listeners_.begin(), listeners_.end(), listener) != listeners_.end())
            listener->appViewModelDidChange(property);
}

void AppViewModel::setSelectedSection(SidebarSection v) { assign(selectedSection_, v, P::selectedSection); }
void AppViewModel::setSelectedOutputTab(OutputTab v) { assign(selectedOutputTab_, v, P::selectedOutputTab); }
void AppViewModel::setIsPermissionSheetPresented(bool v) {
    assign(isPermissionSheetPresented_, v, P::isPermissionSheetPresented);
}
void AppViewModel::setPlaygroundInput(std::string v) { assign(playgroundInput_, std::move(v), P::playgroundInput); }
std::string AppViewModel::engineBadge() const { return std::string(engine_mode::shortBadge(engineMode_)); }
std::string AppViewModel::reinsertBadge() const {
    return std::string(reinsert_shortcut_preset::badgeLabel(reinsertShortcutPreset_));
}

std::string AppViewModel::pushToTalkLabel() const {
    return "Push-to-Talk (" + std::string(ptt_shortcut_key::shortBadge(pushToTalkKey_)) + ")";
}

std::string AppViewModel::handsFreeLabel() const {
    return "ハンズフリー (" + std::string(ptt_shortcut_key::shortBadge(pushToTalkKey_)) + " ダブルタップ)";
}

std::optional<std::string> AppViewModel::targetLabel() const {
    if (!capturedTargetApp_) return std::nullopt;
    return capturedTargetApp_->displayLabel();
}

void AppViewModel::playCue(std::string_view name) {
    if (soundFeedbackEnabled_) c_.cues.play(name);
}

void AppViewModel::invalidateTranscriptionSession() {
    activeMirkTask_.cancel();
    activeMirkTask_ = MainThreadScheduler::Task();
    activeTranscriptionSessionID_ = makeRandomUUID();
}

void AppViewModel::pushToTalkStartHandler(bool handsFree) {
    assign(isHandsFreeLocked_, handsFree, P::isHandsFreeLocked);
    if (!isRecording_) {
        startRecording(handsFree ? handsFreeLabel() : pushToTalkLabel(), false);
    } else if (handsFree) {
        // A double tap during a held recording locks it without restarting it.
        assign(currentSourceName_, handsFreeLabel(), P::currentSourceName);
        c_.overlay.showRecording(recordingDuration_, audioLevel_, engineBadge(), targetLabel(), true);
    }
}

void AppViewModel::pushToTalkStopHandler() {
    assign(isHandsFreeLocked_, false, P::isHandsFreeLocked);
    stopRecordingAndTranscribe(true);
}

void AppViewModel::toggleManualRecording() {
    if (!isRecording_ && !pendingRecordingRequestID_) {
        startRecording(std::string(manualSourceLabel), true);
        return;
    }
    c_.pushToTalk.resetState();
    assign(isHandsFreeLocked_, false, P::isHandsFreeLocked);
    stopRecordingAndTranscribe(true);
}

void AppViewModel::startRecording(const std::string& sourceLabel, bool preferExternalTarget) {
    if (isRecording_ || isTranscribing_ || pendingRecordingRequestID_) return;
    invalidateTranscriptionSession();
    assign(capturedTargetApp_, c_.targetCapture.captureTargetForRecordingStart(preferExternalTarget),
           P::capturedTargetApp);
    assign(capturedFocusedContext_,
           std::optional<FocusedTextContext>(c_.targetCapture.captureFocusedContext(capturedTargetApp_)),
           P::capturedFocusedContext);

    const auto status = c_.recorder.authorizationStatus();
    if (status == MicrophoneAuthorizationStatus::authorized) {
        beginRecording(sourceLabel);
        return;
    }
    const std::string requestID = makeRandomUUID();
    pendingRecordingRequestID_ = requestID;
    if (pendingPermissionTask_) pendingPermissionTask_->cancelled = true;
    auto wait = std::make_shared<PermissionWait>();
    pendingPermissionTask_ = wait;
    const Liveness weak = liveness();
    c_.scheduler.post([weak, wait, requestID, status, sourceLabel] {
        if (auto self = weak.lock()) (*self)->runPermissionWait(wait, requestID, status, sourceLabel);
    });
}

bool AppViewModel::permissionWaitStillWanted(const std::shared_ptr<PermissionWait>& wait,
                                             const std::string& requestID) const {
    return pendingRecordingRequestID_ == requestID && !wait->cancelled && !isRecording_ && !isTranscribing_;
}

void AppViewModel::runPermissionWait(const std::shared_ptr<PermissionWait>& wait, const std::string& requestID,
                                     MicrophoneAuthorizationStatus status, const std::string& label) {
    if (!permissionWaitStillWanted(wait, requestID)) return;
    const Liveness weak = liveness();
    auto answer = [weak, wait, requestID, label](bool granted) {
        if (auto self = weak.lock()) (*self)->finishPermissionWait(wait, requestID, label, granted);
    };
    if (status == MicrophoneAuthorizationStatus::notDetermined)
        c_.recorder.requestPermission(std::move(answer));
    else
        c_.permissions.resetMicrophonePermissionAndPrompt(std::move(answer));
}

void AppViewModel::finishPermissionWait(const std::shared_ptr<PermissionWait>& wait, const std::string& requestID,
                                        const std::string& label, bool granted) {
    refreshPermissions();
    // The request may have been withdrawn while the desktop asked.
    if (!permissionWaitStillWanted(wait, requestID)) return;
    pendingRecordingRequestID_.reset();
    pendingPermissionTask_.reset();

    const bool stillWanted = label == manualSourceLabel || c_.pushToTalk.isPressed() || isHandsFreeLocked_;
    if (granted && stillWanted) {
        assign(errorMessage_, std::optional<std::string>(), P::errorMessage);
        beginRecording(label);
        return;
    }
    assign(isHandsFreeLocked_, false, P::isHandsFreeLocked);
    c_.pushToTalk.resetState();
    if (!granted) {
        playCue("Basso");
        assign(errorMessage_, std::optional<std::string>(std::string(permissionRefusedText)), P::errorMessage);
    }
}

void AppViewModel::beginRecording(const std::string& sourceLabel) {
    // The microphone may take its time (a sound server that does not answer): the main
    // thread goes on meanwhile, and a release or stop before it answers withdraws the start.
    const std::string requestID = makeRandomUUID();
    pendingRecordingRequestID_ = requestID;
    if (pendingPermissionTask_) pendingPermissionTask_->cancelled = true;
    auto wait = std::make_shared<PermissionWait>();
    pendingPermissionTask_ = wait;
    const Liveness weak = liveness();
    c_.recorder.start([weak, wait, requestID, sourceLabel](std::exception_ptr failure) {
        if (auto self = weak.lock()) (*self)->finishRecordingStart(wait, requestID, sourceLabel, failure);
    });
}

void AppViewModel::finishRecordingStart(const std::shared_ptr<PermissionWait>& wait, const std::string& requestID,
                                        const std::string& sourceLabel, std::exception_ptr failure) {
    if (!permissionWaitStillWanted(wait, requestID)) {
        if (!failure) c_.recorder.stop();  // withdrawn meanwhile: nothing is kept
        return;
    }
    pendingRecordingRequestID_.reset();
    pendingPermissionTask_.reset();
    try {
        if (failure) std::rethrow_exception(failure);
    } catch (const std::exception& error) {
        assign(isRecording_, false, P::isRecording);
        assign(isHandsFreeLocked_, false, P::isHandsFreeLocked);
        c_.pushToTalk.resetState();
        c_.overlay.hideHUD();
        playCue("Basso");
        assign(errorMessage_, std::optional<std::string>(std::string(microphoneStartFailurePrefix) + error.what()),
               P::errorMessage);
        return;
    }
    assign(isRecording_, true, P::isRecording);
    assign(currentSourceName_, sourceLabel, P::currentSourceName);
    recordingStartTime_ = c_.scheduler.now();
    assign(recordingDuration_, 0.0, P::recordingDuration);
    playCue("Tink");
    c_.overlay.showRecording(0, recordingStartLevel, engineBadge(), targetLabel(), isHandsFreeLocked_);

    const Liveness weak = liveness();
    recordingTimer_ = c_.scheduler.repeatEvery(durationTimerPeriod, [weak] {
        auto self = weak.lock();
        if (!self) return;
        AppViewModel& model = **self;
        if (!model.recordingStartTime_) return;
        const auto elapsed = model.c_.scheduler.now() - *model.recordingStartTime_;
        model.assign(model.recordingDuration_, std::chrono::duration<double>(elapsed).count(), P::recordingDuration);
    });
}

void AppViewModel::levelHandler(float level) {
    assign(audioLevel_, level, P::audioLevel);
    if (isRecording_)
        c_.overlay.showRecording(recordingDuration_, level, engineBadge(), targetLabel(), isHandsFreeLocked_);
}

void AppViewModel::stopRecordingAndTranscribe(bool triggerAutoPaste) {
    if (pendingPermissionTask_ || pendingRecordingRequestID_) {
        if (pendingPermissionTask_) pendingPermissionTask_->cancelled = true;
        pendingPermissionTask_.reset();
        pendingRecordingRequestID_.reset();
        assign(isHandsFreeLocked_, false, P::isHandsFreeLocked);
        c_.pushToTalk.resetState();
    }
    if (!isRecording_) return;
    invalidateTranscriptionSession();
    recordingTimer_.cancel();
    recordingTimer_ = MainThreadScheduler::Task();
    assign(isRecording_, false, P::isRecording);
    assign(isHandsFreeLocked_, false, P::isHandsFreeLocked);
    assign(audioLevel_, 0.0f, P::audioLevel);

    auto samples = std::make_shared<const std::vector<float>>(c_.recorder.stop());
    if (static_cast<double>(samples->size()) / sampleRate < shortestRecordingSeconds) {
        c_.overlay.hideHUD();
        return;
    }
    float peak = 0;
    for (float sample : *samples) peak = std::max(peak, std::fabs(sample));
    if (peak < silenceThreshold) {
        c_.overlay.hideHUD();
        playCue("Basso");
        assign(statusNoticeMessage_, std::optional<std::string>(std::string(silenceNotice)), P::statusNoticeMessage);
        return;
    }
    assign(isTranscribing_, true, P::isTranscribing);
    c_.overlay.showTranscribing(engineBadge(), targetLabel());

    DictationJob job;
    job.samples = std::move(samples);
    job.engineMode = engineMode_;
    job.inputOptions = inputOptions_;
    job.inputOptions.enableHomophoneReranking = enableHomophoneReranking_;
    job.enableHomophoneReranking = enableHomophoneReranking_;
    job.customVocabulary = customVocabulary_;
    job.sourceName = currentSourceName_;
    job.targetApp = capturedTargetApp_;
    job.focusedContext = capturedFocusedContext_;
    job.triggerAutoPaste = triggerAutoPaste;
    runTranscription(std::move(job));
}

void AppViewModel::dismissErrorMessage() { assign(errorMessage_, std::optional<std::string>{}, P::errorMessage); }

void AppViewModel::dismissStatusNotice() {
    assign(statusNoticeMessage_, std::optional<std::string>{}, P::statusNoticeMessage);
}

}  // namespace pelora
