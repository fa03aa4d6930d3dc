#include "PeloraVoiceApp/controller/AppViewModelQtAdapter.h"

#include <QGuiApplication>

namespace pelora {

namespace {

QString qt(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
std::string utf8(const QString& text) { return text.toStdString(); }

QVariant optionalText(const std::optional<std::string>& text) {
    return text ? QVariant(qt(*text)) : QVariant();
}

template <class T>
QVariant optionalValue(const std::optional<T>& value) {
    return value ? QVariant::fromValue(*value) : QVariant();
}

QStringList texts(const std::vector<std::string>& list) {
    QStringList result;
    result.reserve(static_cast<qsizetype>(list.size()));
    for (const auto& text : list) result.push_back(qt(text));
    return result;
}

}  // namespace

AppViewModelQtAdapter::AppViewModelQtAdapter(AppViewModel& model, QObject* parent) : QObject(parent), model_(model) {
    model_.addListener(this);
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(app, &QGuiApplication::applicationStateChanged, this, &AppViewModelQtAdapter::applicationStateChanged);
}

AppViewModelQtAdapter::~AppViewModelQtAdapter() { model_.removeListener(this); }

QString AppViewModelQtAdapter::selectedSection() const { return qt(sidebar_section::rawValue(model_.selectedSection())); }
QString AppViewModelQtAdapter::selectedOutputTab() const { return qt(output_tab::rawValue(model_.selectedOutputTab())); }
bool AppViewModelQtAdapter::isEngineLoaded() const { return model_.isEngineLoaded(); }
bool AppViewModelQtAdapter::isLoadingEngine() const { return model_.isLoadingEngine(); }
QString AppViewModelQtAdapter::engineStatusText() const { return qt(model_.engineStatusText()); }
bool AppViewModelQtAdapter::isTranscribing() const { return model_.isTranscribing(); }
bool AppViewModelQtAdapter::isRecording() const { return model_.isRecording(); }
bool AppViewModelQtAdapter::isHandsFreeLocked() const { return model_.isHandsFreeLocked(); }
float AppViewModelQtAdapter::audioLevel() const { return model_.audioLevel(); }
double AppViewModelQtAdapter::recordingDuration() const { return model_.recordingDuration(); }
QVariant AppViewModelQtAdapter::errorMessage() const { return optionalText(model_.errorMessage()); }
QVariant AppViewModelQtAdapter::permissionHealth() const { return QVariant::fromValue(model_.permissionHealth()); }
bool AppViewModelQtAdapter::isPermissionSheetPresented() const { return model_.isPermissionSheetPresented(); }
QVariant AppViewModelQtAdapter::conflictingLegacyApps() const { return QVariant::fromValue(model_.conflictingLegacyApps()); }
QVariant AppViewModelQtAdapter::statusNoticeMessage() const { return optionalText(model_.statusNoticeMessage()); }
QVariant AppViewModelQtAdapter::lastExternalApp() const { return optionalValue(model_.lastExternalApp()); }
QVariant AppViewModelQtAdapter::capturedTargetApp() const { return optionalValue(model_.capturedTargetApp()); }
QVariant AppViewModelQtAdapter::capturedFocusedContext() const { return optionalValue(model_.capturedFocusedContext()); }
QVariant AppViewModelQtAdapter::lastInjectionOutcome() const { return optionalValue(model_.lastInjectionOutcome()); }
QString AppViewModelQtAdapter::lastTranscribedText() const { return qt(model_.lastTranscribedText()); }
QVariant AppViewModelQtAdapter::lastMirkAutoReplaceSummary() const { return optionalText(model_.lastMirkAutoReplaceSummary()); }
QString AppViewModelQtAdapter::engineMode() const { return qt(engine_mode::rawValue(model_.engineMode())); }
bool AppViewModelQtAdapter::pushToTalkEnabled() const { return model_.pushToTalkEnabled(); }
QString AppViewModelQtAdapter::pushToTalkKey() const { return qt(ptt_shortcut_key::rawValue(model_.pushToTalkKey())); }
bool AppViewModelQtAdapter::doubleTapToggleEnabled() const { return model_.doubleTapToggleEnabled(); }
bool AppViewModelQtAdapter::reinsertShortcutEnabled() const { return model_.reinsertShortcutEnabled(); }
QString AppViewModelQtAdapter::reinsertShortcutPreset() const { return qt(reinsert_shortcut_preset::rawValue(model_.reinsertShortcutPreset())); }
bool AppViewModelQtAdapter::autoPasteEnabled() const { return model_.autoPasteEnabled(); }
bool AppViewModelQtAdapter::copyToClipboardOnComplete() const { return model_.copyToClipboardOnComplete(); }
bool AppViewModelQtAdapter::soundFeedbackEnabled() const { return model_.soundFeedbackEnabled(); }
bool AppViewModelQtAdapter::enableHomophoneReranking() const { return model_.enableHomophoneReranking(); }
bool AppViewModelQtAdapter::enableMirkContextCorrection() const { return model_.enableMirkContextCorrection(); }
bool AppViewModelQtAdapter::allowExternalMirkTransmission() const { return model_.allowExternalMirkTransmission(); }
bool AppViewModelQtAdapter::sendFocusedContextToMirk() const { return model_.sendFocusedContextToMirk(); }
bool AppViewModelQtAdapter::isMirkAPIKeyConfigured() const { return model_.isMirkAPIKeyConfigured(); }
bool AppViewModelQtAdapter::isOnDeviceFoundationModelAvailable() const { return model_.isOnDeviceFoundationModelAvailable(); }
bool AppViewModelQtAdapter::isRunningPlaygroundMirk() const { return model_.isRunningPlaygroundMirk(); }
QVariant AppViewModelQtAdapter::inputOptions() const { return QVariant::fromValue(model_.inputOptions()); }
QVariant AppViewModelQtAdapter::customVocabulary() const { return QVariant::fromValue(model_.customVocabulary()); }
QString AppViewModelQtAdapter::playgroundInput() const { return qt(model_.playgroundInput()); }
QString AppViewModelQtAdapter::playgroundOutput() const { return qt(model_.playgroundOutput()); }
QStringList AppViewModelQtAdapter::playgroundAppliedRules() const { return texts(model_.playgroundAppliedRules()); }
QVariant AppViewModelQtAdapter::currentResult() const { return optionalValue(model_.currentResult()); }
QString AppViewModelQtAdapter::currentSourceName() const { return qt(model_.currentSourceName()); }
QVariant AppViewModelQtAdapter::history() const { return QVariant::fromValue(model_.history()); }
QVariant AppViewModelQtAdapter::speechModelMissingMessage() const { return optionalText(model_.speechModelMissingMessage()); }
QVariant AppViewModelQtAdapter::fileTranscriptionProgress() const { return optionalValue(model_.fileTranscriptionProgress()); }

void AppViewModelQtAdapter::setSelectedSection(const QString& value) {
    // A string that names no case changes nothing.
    if (const auto parsed = sidebar_section::fromRawValue(utf8(value))) model_.setSelectedSection(*parsed);
}
void AppViewModelQtAdapter::setSelectedOutputTab(const QString& value) {
    // A string that names no case changes nothing.
    if (const auto parsed = output_tab::fromRawValue(utf8(value))) model_.setSelectedOutputTab(*parsed);
}
void AppViewModelQtAdapter::setIsPermissionSheetPresented(bool value) { model_.setIsPermissionSheetPresented(value); }
void AppViewModelQtAdapter::setEngineMode(const QString& value) {
    // A string that names no case changes nothing.
    if (const auto parsed = engine_mode::fromRawValue(utf8(value))) model_.setEngineMode(*parsed);
}
void AppViewModelQtAdapter::setPushToTalkEnabled(bool value) { model_.setPushToTalkEnabled(value); }
void AppViewModelQtAdapter::setPushToTalkKey(const QString& value) {
    // A string that names no case changes nothing.
    if (const auto parsed = ptt_shortcut_key::fromRawValue(utf8(value))) model_.setPushToTalkKey(*parsed);
}
void AppViewModelQtAdapter::setDoubleTapToggleEnabled(bool value) { model_.setDoubleTapToggleEnabled(value); }
void AppViewModelQtAdapter::setReinsertShortcutEnabled(bool value) { model_.setReinsertShortcutEnabled(value); }
void AppViewModelQtAdapter::setReinsertShortcutPreset(const QString& value) {
    // A string that names no case changes nothing.
    if (const auto parsed = reinsert_shortcut_preset::fromRawValue(utf8(value))) model_.setReinsertShortcutPreset(*parsed);
}
void AppViewModelQtAdapter::setAutoPasteEnabled(bool value) { model_.setAutoPasteEnabled(value); }
void AppViewModelQtAdapter::setCopyToClipboardOnComplete(bool value) { model_.setCopyToClipboardOnComplete(value); }
void AppViewModelQtAdapter::setSoundFeedbackEnabled(bool value) { model_.setSoundFeedbackEnabled(value); }
void AppViewModelQtAdapter::setEnableHomophoneReranking(bool value) { model_.setEnableHomophoneReranking(value); }
void AppViewModelQtAdapter::setEnableMirkContextCorrection(bool value) { model_.setEnableMirkContextCorrection(value); }
void AppViewModelQtAdapter::setAllowExternalMirkTransmission(bool value) { model_.setAllowExternalMirkTransmission(value); }
void AppViewModelQtAdapter::setSendFocusedContextToMirk(bool value) { model_.setSendFocusedContextToMirk(value); }
void AppViewModelQtAdapter::setInputOptions(const QVariant& value) {
    if (value.canConvert<JapaneseInputOptions>()) model_.setInputOptions(value.value<JapaneseInputOptions>());
}
void AppViewModelQtAdapter::setCustomVocabulary(const QVariant& value) {
    if (value.canConvert<std::vector<CustomVocabularyEntry>>()) model_.setCustomVocabulary(value.value<std::vector<CustomVocabularyEntry>>());
}
void AppViewModelQtAdapter::setPlaygroundInput(const QString& value) { model_.setPlaygroundInput(utf8(value)); }

void AppViewModelQtAdapter::bootEngine() { model_.bootEngine(); }
void AppViewModelQtAdapter::toggleManualRecording() { model_.toggleManualRecording(); }
void AppViewModelQtAdapter::startRecording(const QString& sourceLabel, bool preferExternalTarget) {
    model_.startRecording(utf8(sourceLabel), preferExternalTarget);
}
void AppViewModelQtAdapter::stopRecordingAndTranscribe(bool triggerAutoPaste) {
    model_.stopRecordingAndTranscribe(triggerAutoPaste);
}
void AppViewModelQtAdapter::selectHistoryEntry(const QString& id) {
    const std::string wanted = utf8(id);
    for (const HistoryEntry& entry : model_.history()) {
        if (entry.id == wanted) {
            model_.selectHistoryEntry(entry);
            return;
        }
    }
}
void AppViewModelQtAdapter::refreshPermissions() { model_.refreshPermissions(); }
void AppViewModelQtAdapter::requestPermissions() { model_.requestPermissions(); }
void AppViewModelQtAdapter::requestAndOpenAccessibility() { model_.requestAndOpenAccessibility(); }
void AppViewModelQtAdapter::resetAndRePromptAccessibility() { model_.resetAndRePromptAccessibility(); }
void AppViewModelQtAdapter::revealAppInFinder() { model_.revealAppInFinder(); }
void AppViewModelQtAdapter::openInputMonitoringSettings() { model_.openInputMonitoringSettings(); }
void AppViewModelQtAdapter::openMicrophoneSettings() { model_.openMicrophoneSettings(); }
void AppViewModelQtAdapter::resetAndRePromptMicrophone() { model_.resetAndRePromptMicrophone(); }
void AppViewModelQtAdapter::terminateConflictingLegacyApps() { model_.terminateConflictingLegacyApps(); }
void AppViewModelQtAdapter::dismissErrorMessage() { model_.dismissErrorMessage(); }
void AppViewModelQtAdapter::dismissStatusNotice() { model_.dismissStatusNotice(); }
QVariant AppViewModelQtAdapter::availableReinsertText() const { return optionalText(model_.availableReinsertText()); }
QString AppViewModelQtAdapter::lastTargetAppName() const { return qt(model_.lastTargetAppName()); }
QString AppViewModelQtAdapter::lastInjectedText() const { return qt(model_.lastInjectedText()); }
void AppViewModelQtAdapter::setLastInjectedText(const QString& value) { model_.setLastInjectedText(utf8(value)); }
void AppViewModelQtAdapter::reinsertLastTranscription(bool fromMainWindowButton) {
    model_.reinsertLastTranscription(fromMainWindowButton);
}
void AppViewModelQtAdapter::reinsertSpecificText(const QString& text, bool fromMainWindowButton) {
    model_.reinsertSpecificText(utf8(text), fromMainWindowButton);
}
void AppViewModelQtAdapter::openFilePicker() { model_.openFilePicker(); }
void AppViewModelQtAdapter::transcribeAudioFile(const QString& localPath) {
    model_.transcribeAudioFile(std::filesystem::path(utf8(localPath)));
}
void AppViewModelQtAdapter::runBuiltInSampleBenchmark(bool japanese, bool injectIntoFocusedFieldAfter) {
    model_.runBuiltInSampleBenchmark(japanese, injectIntoFocusedFieldAfter);
}
void AppViewModelQtAdapter::applicationStateChanged(Qt::ApplicationState state) {
    if (state == Qt::ApplicationActive) model_.applicationDidBecomeActive();
}
void AppViewModelQtAdapter::addVocabularyEntry(const QString& reading, const QString& surface,
                                               const QString& contextKeywords) {
    model_.addVocabularyEntry(utf8(reading), utf8(surface), utf8(contextKeywords));
}
void AppViewModelQtAdapter::removeVocabularyEntry(const QString& id) { model_.removeVocabularyEntry(utf8(id)); }
void AppViewModelQtAdapter::resetVocabularyToDefaults() { model_.resetVocabularyToDefaults(); }
bool AppViewModelQtAdapter::saveMirkAPIKey(const QString& key) { return model_.saveMirkAPIKey(utf8(key)); }
void AppViewModelQtAdapter::clearMirkAPIKey() { model_.clearMirkAPIKey(); }
void AppViewModelQtAdapter::refreshPlaygroundPreview() { model_.refreshPlaygroundPreview(); }
void AppViewModelQtAdapter::runPlaygroundMirkAutoReplace() { model_.runPlaygroundMirkAutoReplace(); }

void AppViewModelQtAdapter::appViewModelDidChange(AppViewModelProperty property) {
    using P = AppViewModelProperty;
    switch (property) {
        case P::selectedSection: emit selectedSectionChanged(); break;
        case P::selectedOutputTab: emit selectedOutputTabChanged(); break;
        case P::isEngineLoaded: emit isEngineLoadedChanged(); break;
        case P::isLoadingEngine: emit isLoadingEngineChanged(); break;
        case P::engineStatusText: emit engineStatusTextChanged(); break;
        case P::isTranscribing: emit isTranscribingChanged(); break;
        case P::isRecording: emit isRecordingChanged(); break;
        case P::isHandsFreeLocked: emit isHandsFreeLockedChanged(); break;
        case P::audioLevel: emit audioLevelChanged(); break;
        case P::recordingDuration: emit recordingDurationChanged(); break;
        case P::errorMessage: emit errorMessageChanged(); break;
        case P::permissionHealth: emit permissionHealthChanged(); break;
        case P::isPermissionSheetPresented: emit isPermissionSheetPresentedChanged(); break;
        case P::conflictingLegacyApps: emit conflictingLegacyAppsChanged(); break;
        case P::statusNoticeMessage: emit statusNoticeMessageChanged(); break;
        case P::lastExternalApp: emit lastExternalAppChanged(); break;
        case P::capturedTargetApp: emit capturedTargetAppChanged(); break;
        case P::capturedFocusedContext: emit capturedFocusedContextChanged(); break;
        case P::lastInjectionOutcome: emit lastInjectionOutcomeChanged(); break;
        case P::lastTranscribedText: emit lastTranscribedTextChanged(); break;
        case P::lastMirkAutoReplaceSummary: emit lastMirkAutoReplaceSummaryChanged(); break;
        case P::engineMode: emit engineModeChanged(); break;
        case P::pushToTalkEnabled: emit pushToTalkEnabledChanged(); break;
        case P::pushToTalkKey: emit pushToTalkKeyChanged(); break;
        case P::doubleTapToggleEnabled: emit doubleTapToggleEnabledChanged(); break;
        case P::reinsertShortcutEnabled: emit reinsertShortcutEnabledChanged(); break;
        case P::reinsertShortcutPreset: emit reinsertShortcutPresetChanged(); break;
        case P::autoPasteEnabled: emit autoPasteEnabledChanged(); break;
        case P::copyToClipboardOnComplete: emit copyToClipboardOnCompleteChanged(); break;
        case P::soundFeedbackEnabled: emit soundFeedbackEnabledChanged(); break;
        case P::enableHomophoneReranking: emit enableHomophoneRerankingChanged(); break;
        case P::enableMirkContextCorrection: emit enableMirkContextCorrectionChanged(); break;
        case P::allowExternalMirkTransmission: emit allowExternalMirkTransmissionChanged(); break;
        case P::sendFocusedContextToMirk: emit sendFocusedContextToMirkChanged(); break;
        case P::isMirkAPIKeyConfigured: emit isMirkAPIKeyConfiguredChanged(); break;
        case P::isOnDeviceFoundationModelAvailable: emit isOnDeviceFoundationModelAvailableChanged(); break;
        case P::isRunningPlaygroundMirk: emit isRunningPlaygroundMirkChanged(); break;
        case P::inputOptions: emit inputOptionsChanged(); break;
        case P::customVocabulary: emit customVocabularyChanged(); break;
        case P::playgroundInput: emit playgroundInputChanged(); break;
        case P::playgroundOutput: emit playgroundOutputChanged(); break;
        case P::playgroundAppliedRules: emit playgroundAppliedRulesChanged(); break;
        case P::currentResult: emit currentResultChanged(); break;
        case P::currentSourceName: emit currentSourceNameChanged(); break;
        case P::history: emit historyChanged(); break;
        case P::speechModelMissingMessage: emit speechModelMissingMessageChanged(); break;
        case P::fileTranscriptionProgress: emit fileTranscriptionProgressChanged(); break;
    }
    // The derived values follow their sources.
    if (property == P::lastTranscribedText || property == P::currentResult || property == P::history)
        emit availableReinsertTextChanged();
    if (property == P::lastTranscribedText) emit lastInjectedTextChanged();
    if (property == P::lastExternalApp || property == P::capturedTargetApp) emit lastTargetAppNameChanged();
}

}  // namespace pelora
