// The settings properties, the effects every assignment runs, and their document.
#include "PeloraVoiceApp/controller/AppViewModel.h"
#include "PeloraVoiceApp/controller/settings/VocabularyMerge.h"

namespace pelora {

using P = AppViewModelProperty;

void AppViewModel::settingsEffect(std::string_view effect) {
    if (settingsEffectObserver_) settingsEffectObserver_(effect);
}

JapaneseInputOptions AppViewModel::effectiveInputOptions() const {
    JapaneseInputOptions options = inputOptions_;
    options.enableHomophoneReranking = enableHomophoneReranking_;
    return options;
}

// ---- setters: each runs its effects on every assignment, equal value or not ----

void AppViewModel::setEngineMode(EngineMode v) {
    assign(engineMode_, v, P::engineMode);
    saveSettings();
}

void AppViewModel::setPushToTalkEnabled(bool v) {
    assign(pushToTalkEnabled_, v, P::pushToTalkEnabled);
    applyShortcutSettings();
    saveSettings();
}

void AppViewModel::setPushToTalkKey(PTTShortcutKey v) {
    assign(pushToTalkKey_, v, P::pushToTalkKey);
    applyShortcutSettings();
    saveSettings();
}

void AppViewModel::setDoubleTapToggleEnabled(bool v) {
    assign(doubleTapToggleEnabled_, v, P::doubleTapToggleEnabled);
    applyShortcutSettings();
    saveSettings();
}

void AppViewModel::setReinsertShortcutEnabled(bool v) {
    assign(reinsertShortcutEnabled_, v, P::reinsertShortcutEnabled);
    applyShortcutSettings();
    saveSettings();
}

void AppViewModel::setReinsertShortcutPreset(ReinsertShortcutPreset v) {
    assign(reinsertShortcutPreset_, v, P::reinsertShortcutPreset);
    applyShortcutSettings();
    saveSettings();
}

void AppViewModel::setAutoPasteEnabled(bool v) {
    assign(autoPasteEnabled_, v, P::autoPasteEnabled);
    saveSettings();
}

void AppViewModel::setCopyToClipboardOnComplete(bool v) {
    assign(copyToClipboardOnComplete_, v, P::copyToClipboardOnComplete);
    saveSettings();
}

void AppViewModel::setSoundFeedbackEnabled(bool v) {
    assign(soundFeedbackEnabled_, v, P::soundFeedbackEnabled);
    saveSettings();
}

void AppViewModel::setEnableHomophoneReranking(bool v) {
    assign(enableHomophoneReranking_, v, P::enableHomophoneReranking);
    if (!v) invalidateTranscriptionSession();
    // The top-level switch is the one that counts; the options carry a copy of it.
    if (inputOptions_.enableHomophoneReranking != v) {
        JapaneseInputOptions options = inputOptions_;
        options.enableHomophoneReranking = v;
        setInputOptions(options);
    }
    saveSettings();
    refreshPlaygroundPreview();
    reprocessCurrentResultIfAvailable();
}

void AppViewModel::setEnableMirkContextCorrection(bool v) {
    assign(enableMirkContextCorrection_, v, P::enableMirkContextCorrection);
    if (!v) invalidateTranscriptionSession();
    saveSettings();
    refreshPlaygroundPreview();
}

void AppViewModel::setAllowExternalMirkTransmission(bool v) {
    assign(allowExternalMirkTransmission_, v, P::allowExternalMirkTransmission);
    if (!v) invalidateTranscriptionSession();
    saveSettings();
    refreshPlaygroundPreview();
}

void AppViewModel::setSendFocusedContextToMirk(bool v) {
    assign(sendFocusedContextToMirk_, v, P::sendFocusedContextToMirk);
    saveSettings();
}

void AppViewModel::setInputOptions(JapaneseInputOptions v) {
    assign(inputOptions_, std::move(v), P::inputOptions);
    saveSettings();
    refreshPlaygroundPreview();
    reprocessCurrentResultIfAvailable();
}

void AppViewModel::setCustomVocabulary(std::vector<CustomVocabularyEntry> v) {
    assign(customVocabulary_, std::move(v), P::customVocabulary);
    saveSettings();
    refreshPlaygroundPreview();
    reprocessCurrentResultIfAvailable();
}

// ---- the key watchers ----

void AppViewModel::applyShortcutSettings() {
    settingsEffect("applyShortcutSettings");
    const bool dropped =
        c_.pushToTalk.updateConfiguration(pushToTalkKey_, doubleTapToggleEnabled_, pushToTalkEnabled_);
    if (dropped) {
        // The recording the dropped key was driving ends as on a normal release.
        assign(isHandsFreeLocked_, false, P::isHandsFreeLocked);
        if (isRecording_ || pendingRecordingRequestID_) stopRecordingAndTranscribe(true);
    }
    c_.reinsertShortcut.setPreset(reinsertShortcutPreset_);
    if (reinsertShortcutEnabled_)
        c_.reinsertShortcut.start();
    else
        c_.reinsertShortcut.stop();
}

// ---- the document ----

PersistedSettings AppViewModel::persistedSettings() const {
    PersistedSettings s;
    s.engineMode = engineMode_;
    s.pushToTalkEnabled = pushToTalkEnabled_;
    s.pushToTalkKey = pushToTalkKey_;
    s.doubleTapToggleEnabled = doubleTapToggleEnabled_;
    s.reinsertShortcutEnabled = reinsertShortcutEnabled_;
    s.reinsertShortcutPreset = reinsertShortcutPreset_;
    s.autoPasteEnabled = autoPasteEnabled_;
    s.copyToClipboardOnComplete = copyToClipboardOnComplete_;
    s.soundFeedbackEnabled = soundFeedbackEnabled_;
    s.enableHomophoneReranking = enableHomophoneReranking_;
    s.enableMirkContextCorrection = enableMirkContextCorrection_;
    s.allowExternalMirkTransmission = allowExternalMirkTransmission_;
    s.sendFocusedContextToMirk = sendFocusedContextToMirk_;
    s.inputOptions = effectiveInputOptions();
    s.customVocabulary = customVocabulary_;
    s.vocabularySchemaVersion = PersistedSettings::currentVocabularySchemaVersion;
    return s;
}

void AppViewModel::saveSettings() {
    // While loading, the values are half old and half new; the load writes once at its end.
    if (loadingSettings_) return;
    settingsEffect("saveSettings");
    // A failed write (read-only or full disk) keeps the previous document; the settings
    // in memory stay as the user set them.
    settingsDocument_.save(persistedSettings());
}

void AppViewModel::loadSettings() {
    const std::optional<PersistedSettings> stored = settingsDocument_.load(c_.wallClock.now());
    if (!stored) return;
    const PersistedSettings& s = *stored;
    loadingSettings_ = true;
    setEngineMode(s.engineMode);
    setPushToTalkEnabled(s.pushToTalkEnabled);
    setPushToTalkKey(s.pushToTalkKey);
    setDoubleTapToggleEnabled(s.doubleTapToggleEnabled.value_or(true));
    setReinsertShortcutEnabled(s.reinsertShortcutEnabled.value_or(true));
    setReinsertShortcutPreset(s.reinsertShortcutPreset.value_or(ReinsertShortcutPreset::optionShiftV));
    setAutoPasteEnabled(s.autoPasteEnabled);
    setCopyToClipboardOnComplete(s.copyToClipboardOnComplete);
    setSoundFeedbackEnabled(s.soundFeedbackEnabled.value_or(true));
    setEnableHomophoneReranking(s.enableHomophoneReranking);
    setEnableMirkContextCorrection(s.enableMirkContextCorrection.value_or(true));
    setAllowExternalMirkTransmission(s.allowExternalMirkTransmission.value_or(false));
    setSendFocusedContextToMirk(s.sendFocusedContextToMirk.value_or(false));
    JapaneseInputOptions options = s.inputOptions;
    options.enableHomophoneReranking = s.enableHomophoneReranking;
    setInputOptions(options);
    if (s.vocabularySchemaVersion && *s.vocabularySchemaVersion >= PersistedSettings::currentVocabularySchemaVersion)
        setCustomVocabulary(s.customVocabulary);
    else
        setCustomVocabulary(mergeBuiltInVocabulary(s.customVocabulary, JapaneseEmbeddingReranker::defaultVocabulary()));
    loadingSettings_ = false;
    // The complete loaded state, version 2 included, in one write.
    saveSettings();
}

}  // namespace pelora
