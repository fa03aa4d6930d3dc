#include "engine/injection/InjectionRoutePolicy.h"

#include <string_view>
#include <unordered_set>
#include <vector>

#include "engine/injection/TerminalLikeTargetPolicy.h"

namespace pelora {

namespace {

const std::unordered_set<std::string>& clipboardFirstBundleIdentifiers() {
    static const std::unordered_set<std::string> rows{
        "com.agilab.agicockpit",
        "com.google.antigravity",
        "com.anysphere.sand",
        "com.todesktop.230313mzl4w4u92",
        "com.openai.codex",
        "com.openai.atlas",
        "com.openai.chat",
        "com.apple.notes",
        "com.apple.mail",
        "com.apple.iwork.pages",
        "com.apple.iwork.keynote",
        "com.apple.dt.xcode",
        "com.apple.safari",
        "com.apple.safaritechnologypreview",
        "com.google.chrome",
        "com.google.chrome.canary",
        "company.thebrowser.browser",
        "company.thebrowser.dia",
        "com.brave.browser",
        "com.microsoft.edgemac",
        "com.microsoft.edge",
        "com.microsoft.edge.canary",
        "org.mozilla.firefox",
        "org.mozilla.firefoxdeveloperedition",
        "com.operasoftware.opera",
        "com.vivaldi.vivaldi",
        "app.zen-browser.zen",
        "com.microsoft.vscode",
        "com.microsoft.vscodeinsiders",
        "com.exafunction.windsurf",
        "dev.zed.zed",
        "com.tinyspeck.slackmacgap",
        "com.hnc.discord",
        "notion.id",
        "md.obsidian",
        "com.linear",
        "com.anthropic.claudefordesktop",
        "com.figma.desktop",
        "com.raycast.macos",
    };
    return rows;
}

const std::unordered_set<std::string>& clipboardFirstApplicationNames() {
    static const std::unordered_set<std::string> rows{
        "agi cockpit", "agicockpit", "antigravity", "codex",   "sand",     "メモ",          "notes",
        "google chrome", "safari",   "firefox",     "arc",     "dia",      "brave browser", "microsoft edge",
        "visual studio code", "code", "cursor",     "windsurf", "zed",     "slack",         "discord",
        "notion",      "obsidian",   "linear",      "chatgpt", "claude",   "figma",         "peloravoice 2",
        "peloravoice2",
    };
    return rows;
}

// Tried in this order against the bundle identifier, then against the name.
const std::vector<std::string_view>& clipboardFirstFragments() {
    static const std::vector<std::string_view> rows{
        "agicockpit", "agilab", "antigravity", "anysphere", "todesktop", "codex",   "atlas",
        "chrome",     "safari", "firefox",     "brave",     "edgemac",   "vivaldi", "opera",
        "thebrowser", "vscode", "cursor",      "windsurf",  "zed",       "slack",   "discord",
        "notion",     "obsidian", "linear",    "openai",    "claude",    "figma",   "peloravoice",
    };
    return rows;
}

bool containsFragment(const std::string& value) {
    for (std::string_view fragment : clipboardFirstFragments()) {
        if (value.find(fragment) != std::string::npos) return true;
    }
    return false;
}

}  // namespace

TextInjectionRoute InjectionRoutePolicy::resolve(const std::optional<std::string>& bundleIdentifier,
                                                 const std::optional<std::string>& appName) {
    if (TerminalLikeTargetPolicy::isTerminalLike(bundleIdentifier)) return TextInjectionRoute::typingPrimary;

    const auto id = TerminalLikeTargetPolicy::normalized(bundleIdentifier);
    if (id && !id->empty()) {
        if (clipboardFirstBundleIdentifiers().count(*id)) return TextInjectionRoute::clipboardPrimary;
        if (containsFragment(*id)) return TextInjectionRoute::clipboardPrimary;
    }
    const auto name = TerminalLikeTargetPolicy::normalized(appName);
    if (name && !name->empty()) {
        if (clipboardFirstApplicationNames().count(*name)) return TextInjectionRoute::clipboardPrimary;
        if (containsFragment(*name)) return TextInjectionRoute::clipboardPrimary;
    }
    return TextInjectionRoute::axPrimary;
}

}  // namespace pelora
