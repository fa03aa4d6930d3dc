#pragma once

#include "PeloraVoiceApp/controller/AppViewModel.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace pelora {

// The controller as Qt views bind it: one property with a change signal per published
// value, one slot per operation. Values with raw strings (section, tab, engine mode, keys)
// are those strings; optional texts are a QVariant holding a QString, invalid for none; the
// records are QVariants holding the controller's own types, invalid for none. Writing a
// property runs the controller's setter. The application becoming active is forwarded.
// Main thread only; the controller must outlive the adapter.
class AppViewModelQtAdapter final : public QObject, private AppViewModelListener {
    Q_OBJECT
    Q_PROPERTY(QString selectedSection READ selectedSection WRITE setSelectedSection NOTIFY selectedSectionChanged)
    Q_PROPERTY(QString selectedOutputTab READ selectedOutputTab WRITE setSelectedOutputTab NOTIFY selectedOutputTabChanged)
    Q_PROPERTY(bool isEngineLoaded READ isEngineLoaded NOTIFY isEngineLoadedChanged)
    Q_PROPERTY(bool isLoadingEngine READ isLoadingEngine NOTIFY isLoadingEngineChanged)
    Q_PROPERTY(QString engineStatusText READ engineStatusText NOTIFY engineStatusTextChanged)
    Q_PROPERTY(bool isTranscribing READ isTranscribing NOTIFY isTranscribingChanged)
    Q_PROPERTY(bool isRecording READ isRecording NOTIFY isRecordingChanged)
    Q_PROPERTY(bool isHandsFreeLocked READ isHandsFreeLocked NOTIFY isHandsFreeLockedChanged)
    Q_PROPERTY(float audioLevel READ audioLevel NOTIFY audioLevelChanged)
    Q_PROPERTY(double recordingDuration READ recordingDuration NOTIFY recordingDurationChanged)
    Q_PROPERTY(QVariant errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(QVariant permissionHealth READ permissionHealth NOTIFY permissionHealthChanged)
    Q_PROPERTY(bool isPermissionSheetPresented READ isPermissionSheetPresented WRITE setIsPermissionSheetPresented NOTIFY isPermissionSheetPresentedChanged)
    Q_PROPERTY(QVariant conflictingLegacyApps READ conflictingLegacyApps NOTIFY conflictingLegacyAppsChanged)
    Q_PROPERTY(QVariant statusNoticeMessage READ statusNoticeMessage NOTIFY statusNoticeMessageChanged)
    Q_PROPERTY(QVariant lastExternalApp READ lastExternalApp NOTIFY lastExternalAppChanged)
    Q_PROPERTY(QVariant capturedTargetApp READ capturedTargetApp NOTIFY capturedTargetAppChanged)
    Q_PROPERTY(QVariant capturedFocusedContext READ capturedFocusedContext NOTIFY capturedFocusedContextChanged)
    Q_PROPERTY(QVariant lastInjectionOutcome READ lastInjectionOutcome NOTIFY lastInjectionOutcomeChanged)
    Q_PROPERTY(QString lastTranscribedText READ lastTranscribedText NOTIFY lastTranscribedTextChanged)
    Q_PROPERTY(QVariant lastMirkAutoReplaceSummary READ lastMirkAutoReplaceSummary NOTIFY lastMirkAutoReplaceSummaryChanged)
    Q_PROPERTY(QString engineMode READ engineMode WRITE setEngineMode NOTIFY engineModeChanged)
    Q_PROPERTY(bool pushToTalkEnabled READ pushToTalkEnabled WRITE setPushToTalkEnabled NOTIFY pushToTalkEnabledChanged)
    Q_PROPERTY(QString pushToTalkKey READ pushToTalkKey WRITE setPushToTalkKey NOTIFY pushToTalkKeyChanged)
    Q_PROPERTY(bool doubleTapToggleEnabled READ doubleTapToggleEnabled WRITE setDoubleTapToggleEnabled NOTIFY doubleTapToggleEnabledChanged)
    Q_PROPERTY(bool reinsertShortcutEnabled READ reinsertShortcutEnabled WRITE setReinsertShortcutEnabled NOTIFY reinsertShortcutEnabledChanged)
    Q_PROPERTY(QString reinsertShortcutPreset READ reinsertShortcutPreset WRITE setReinsertShortcutPreset NOTIFY reinsertShortcutPresetChanged)
    Q_PROPERTY(bool autoPasteEnabled READ autoPasteEnabled WRITE setAutoPasteEnabled NOTIFY autoPasteEnabledChanged)
    Q_PROPERTY(bool copyToClipboardOnComplete READ copyToClipboardOnComplete WRITE setCopyToClipboardOnComplete NOTIFY copyToClipboardOnCompleteChanged)
    Q_PROPERTY(bool soundFeedbackEnabled READ soundFeedbackEnabled WRITE setSoundFeedbackEnabled NOTIFY soundFeedbackEnabledChanged)
    Q_PROPERTY(bool enableHomophoneReranking READ enableHomophoneReranking WRITE setEnableHomophoneReranking NOTIFY enableHomophoneRerankingChanged)
    Q_PROPERTY(bool enableMirkContextCorrection READ enableMirkContextCorrection WRITE setEnableMirkContextCorrection NOTIFY enableMirkContextCorrectionChanged)
    Q_PROPERTY(bool allowExternalMirkTransmission READ allowExternalMirkTransmission WRITE setAllowExternalMirkTransmission NOTIFY allowExternalMirkTransmissionChanged)
    Q_PROPERTY(bool sendFocusedContextToMirk READ sendFocusedContextToMirk WRITE setSendFocusedContextToMirk NOTIFY sendFocusedContextToMirkChanged)
    Q_PROPERTY(bool isMirkAPIKeyConfigured READ isMirkAPIKeyConfigured NOTIFY isMirkAPIKeyConfiguredChanged)
    Q_PROPERTY(bool isOnDeviceFoundationModelAvailable READ isOnDeviceFoundationModelAvailable NOTIFY isOnDeviceFoundationModelAvailableChanged)
    Q_PROPERTY(bool isRunningPlaygroundMirk READ isRunningPlaygroundMirk NOTIFY isRunningPlaygroundMirkChanged)
    Q_PROPERTY(QVariant inputOptions READ inputOptions WRITE setInputOptions NOTIFY inputOptionsChanged)
    Q_PROPERTY(QVariant customVocabulary READ customVocabulary WRITE setCustomVocabulary NOTIFY customVocabularyChanged)
    Q_PROPERTY(QString playgroundInput READ playgroundInput WRITE setPlaygroundInput NOTIFY playgroundInputChanged)
    Q_PROPERTY(QString playgroundOutput READ playgroundOutput NOTIFY playgroundOutputChanged)
    Q_PROPERTY(QStringList playgroundAppliedRules READ playgroundAppliedRules NOTIFY playgroundAppliedRulesChanged)
    Q_PROPERTY(QVariant currentResult READ currentResult NOTIFY currentResultChanged)
    Q_PROPERTY(QString currentSourceName READ currentSourceName NOTIFY currentSourceNameChanged)
    Q_PROPERTY(QVariant history READ history NOTIFY historyChanged)
    Q_PROPERTY(QVariant speechModelMissingMessage READ speechModelMissingMessage NOTIFY speechModelMissingMessageChanged)
    Q_PROPERTY(QVariant fileTranscriptionProgress READ fileTranscriptionProgress NOTIFY fileTranscriptionProgressChanged)
    // Derived values, told when one of their sources changes.
    Q_PROPERTY(QVariant availableReinsertText READ availableReinsertText NOTIFY availableReinsertTextChanged)
    Q_PROPERTY(QString lastTargetAppName READ lastTargetAppName NOTIFY lastTargetAppNameChanged)
    Q_PROPERTY(QString lastInjectedText READ lastInjectedText WRITE setLastInjectedText NOTIFY lastInjectedTextChanged)

public:
    explicit AppViewModelQtAdapter(AppViewModel& model, QObject* parent = nullptr);
    ~AppViewModelQtAdapter() override;

    AppViewModel& model() { return model_; }

    QString selectedSection() const;
    QString selectedOutputTab() const;
    bool isEngineLoaded() const;
    bool isLoadingEngine() const;
    QString engineStatusText() const;
    bool isTranscribing() const;
    bool isRecording() const;
    bool isHandsFreeLocked() const;
    float audioLevel() const;
    double recordingDuration() const;
    QVariant errorMessage() const;
    QVariant permissionHealth() const;
    bool isPermissionSheetPresented() const;
    QVariant conflictingLegacyApps() const;
    QVariant statusNoticeMessage() const;
    QVariant lastExternalApp() const;
    QVariant capturedTargetApp() const;
    QVariant capturedFocusedContext() const;
    QVariant lastInjectionOutcome() const;
    QString lastTranscribedText() const;
    QVariant lastMirkAutoReplaceSummary() const;
    QString engineMode() const;
    bool pushToTalkEnabled() const;
    QString pushToTalkKey() const;
    bool doubleTapToggleEnabled() const;
    bool reinsertShortcutEnabled() const;
    QString reinsertShortcutPreset() const;
    bool autoPasteEnabled() const;
    bool copyToClipboardOnComplete() const;
    bool soundFeedbackEnabled() const;
    bool enableHomophoneReranking() const;
    bool enableMirkContextCorrection() const;
    bool allowExternalMirkTransmission() const;
    bool sendFocusedContextToMirk() const;
    bool isMirkAPIKeyConfigured() const;
    bool isOnDeviceFoundationModelAvailable() const;
    bool isRunningPlaygroundMirk() const;
    QVariant inputOptions() const;
    QVariant customVocabulary() const;
    QString playgroundInput() const;
    QString playgroundOutput() const;
    QStringList playgroundAppliedRules() const;
    QVariant currentResult() const;
    QString currentSourceName() const;
    QVariant history() const;
    QVariant speechModelMissingMessage() const;
    QVariant fileTranscriptionProgress() const;
    QVariant availableReinsertText() const;
    QString lastTargetAppName() const;
    QString lastInjectedText() const;
    void setLastInjectedText(const QString& value);

    void setSelectedSection(const QString& value);
    void setSelectedOutputTab(const QString& value);
    void setIsPermissionSheetPresented(bool value);
    void setEngineMode(const QString& value);
    void setPushToTalkEnabled(bool value);
    void setPushToTalkKey(const QString& value);
    void setDoubleTapToggleEnabled(bool value);
    void setReinsertShortcutEnabled(bool value);
    void setReinsertShortcutPreset(const QString& value);
    void setAutoPasteEnabled(bool value);
    void setCopyToClipboardOnComplete(bool value);
    void setSoundFeedbackEnabled(bool value);
    void setEnableHomophoneReranking(bool value);
    void setEnableMirkContextCorrection(bool value);
    void setAllowExternalMirkTransmission(bool value);
    void setSendFocusedContextToMirk(bool value);
    void setInputOptions(const QVariant& value);
    void setCustomVocabulary(const QVariant& value);
    void setPlaygroundInput(const QString& value);

public slots:
    void bootEngine();
    void toggleManualRecording();
    void startRecording(const QString& sourceLabel, bool preferExternalTarget);
    void stopRecordingAndTranscribe(bool triggerAutoPaste);
    // The history entry with this id (no longer listed: nothing happens).
    void selectHistoryEntry(const QString& id);
    // Permissions and earlier editions.
    void refreshPermissions();
    void requestPermissions();
    void requestAndOpenAccessibility();
    void resetAndRePromptAccessibility();
    void revealAppInFinder();
    void openInputMonitoringSettings();
    void openMicrophoneSettings();
    void resetAndRePromptMicrophone();
    void terminateConflictingLegacyApps();
    void dismissErrorMessage();
    void dismissStatusNotice();
    // Reinsertion from the main window and the menus.
    void reinsertLastTranscription(bool fromMainWindowButton);
    void reinsertSpecificText(const QString& text, bool fromMainWindowButton);
    // Files and the benchmark. A dropped file's URL is made a local path first
    // (QUrl::toLocalFile).
    void openFilePicker();
    void transcribeAudioFile(const QString& localPath);
    void runBuiltInSampleBenchmark(bool japanese, bool injectIntoFocusedFieldAfter);
    // Connected to the application's state: becoming active reads the permissions again.
    void applicationStateChanged(Qt::ApplicationState state);
    // The vocabulary and the decision service's key; saveMirkAPIKey answers whether the key was stored.
    void addVocabularyEntry(const QString& reading, const QString& surface, const QString& contextKeywords);
    void removeVocabularyEntry(const QString& id);
    void resetVocabularyToDefaults();
    bool saveMirkAPIKey(const QString& key);
    void clearMirkAPIKey();
    // The playground.
    void refreshPlaygroundPreview();
    void runPlaygroundMirkAutoReplace();

signals:
    void selectedSectionChanged();
    void selectedOutputTabChanged();
    void isEngineLoadedChanged();
    void isLoadingEngineChanged();
    void engineStatusTextChanged();
    void isTranscribingChanged();
    void isRecordingChanged();
    void isHandsFreeLockedChanged();
    void audioLevelChanged();
    void recordingDurationChanged();
    void errorMessageChanged();
    void permissionHealthChanged();
    void isPermissionSheetPresentedChanged();
    void conflictingLegacyAppsChanged();
    void statusNoticeMessageChanged();
    void lastExternalAppChanged();
    void capturedTargetAppChanged();
    void capturedFocusedContextChanged();
    void lastInjectionOutcomeChanged();
    void lastTranscribedTextChanged();
    void lastMirkAutoReplaceSummaryChanged();
    void engineModeChanged();
    void pushToTalkEnabledChanged();
    void pushToTalkKeyChanged();
    void doubleTapToggleEnabledChanged();
    void reinsertShortcutEnabledChanged();
    void reinsertShortcutPresetChanged();
    void autoPasteEnabledChanged();
    void copyToClipboardOnCompleteChanged();
    void soundFeedbackEnabledChanged();
    void enableHomophoneRerankingChanged();
    void enableMirkContextCorrectionChanged();
    void allowExternalMirkTransmissionChanged();
    void sendFocusedContextToMirkChanged();
    void isMirkAPIKeyConfiguredChanged();
    void isOnDeviceFoundationModelAvailableChanged();
    void isRunningPlaygroundMirkChanged();
    void inputOptionsChanged();
    void customVocabularyChanged();
    void playgroundInputChanged();
    void playgroundOutputChanged();
    void playgroundAppliedRulesChanged();
    void currentResultChanged();
    void currentSourceNameChanged();
    void historyChanged();
    void speechModelMissingMessageChanged();
    void fileTranscriptionProgressChanged();
    void availableReinsertTextChanged();
    void lastTargetAppNameChanged();
    void lastInjectedTextChanged();

private:
    void appViewModelDidChange(AppViewModelProperty property) override;

    AppViewModel& model_;
};

}  // namespace pelora
