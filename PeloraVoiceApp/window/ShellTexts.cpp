#include "PeloraVoiceApp/window/ShellTexts.h"

#include "PeloraVoiceApp/controller/AppViewModel.h"

namespace pelora::shell_texts {

QString qs(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QString recordCommand(bool isRecording) {
    return isRecording ? QStringLiteral("音声入力を完了") : QStringLiteral("マイク音声入力を開始");
}

QString recordMenuItem(bool isRecording, PTTShortcutKey key) {
    if (isRecording) return QStringLiteral("■ 録音を停止して挿入");
    return QStringLiteral("● 音声入力を開始 (") + qs(ptt_shortcut_key::shortBadge(key)) + QStringLiteral(")");
}

QString reinsertCommand(ReinsertShortcutPreset preset) {
    return QStringLiteral("直前のテキストを再挿入 (") + qs(reinsert_shortcut_preset::badgeLabel(preset)) +
           QStringLiteral(")");
}

QString reinsertMenuItem(ReinsertShortcutPreset preset) { return QStringLiteral("↩ ") + reinsertCommand(preset); }

QString pushToTalkToggle(PTTShortcutKey key) {
    return QStringLiteral("Push-to-Talk (") + qs(ptt_shortcut_key::displayName(key)) + QStringLiteral(")");
}

QString modeLabel(EngineMode mode) {
    switch (mode) {
        case EngineMode::hybridJaEn: return QStringLiteral("日本語 + 英語用語");
        case EngineMode::pureEG2English: return QStringLiteral("英語のみ");
        case EngineMode::appleSpeechJa: return QStringLiteral("日本語のみ");
    }
    return {};
}

QString statusLine(const AppViewModel& vm) {
    // Without a speech model the Japanese modes cannot work, whatever else loaded.
    if (vm.speechModelMissingMessage()) return QStringLiteral("○ 日本語音声モデルが未インストールです");
    if (vm.isEngineLoaded()) return QStringLiteral("● 準備完了");
    // A boot that built Japanese recognition without the acoustic models: ready all the same.
    if (!vm.isLoadingEngine() && vm.transcriber()) return QStringLiteral("● 準備完了 (日本語モード)");
    return QStringLiteral("○ 準備中...");
}

bool canReinsert(const AppViewModel& vm) { return !vm.lastTranscribedText().empty() || vm.currentResult().has_value(); }

bool permissionsIncomplete(const AppViewModel& vm) {
    const PermissionHealthStatus& health = vm.permissionHealth();
    return !health.canInjectReliably() || !health.microphoneAuthorized;
}

std::optional<QString> availableReinsertText(const AppViewModel& vm) {
    if (!vm.lastTranscribedText().empty()) return qs(vm.lastTranscribedText());
    if (vm.currentResult() && !vm.currentResult()->text.empty()) return qs(vm.currentResult()->text);
    if (!vm.history().empty() && !vm.history().front().result.text.empty()) return qs(vm.history().front().result.text);
    return std::nullopt;
}

QString lastTargetAppName(const AppViewModel& vm) {
    if (vm.lastExternalApp()) return qs(vm.lastExternalApp()->displayLabel());
    if (vm.capturedTargetApp()) return qs(vm.capturedTargetApp()->displayLabel());
    return {};
}

QString fixed(double value, int decimals) { return QString::number(value, 'f', decimals); }

}  // namespace pelora::shell_texts
