#pragma once

namespace pelora {

// The published properties of the controller, in declaration order; listeners are told
// which one changed.
enum class AppViewModelProperty {
    selectedSection,
    selectedOutputTab,
    isEngineLoaded,
    isLoadingEngine,
    engineStatusText,
    isTranscribing,
    isRecording,
    isHandsFreeLocked,
    audioLevel,
    recordingDuration,
    errorMessage,
    permissionHealth,
    isPermissionSheetPresented,
    conflictingLegacyApps,
    statusNoticeMessage,
    lastExternalApp,
    capturedTargetApp,
    capturedFocusedContext,
    lastInjectionOutcome,
    lastTranscribedText,
    lastMirkAutoReplaceSummary,
    engineMode,
    pushToTalkEnabled,
    pushToTalkKey,
    doubleTapToggleEnabled,
    reinsertShortcutEnabled,
    reinsertShortcutPreset,
    autoPasteEnabled,
    copyToClipboardOnComplete,
    soundFeedbackEnabled,
    enableHomophoneReranking,
    enableMirkContextCorrection,
    allowExternalMirkTransmission,
    sendFocusedContextToMirk,
    isMirkAPIKeyConfigured,
    isOnDeviceFoundationModelAvailable,
    isRunningPlaygroundMirk,
    inputOptions,
    customVocabulary,
    playgroundInput,
    playgroundOutput,
    playgroundAppliedRules,
    currentResult,
    currentSourceName,
    history,
    speechModelMissingMessage,
    fileTranscriptionProgress,
};

inline constexpr int appViewModelPropertyCount = static_cast<int>(AppViewModelProperty::fileTranscriptionProgress) + 1;

}  // namespace pelora
