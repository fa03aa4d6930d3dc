#include "PeloraVoiceApp/pages/RulesPageTexts.h"

#include "engine/japanese/HTTPMirkDecisionProvider.h"
#include "engine/japanese/MirkInputSecretStore.h"
#include "platform/secrets/SecretStore.h"

namespace pelora::pages {

namespace {

// "https://host[:port]/path" -> "host".
QString hostOf(const std::string& endpoint) {
    std::string_view rest = endpoint;
    if (const auto scheme = rest.find("://"); scheme != std::string_view::npos) rest.remove_prefix(scheme + 3);
    rest = rest.substr(0, rest.find('/'));
    if (rest.starts_with('[')) {  // a bracketed IPv6 address keeps its colons
        const auto close = rest.find(']');
        return QString::fromUtf8(rest.substr(0, close == std::string_view::npos ? rest.size() : close + 1));
    }
    rest = rest.substr(0, rest.rfind(':'));
    return QString::fromUtf8(rest.data(), static_cast<qsizetype>(rest.size()));
}

}  // namespace

QString decisionServiceHostLabel() {
    const auto& endpoint = HTTPMirkDecisionProvider::shared().endpoint();
    if (!endpoint || endpoint->empty()) return QString::fromUtf8("未設定");
    const QString host = hostOf(*endpoint);
    return host.isEmpty() ? QString::fromUtf8("未設定") : host;
}

QString optInLabel(const QString& host) {
    return QString::fromUtf8("Quillory MIRK 外部API (") + host +
           QString::fromUtf8(") へのテキスト送信を許可する（オプトイン）");
}

QString onDeviceNote(const QString& host) {
    return QString::fromUtf8(
               "※ デフォルトでは完全オンデバイス（ローカル辞書）で処理されます。外部送信をONにした場合のみ、"
               "認識テキスト（および許可時はカーソル前後の文脈）が ") +
           host + QString::fromUtf8(" へ送信されます。");
}

QString keyStorageNote() {
    const auto folder = secrets::userConfigHome() / std::string(MirkInputSecretStore::appFolderName);
    return QString::fromUtf8(
               "キーリング (Secret Service: com.peloravoice.mirk-input-targeting) に保存されます。"
               "キーリングが動いていない環境では ") +
           QString::fromStdString(folder.string()) +
           QString::fromUtf8(
               " 内の本人だけが読めるファイルに保存されます。"
               "外部送信は上の「外部APIへのテキスト送信を許可する」をONにした場合のみ行われます。");
}

}  // namespace pelora::pages
