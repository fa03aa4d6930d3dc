#include "engine/injection/TextInjectionRoute.h"

namespace pelora::text_injection_route {

std::string_view rawValue(TextInjectionRoute route) {
    switch (route) {
        case TextInjectionRoute::axPrimary: return "ax_primary";
        case TextInjectionRoute::clipboardPrimary: return "clipboard_primary";
        case TextInjectionRoute::typingPrimary: return "typing_primary";
    }
    return {};
}

std::string_view displayLabel(TextInjectionRoute route) {
    switch (route) {
        case TextInjectionRoute::axPrimary: return "AX直接挿入 + ペースト";
        case TextInjectionRoute::clipboardPrimary: return "メニュー/Ctrl+V ペースト";
        case TextInjectionRoute::typingPrimary: return "ターミナル安全入力";
    }
    return {};
}

std::optional<TextInjectionRoute> fromRawValue(std::string_view raw) {
    for (TextInjectionRoute route : allCases) {
        if (rawValue(route) == raw) return route;
    }
    return std::nullopt;
}

}  // namespace pelora::text_injection_route
