#include "engine/injection/TextInjectionOutcome.h"

namespace pelora {

bool TextInjectionOutcome::isDirectInsert() const {
    switch (case_) {
        case Case::injectedViaAX:
        case Case::injectedViaMenuPaste:
        case Case::injectedViaCommandV:
        case Case::injectedViaUnicodeTyping: return true;
        case Case::copiedToClipboardFallback:
        case Case::skipped: return false;
    }
    return false;
}

std::string TextInjectionOutcome::summaryBadge() const {
    switch (case_) {
        case Case::injectedViaAX: return "✅ " + payload_ + " に直接挿入 (AX)";
        case Case::injectedViaMenuPaste: return "✅ " + payload_ + " に挿入 (メニューペースト)";
        case Case::injectedViaCommandV: return "✅ " + payload_ + " に挿入 (Ctrl+V)";
        case Case::injectedViaUnicodeTyping: return "✅ " + payload_ + " に挿入 (キー入力)";
        case Case::copiedToClipboardFallback: return "📋 コピー済み (" + payload_ + ")";
        case Case::skipped: return "⏭ スキップ (" + payload_ + ")";
    }
    return {};
}

}  // namespace pelora
