#include "PeloraVoiceApp/controller/DesktopDictationCollaborators.h"

#include "PeloraVoiceApp/QtMainThreadScheduler.h"
#include "PeloraVoiceApp/controller/DesktopPermissionAccess.h"
#include "PeloraVoiceApp/controller/MirkAPIKeyStore.h"
#include "PeloraVoiceApp/controller/QtAudioFilePicker.h"
#include "PeloraVoiceApp/controller/PeloraDictationEngine.h"
#include "PeloraVoiceApp/controller/SystemWallClock.h"
#include "PeloraVoiceApp/hud/HUDPanel.h"
#include "PeloraVoiceApp/system/ActiveApplicationTracker.h"
#include "PeloraVoiceApp/system/MicRecorder.h"
#include "PeloraVoiceApp/system/Paster.h"
#include "PeloraVoiceApp/system/PasterPermissions.h"
#include "PeloraVoiceApp/system/PushToTalkKey.h"
#include "PeloraVoiceApp/system/ReinsertShortcutMonitor.h"
#include "PeloraVoiceApp/system/SessionPermissionSources.h"
#include "PeloraVoiceApp/system/SoundFeedback.h"
#include "engine/injection/FocusedTextContextReader.h"
#include "engine/japanese/OnDeviceLanguageModel.h"
#include "platform/audio/PulseAudioService.h"
#include "platform/keymonitor/X11KeyMonitor.h"

#include <QObject>
#include <QTimer>

namespace pelora {

namespace {

class RecorderAdapter final : public DictationRecorder {
public:
    explicit RecorderAdapter(MicRecorder& mic) : mic_(mic) {}
    // The sound server knows no per-application grant: a usable microphone is authorised,
    // anything else refused.
    MicrophoneAuthorizationStatus authorizationStatus() const override {
        return mic_.requestPermission() ? MicrophoneAuthorizationStatus::authorized
                                        : MicrophoneAuthorizationStatus::denied;
    }
    void requestPermission(std::function<void(bool)> answer) override { answer(mic_.requestPermission()); }
    void start() override { mic_.start(); }
    void start(std::function<void(std::exception_ptr)> started) override { mic_.start(std::move(started)); }
    std::vector<float> stop() override { return mic_.stop(); }
    void setLevelHandler(std::function<void(float)> handler) override { mic_.onLevel = std::move(handler); }

private:
    MicRecorder& mic_;
};

class PushToTalkAdapter final : public PushToTalkWatcher {
public:
    explicit PushToTalkAdapter(PushToTalkKey& key) : key_(key) {}
    void setHandlers(std::function<void(bool)> onStart, std::function<void()> onStop) override {
        key_.onStartRecording = std::move(onStart);
        key_.onStopRecording = std::move(onStop);
    }
    void resetState() override { key_.resetState(); }
    bool isPressed() const override { return key_.isPressed(); }
    bool updateConfiguration(PTTShortcutKey shortcut, bool doubleTapToggleEnabled, bool enabled) override {
        return key_.updateConfiguration(shortcut, doubleTapToggleEnabled, enabled);
    }

private:
    PushToTalkKey& key_;
};

class ReinsertAdapter final : public ReinsertShortcutWatcher {
public:
    explicit ReinsertAdapter(ReinsertShortcutMonitor& monitor) : monitor_(monitor) {}
    void setTriggerHandler(std::function<void()> onTrigger) override { monitor_.onTrigger = std::move(onTrigger); }
    void setPreset(ReinsertShortcutPreset preset) override { monitor_.setPreset(preset); }
    void start() override { monitor_.start(); }
    void stop() override { monitor_.stop(); }

private:
    ReinsertShortcutMonitor& monitor_;
};

class OverlayAdapter final : public DictationOverlay {
public:
    explicit OverlayAdapter(HUDPanel& panel) : panel_(panel) {}
    void showRecording(double seconds, float level, std::string engineBadge, std::optional<std::string> targetAppName,
                       bool isHandsFreeLocked) override {
        panel_.showRecording(seconds, level, std::move(engineBadge), std::move(targetAppName), isHandsFreeLocked);
    }
    void showTranscribing(std::string engineBadge, std::optional<std::string> targetAppName) override {
        panel_.showTranscribing(std::move(engineBadge), std::move(targetAppName));
    }
    void showCompleted(std::string text, double latencyMs, double rtfx, std::string outcomeSummary,
                       bool isDirectInsert, std::string reinsertBadge) override {
        panel_.showCompleted(std::move(text), latencyMs, rtfx, std::move(outcomeSummary), isDirectInsert,
                             std::move(reinsertBadge));
    }
    void hideHUD() override { panel_.hideHUD(); }
    void setActionHandlers(std::function<void()> onReinsertRequested,
                           std::function<void(const std::string&)> onCopyRequested) override {
        panel_.stateModel().onReinsertRequested = std::move(onReinsertRequested);
        panel_.stateModel().onCopyRequested = std::move(onCopyRequested);
    }

private:
    HUDPanel& panel_;
};

class TargetCaptureAdapter final : public DictationTargetCapture {
public:
    std::optional<ActiveApplicationSnapshot> captureTargetForRecordingStart(bool preferExternal) override {
        return ActiveApplicationTracker::shared().captureTargetForRecordingStart(preferExternal);
    }
    std::optional<ActiveApplicationSnapshot> resolveTargetForReinsert(bool fromMainWindowButton) override {
        return ActiveApplicationTracker::shared().resolveTargetForReinsert(fromMainWindowButton);
    }
    FocusedTextContext captureFocusedContext(const std::optional<ActiveApplicationSnapshot>& target) override {
        return FocusedTextContextReader::capture(target);
    }
};

class LastExternalAppAdapter final : public LastExternalAppSource {
public:
    ~LastExternalAppAdapter() override { QObject::disconnect(connection_); }
    void setLastExternalAppHandler(Handler handler) override {
        QObject::disconnect(connection_);
        if (!handler) return;
        ActiveApplicationTracker& tracker = ActiveApplicationTracker::shared();
        handler(tracker.lastExternalApp());
        connection_ = QObject::connect(&tracker, &ActiveApplicationTracker::lastExternalAppChanged, &tracker,
                                       [&tracker, handler] { handler(tracker.lastExternalApp()); });
    }

private:
    QMetaObject::Connection connection_;
};

class CueAdapter final : public CuePlayer {
public:
    explicit CueAdapter(SoundFeedback& sounds) : sounds_(sounds) {}
    // The controller decides whether sounds are on; here every cue asked for plays.
    void play(std::string_view name) override {
        if (name == "Tink")
            sounds_.playRecordingStart(true);
        else if (name == "Pop")
            sounds_.playCompleted(true);
        else if (name == "Basso")
            sounds_.playError(true);
    }

private:
    SoundFeedback& sounds_;
};

class PasterAdapter final : public DictationPaster {
public:
    void copyOnly(const std::string& text) override { Paster::shared().copyOnly(text); }
    void injectIntoFocusedField(std::string text, std::optional<ActiveApplicationSnapshot> targetApp,
                                bool restoreClipboard, bool allowDuplicates,
                                std::function<void(TextInjectionOutcome)> done) override {
        Paster::shared().injectIntoFocusedField(std::move(text), std::move(targetApp), restoreClipboard,
                                                allowDuplicates, std::move(done));
    }
    void applyInPlaceCorrection(InsertedTextCorrection correction, std::string originalInsertedText,
                                std::string correctedFullText, std::optional<ActiveApplicationSnapshot> targetApp,
                                bool restoreClipboard, std::function<void(bool)> done) override {
        Paster::shared().applyInPlaceCorrection(std::move(correction), std::move(originalInsertedText),
                                                std::move(correctedFullText), std::move(targetApp), restoreClipboard,
                                                std::move(done));
    }
};

}  // namespace

namespace {

constexpr int startupPreparationDelay = 300;  // ms

}  // namespace

struct DesktopDictationCollaborators::Parts {
    MainThreadScheduler& scheduler = QtMainThreadScheduler::shared();
    audio::PulseAudioService audio;
    keymonitor::X11KeyMonitor keys;
    MicRecorder mic{audio, scheduler};
    PushToTalkKey pushToTalkKey{PTTShortcutKey::rightOption, keys, scheduler};
    ReinsertShortcutMonitor reinsertMonitor{ReinsertShortcutPreset::optionShiftV, keys, scheduler};
    HUDPanel panel{scheduler};
    SoundFeedback sounds{audio};
    PasterPermissions permissions{sessionPermissionSources(keys, audio)};

