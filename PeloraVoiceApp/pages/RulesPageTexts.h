#pragma once

#include <QString>

// The rules page's texts that depend on this machine: the decision service's host and the
// folder of the key file.
namespace pelora::pages {

// The host part of the decision service's endpoint, or "未設定" when none is configured.
QString decisionServiceHostLabel();
// "Quillory MIRK 外部API (<host>) へのテキスト送信を許可する（オプトイン）"
QString optInLabel(const QString& host);
// The note under the opt-in toggles.
QString onDeviceNote(const QString& host);
// The note under the key field, naming the folder of the private key file.
QString keyStorageNote();

inline constexpr const char* keyFieldPlaceholder = "Quillory MIRK APIキー (キーリング保存)";
inline constexpr const char* keySaveFailedText = "APIキーを保存できませんでした";

}  // namespace pelora::pages
