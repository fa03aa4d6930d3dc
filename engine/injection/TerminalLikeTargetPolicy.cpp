#include "engine/injection/TerminalLikeTargetPolicy.h"

#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {

const std::unordered_set<std::string>& terminalBundleIdentifiers() {
    static const std::unordered_set<std::string> rows{
        "com.apple.terminal",    "com.googlecode.iterm2",  "com.agilab.agiterminal", "dev.warp.warp-stable",
        "dev.warp.warp",         "com.mitchellh.ghostty",  "com.github.wez.wezterm", "org.alacritty",
        "io.alacritty",          "net.kovidgoyal.kitty",   "co.zeit.hyper"};
    return rows;
}

// Tried in this order.
const std::vector<std::string_view>& terminalFragments() {
    static const std::vector<std::string_view> rows{"agiterminal", "terminal", "iterm",     "warp", "ghostty",
                                                    "wezterm",     "alacritty", "kitty", "hyper"};
    return rows;
}

}  // namespace

std::optional<std::string> TerminalLikeTargetPolicy::normalized(const std::optional<std::string>& value) {
    if (!value) return std::nullopt;
    return text::toLower(text::trimWhitespaceAndNewlines(*value));
}

bool TerminalLikeTargetPolicy::isTerminalLike(const std::optional<std::string>& bundleIdentifier) {
    const auto id = normalized(bundleIdentifier);
    if (!id || id->empty()) return false;
    if (terminalBundleIdentifiers().count(*id)) return true;
    for (std::string_view fragment : terminalFragments()) {
        if (id->find(fragment) != std::string::npos) return true;
    }
    return false;
}

}  // namespace pelora
