#include "engine/injection/InjectionRoutePolicy.h"

#include <gtest/gtest.h>

#include "platform/text/UnicodeText.h"

namespace pelora {
namespace {

using Route = TextInjectionRoute;
using Opt = std::optional<std::string>;

const char* name(Route route) { return text_injection_route::rawValue(route).data(); }

TEST(InjectionRoutePolicy, RulesFireInOrderAfterNormalisation) {
    struct Case {
        const char* what;
        Opt bundleIdentifier;
        Opt appName;
        Route route;
    };
    const Case cases[] = {
        {"both absent", std::nullopt, std::nullopt, Route::axPrimary},
        {"blank identifier, no name", "   ", std::nullopt, Route::axPrimary},
        {"blank identifier, blank name", " \n", "\t", Route::axPrimary},
        {"padded upper-case terminal beats a clipboard-first name", "  COM.Apple.Terminal\n", "Google Chrome",
         Route::typingPrimary},
        {"terminal fragment beats a clipboard-first identifier row", "com.agilab.agiterminal", "AGI Cockpit",
         Route::typingPrimary},
        {"a terminal name alone types nothing", std::nullopt, "Terminal", Route::axPrimary},
        {"clipboard-first identifier", "com.agilab.agicockpit", std::nullopt, Route::clipboardPrimary},
        {"identifier rows ignore case", "COM.MICROSOFT.VSCODE", std::nullopt, Route::clipboardPrimary},
        {"identifier fragment", "org.example.chromeclone", std::nullopt, Route::clipboardPrimary},
        {"unknown identifier, listed name", "org.example.unknown", "Google Chrome", Route::clipboardPrimary},
        {"unknown identifier, unlisted name", "org.example.unknown", "Text Editor", Route::axPrimary},
        {"name fragment without identifier", std::nullopt, "My Slack Workspace", Route::clipboardPrimary},
        {"Japanese name row", std::nullopt, "メモ", Route::clipboardPrimary},
        {"padded name row", std::nullopt, "  Visual Studio Code \n", Route::clipboardPrimary},
        {"zed inside any identifier", "org.example.amazed", std::nullopt, Route::clipboardPrimary},
        {"zed inside any name", std::nullopt, "Blazed", Route::clipboardPrimary},
        {"the application itself by name", "ai.example.unlisted", "PeloraVoice 2", Route::clipboardPrimary},
        {"the application itself by identifier", "ai.pelora.PeloraVoice2", std::nullopt, Route::clipboardPrimary},
        {"arc is an exact name only", std::nullopt, "Arcade", Route::axPrimary},
        {"arc as a name", std::nullopt, "Arc", Route::clipboardPrimary},
        {"empty strings", "", "", Route::axPrimary},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(name(InjectionRoutePolicy::resolve(c.bundleIdentifier, c.appName)), name(c.route)) << c.what;
    }
}

TEST(InjectionRoutePolicy, EveryListedIdentifierIsClipboardFirst) {
    const char* identifiers[] = {
        "com.agilab.agicockpit", "com.google.antigravity", "com.anysphere.sand", "com.todesktop.230313mzl4w4u92",
        "com.openai.codex", "com.openai.atlas", "com.openai.chat", "com.apple.notes", "com.apple.mail",
        "com.apple.iwork.pages", "com.apple.iwork.keynote", "com.apple.dt.xcode", "com.apple.safari",
        "com.apple.safaritechnologypreview", "com.google.chrome", "com.google.chrome.canary",
        "company.thebrowser.browser", "company.thebrowser.dia", "com.brave.browser", "com.microsoft.edgemac",
        "com.microsoft.edge", "com.microsoft.edge.canary", "org.mozilla.firefox",
        "org.mozilla.firefoxdeveloperedition", "com.operasoftware.opera", "com.vivaldi.vivaldi",
        "app.zen-browser.zen", "com.microsoft.vscode", "com.microsoft.vscodeinsiders", "com.exafunction.windsurf",
        "dev.zed.zed", "com.tinyspeck.slackmacgap", "com.hnc.discord", "notion.id", "md.obsidian", "com.linear",
        "com.anthropic.claudefordesktop", "com.figma.desktop", "com.raycast.macos"};
    for (const char* id : identifiers) {
        EXPECT_EQ(InjectionRoutePolicy::resolve(std::string(id), std::nullopt), Route::clipboardPrimary) << id;
    }
    // Rows that hold no fragment match exactly (after trimming), never as a prefix.
    const char* exactOnly[] = {"com.apple.notes",    "com.apple.mail",           "com.apple.iwork.pages",
                               "com.apple.iwork.keynote", "com.apple.dt.xcode", "com.microsoft.edge",
                               "com.microsoft.edge.canary", "app.zen-browser.zen", "com.raycast.macos"};
    for (const char* id : exactOnly) {
        EXPECT_EQ(InjectionRoutePolicy::resolve(std::string(" ") + id + "\n", std::nullopt), Route::clipboardPrimary)
            << id;
        EXPECT_EQ(InjectionRoutePolicy::resolve(std::string(id) + ".helper", std::nullopt), Route::axPrimary) << id;
    }
}

TEST(InjectionRoutePolicy, EveryListedNameIsClipboardFirst) {
    const char* names[] = {"agi cockpit", "agicockpit", "antigravity", "codex", "sand", "メモ", "notes",
                           "google chrome", "safari", "firefox", "arc", "dia", "brave browser", "microsoft edge",
                           "visual studio code", "code", "cursor", "windsurf", "zed", "slack", "discord", "notion",
                           "obsidian", "linear", "chatgpt", "claude", "figma", "peloravoice 2", "peloravoice2"};
    for (const char* n : names) {
        EXPECT_EQ(InjectionRoutePolicy::resolve(std::nullopt, std::string(n)), Route::clipboardPrimary) << n;
        EXPECT_EQ(InjectionRoutePolicy::resolve("org.example.unknown", text::toUpper(n)), Route::clipboardPrimary) << n;
    }
}

TEST(InjectionRoutePolicy, EveryFragmentMatchesInsideIdentifiersAndNames) {
    const char* fragments[] = {"agicockpit", "agilab", "antigravity", "anysphere", "todesktop", "codex", "atlas",
                               "chrome", "safari", "firefox", "brave", "edgemac", "vivaldi", "opera", "thebrowser",
                               "vscode", "cursor", "windsurf", "zed", "slack", "discord", "notion", "obsidian",
                               "linear", "openai", "claude", "figma", "peloravoice"};
    for (const char* f : fragments) {
        const std::string inside = std::string("x.") + f + ".y";
        EXPECT_EQ(InjectionRoutePolicy::resolve(inside, std::nullopt), Route::clipboardPrimary) << f;
        EXPECT_EQ(InjectionRoutePolicy::resolve(std::nullopt, "My " + std::string(f) + " app"),
                  Route::clipboardPrimary)
            << f;
    }
    // Names without a fragment and not listed fall through.
    for (const char* n : {"sandbox", "notes app", "codes", "dial"}) {
        EXPECT_EQ(InjectionRoutePolicy::resolve(std::nullopt, std::string(n)), Route::axPrimary) << n;
    }
}

}  // namespace
}  // namespace pelora
