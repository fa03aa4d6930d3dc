#include "engine/injection/BundleIdentifierResolver.h"

#include <unordered_map>
#include <vector>

#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {

struct Mapping {
    std::string_view bundleIdentifier;
    std::vector<std::string_view> linuxNames;  // lower case, desktop-file ids without ".desktop" and WM_CLASS
};

const std::unordered_map<std::string, std::string>& knownApplications() {
    static const std::unordered_map<std::string, std::string> table = [] {
        const Mapping mappings[] = {
            // Browsers.
            {"org.mozilla.firefox", {"firefox", "firefox-esr", "org.mozilla.firefox", "firefox_firefox"}},
            {"org.mozilla.firefoxdeveloperedition",
             {"firefox-developer-edition", "firefoxdeveloperedition", "firefox-aurora"}},
            {"com.google.chrome",
             {"google-chrome", "google-chrome-stable", "google-chrome-beta", "google-chrome-unstable",
              "com.google.chrome", "chromium", "chromium-browser", "org.chromium.chromium", "chromium_chromium"}},
            {"com.brave.browser",
             {"brave-browser", "brave-browser-beta", "brave-browser-nightly", "com.brave.browser"}},
            {"com.microsoft.edge",
             {"microsoft-edge", "microsoft-edge-stable", "microsoft-edge-beta", "microsoft-edge-dev",
              "com.microsoft.edge"}},
            {"com.operasoftware.opera", {"opera", "com.opera.opera"}},
            {"com.vivaldi.vivaldi", {"vivaldi", "vivaldi-stable", "vivaldi-snapshot", "com.vivaldi.vivaldi"}},
            {"app.zen-browser.zen", {"zen", "zen-browser", "zen-alpha", "app.zen_browser.zen"}},
            // Editors and chat.
            {"com.microsoft.vscode",
             {"code", "code-oss", "code-url-handler", "visual-studio-code", "com.visualstudio.code",
              "com.visualstudio.code-oss", "codium", "com.vscodium.codium"}},
            {"com.microsoft.vscodeinsiders", {"code-insiders", "code - insiders", "com.visualstudio.code.insiders"}},
            {"com.todesktop.230313mzl4w4u92", {"cursor", "co.anysphere.cursor"}},
            {"com.exafunction.windsurf", {"windsurf"}},
            {"dev.zed.zed", {"zed", "zed-editor", "dev.zed.zed", "dev.zed.zed-preview"}},
            {"com.tinyspeck.slackmacgap", {"slack", "com.slack.slack"}},
            {"com.hnc.discord", {"discord", "discord-ptb", "discord-canary", "com.discordapp.discord"}},
            {"md.obsidian", {"obsidian", "md.obsidian.obsidian"}},
            {"notion.id", {"notion", "notion-app", "notion-app-enhanced"}},
            {"com.linear", {"linear"}},
            {"com.figma.desktop", {"figma-linux", "io.github.figma_linux.figma_linux"}},
            // This application.
            {BundleIdentifierResolver::ownBundleIdentifier, {"peloravoice2", "ai.pelora.peloravoice2"}},
            // Terminals that have a row of their own.
            {"net.kovidgoyal.kitty", {"kitty", "net.kovidgoyal.kitty"}},
            {"org.alacritty", {"alacritty", "org.alacritty", "io.alacritty"}},
            {"com.github.wez.wezterm", {"wezterm", "org.wezfurlong.wezterm", "com.github.wez.wezterm"}},
            {"com.mitchellh.ghostty", {"ghostty", "com.mitchellh.ghostty"}},
            {"co.zeit.hyper", {"hyper"}},
            {"dev.warp.warp-stable", {"warp", "warp-terminal", "dev.warp.warp"}},
            // Every other Linux terminal.
            {BundleIdentifierResolver::genericTerminalBundleIdentifier,
             {"xterm",          "uxterm",          "urxvt",          "rxvt",
              "rxvt-unicode",   "urxvtc",          "konsole",        "org.kde.konsole",
              "gnome-terminal", "gnome-terminal-server", "org.gnome.terminal", "kgx",
              "org.gnome.console", "st",           "st-256color",    "foot",
              "footclient",     "org.codeberg.dnkl.foot", "xfce4-terminal", "terminator",
              "tilix",          "com.gexperts.tilix", "lxterminal",  "mate-terminal",
              "qterminal",      "sakura",          "terminology",    "guake",
              "tilda",          "yakuake",         "org.kde.yakuake", "cool-retro-term",
              "eterm",          "aterm",           "mlterm",         "kterm",
              "termite",        "ptyxis",          "org.gnome.ptyxis", "blackbox",
              "com.raggesilver.blackbox", "contour", "rio",          "tabby",
              "com.system76.cosmicterm", "cosmic-term", "deepin-terminal", "io.elementary.terminal"}},
        };
        std::unordered_map<std::string, std::string> built;
        for (const Mapping& mapping : mappings) {
            for (std::string_view name : mapping.linuxNames) {
                built.emplace(std::string(name), std::string(mapping.bundleIdentifier));
            }
        }
        return built;
    }();
    return table;
}

// Trimmed; a path gives its file name; ".desktop" removed. Letter case kept.
std::string stripped(const std::optional<std::string>& value, bool isDesktopFileId) {
    if (!value) return {};
    std::string s = text::trimWhitespaceAndNewlines(*value);
    if (isDesktopFileId) {
        if (const auto slash = s.rfind('/'); slash != std::string::npos) s.erase(0, slash + 1);
        constexpr std::string_view suffix = ".desktop";
        if (s.size() > suffix.size() && text::toLower(s.substr(s.size() - suffix.size())) == suffix) {
            s.erase(s.size() - suffix.size());
        }
    }
    return s;
}

}  // namespace

std::optional<std::string> BundleIdentifierResolver::resolve(const Identity& identity) {
    const std::string candidates[] = {stripped(identity.desktopFileId, true), stripped(identity.wmClassName, false),
                                      stripped(identity.wmClassInstance, false)};
    for (const std::string& candidate : candidates) {
        if (candidate.empty()) continue;
        const auto it = knownApplications().find(text::toLower(candidate));
        if (it != knownApplications().end()) return it->second;
    }
    for (const std::string& candidate : candidates) {
        if (!candidate.empty()) return candidate;
    }
    return std::nullopt;
}

}  // namespace pelora
