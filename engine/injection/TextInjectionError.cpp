#include "engine/injection/TextInjectionError.h"

namespace pelora {

namespace {

std::string describe(TextInjectionError::Case errorCase, const std::string& message) {
    using Case = TextInjectionError::Case;
    switch (errorCase) {
        case Case::injectionFailed: return message;
        case Case::accessibilityNotEnabled: return "アクセシビリティ権限が必要です";
        case Case::postEventNotPermitted: return "キー送信権限が必要です";
        case Case::noActiveTextField: return "テキスト入力欄にフォーカスが当たっていません";
        case Case::duplicateSuppressed: return "カーソル位置に同一テキストが既に存在します";
        case Case::clipboardError: return "クリップボード操作に失敗しました";
    }
    return {};
}

}  // namespace

TextInjectionError::TextInjectionError(Case errorCase, std::string message)
    : std::runtime_error(describe(errorCase, message)), case_(errorCase), message_(std::move(message)) {}

}  // namespace pelora
