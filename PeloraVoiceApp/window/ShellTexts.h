#pragma once

#include "PeloraVoiceApp/system/PTTShortcutKey.h"
#include "engine/injection/ReinsertShortcutPreset.h"
#include "engine/recognition/EngineMode.h"

#include <QString>

#include <optional>
#include <string_view>

namespace pelora {

class AppViewModel;

// The texts of the window's menu, the tray menu and the toolbar that follow the controller.
namespace shell_texts {

QString qs(std::string_view text);

QString recordCommand(bool isRecording);
QString recordMenuItem(bool isRecording, PTTShortcutKey key);
QString reinsertCommand(ReinsertShortcutPreset preset);
QString reinsertMenuItem(ReinsertShortcutPreset preset);
QString pushToTalkToggle(PTTShortcutKey key);
QString modeLabel(EngineMode mode);
// "● 準備完了", "● 準備完了 (日本語モード)", "○ 日本語音声モデルが未インストールです" or "○ 準備中...".
QString statusLine(const AppViewModel& vm);
// Whether the reinsert command and menu item are enabled.
bool canReinsert(const AppViewModel& vm);
// Microphone, or both accessibility and synthetic keys, missing.
bool permissionsIncomplete(const AppViewModel& vm);
// The text a reinsertion would use: the last result text, else the shown result's text, else
// the newest history entry's; none when all are empty.
std::optional<QString> availableReinsertText(const AppViewModel& vm);
// The application the next dictation would go to, as the record button names it; empty when none.
QString lastTargetAppName(const AppViewModel& vm);
// "%.1f" and friends without the process locale: always a decimal point.
QString fixed(double value, int decimals);

}  // namespace shell_texts

}  // namespace pelora