    SystemWallClock wallClock;
    MirkAPIKeyStore keyStore;
    RecorderAdapter recorder{mic};
    PushToTalkAdapter pushToTalk{pushToTalkKey};
    OverlayAdapter overlay{panel};
    TargetCaptureAdapter targetCapture;
    DesktopPermissionAccess permissionAccess{permissions, scheduler};
    CueAdapter cues{sounds};
    PasterAdapter paster;
    ReinsertAdapter reinsertShortcut{reinsertMonitor};
    LastExternalAppAdapter lastExternalApp;
    QtAudioFilePicker filePicker;
    std::shared_ptr<DictationEngine> engine = std::make_shared<PeloraDictationEngine>();
};

DesktopDictationCollaborators::DesktopDictationCollaborators(std::shared_ptr<DictationEngine> engine)
    : parts_(std::make_unique<Parts>()) {
    if (engine) parts_->engine = std::move(engine);
    // The first result would otherwise pay, at the very moment it is delivered, for making
    // the shared paster (its X connections and thread) and for the pill's first fonts and
    // symbols. Both are done once shortly after start-up instead, each on its own turn of
    // the main loop, once the main window has had time to paint.
    HUDPanel* panel = &parts_->panel;
    QTimer::singleShot(startupPreparationDelay, panel, [panel] {
        (void)Paster::shared();
        QTimer::singleShot(0, panel, [panel] { panel->prepareFirstShow(); });
    });
}

DesktopDictationCollaborators::~DesktopDictationCollaborators() = default;

AppViewModelCollaborators DesktopDictationCollaborators::collaborators() {
    Parts& p = *parts_;
    return AppViewModelCollaborators{
        .scheduler = p.scheduler,
        .wallClock = p.wallClock,
        .keyStore = p.keyStore,
        .recorder = p.recorder,
        .pushToTalk = p.pushToTalk,
        .overlay = p.overlay,
        .targetCapture = p.targetCapture,
        .permissions = p.permissionAccess,
        .cues = p.cues,
        .paster = p.paster,
        .reinsertShortcut = p.reinsertShortcut,
        .lastExternalApp = p.lastExternalApp,
        .engine = p.engine,
        .filePicker = &p.filePicker,
        .onDeviceLanguageModelAvailable =
            OnDeviceLanguageModel::systemDefault()->availability() == OnDeviceLanguageModel::Availability::available,
    };
}

}  // namespace pelora
