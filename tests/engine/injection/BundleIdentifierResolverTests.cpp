#include "engine/injection/BundleIdentifierResolver.h"

#include <gtest/gtest.h>

#include "engine/injection/InjectionRoutePolicy.h"

namespace pelora {
namespace {

using Identity = BundleIdentifierResolver::Identity;
using Opt = std::optional<std::string>;

std::string show(const Opt& value) { return value ? "\"" + *value + "\"" : "(absent)"; }

TEST(BundleIdentifierResolver, LinuxIdentitiesMapToTheirRows) {
    struct Case {
        Identity identity;
        Opt bundleIdentifier;
        TextInjectionRoute route;
    };
    const auto desktop = [](const char* id) { return Identity{.desktopFileId = id}; };
    const auto wmClass = [](const char* instance, const char* name) {
        return Identity{.wmClassInstance = instance, .wmClassName = name};
    };
    const Case cases[] = {
        // Browsers, editors and chat by desktop-file id or WM_CLASS.
        {desktop("firefox-esr.desktop"), "org.mozilla.firefox", TextInjectionRoute::clipboardPrimary},
        {wmClass("Navigator", "firefox-esr"), "org.mozilla.firefox", TextInjectionRoute::clipboardPrimary},
        {desktop("/usr/share/applications/chromium.desktop"), "com.google.chrome", TextInjectionRoute::clipboardPrimary},
        {wmClass("chromium", "Chromium"), "com.google.chrome", TextInjectionRoute::clipboardPrimary},
        {wmClass("google-chrome", "Google-chrome"), "com.google.chrome", TextInjectionRoute::clipboardPrimary},
        {wmClass("code", "Code"), "com.microsoft.vscode", TextInjectionRoute::clipboardPrimary},
        {desktop("code.desktop"), "com.microsoft.vscode", TextInjectionRoute::clipboardPrimary},
        {wmClass("slack", "Slack"), "com.tinyspeck.slackmacgap", TextInjectionRoute::clipboardPrimary},
        {desktop("com.slack.Slack.desktop"), "com.tinyspeck.slackmacgap", TextInjectionRoute::clipboardPrimary},
        {wmClass("discord", "discord"), "com.hnc.discord", TextInjectionRoute::clipboardPrimary},
        {wmClass("obsidian", "obsidian"), "md.obsidian", TextInjectionRoute::clipboardPrimary},
        {wmClass("microsoft-edge", "Microsoft-edge"), "com.microsoft.edge", TextInjectionRoute::clipboardPrimary},
        {desktop("dev.zed.Zed.desktop"), "dev.zed.zed", TextInjectionRoute::clipboardPrimary},
        // This application.
        {wmClass("PeloraVoice2", "PeloraVoice2"), "ai.pelora.PeloraVoice2", TextInjectionRoute::clipboardPrimary},
        {desktop("ai.pelora.PeloraVoice2.desktop"), "ai.pelora.PeloraVoice2", TextInjectionRoute::clipboardPrimary},
        // Terminals.
        {wmClass("xterm", "XTerm"), "com.apple.terminal", TextInjectionRoute::typingPrimary},
        {wmClass("urxvt", "URxvt"), "com.apple.terminal", TextInjectionRoute::typingPrimary},
        {wmClass("konsole", "konsole"), "com.apple.terminal", TextInjectionRoute::typingPrimary},
        {desktop("org.kde.konsole.desktop"), "com.apple.terminal", TextInjectionRoute::typingPrimary},
        {wmClass("gnome-terminal-server", "Gnome-terminal"), "com.apple.terminal", TextInjectionRoute::typingPrimary},
        {wmClass("st", "st-256color"), "com.apple.terminal", TextInjectionRoute::typingPrimary},
        {wmClass("foot", "foot"), "com.apple.terminal", TextInjectionRoute::typingPrimary},
        {wmClass("xfce4-terminal", "Xfce4-terminal"), "com.apple.terminal", TextInjectionRoute::typingPrimary},
        {wmClass("kitty", "kitty"), "net.kovidgoyal.kitty", TextInjectionRoute::typingPrimary},
        {wmClass("Alacritty", "Alacritty"), "org.alacritty", TextInjectionRoute::typingPrimary},
        {desktop("org.wezfurlong.wezterm.desktop"), "com.github.wez.wezterm", TextInjectionRoute::typingPrimary},
        // A listed WM_CLASS wins over an unknown desktop-file id.
        {Identity{.desktopFileId = "my-launcher.desktop", .wmClassInstance = "xterm", .wmClassName = "XTerm"},
         "com.apple.terminal", TextInjectionRoute::typingPrimary},
        // The desktop-file id is looked up before WM_CLASS.
        {Identity{.desktopFileId = "firefox-esr.desktop", .wmClassInstance = "xterm", .wmClassName = "XTerm"},
         "org.mozilla.firefox", TextInjectionRoute::clipboardPrimary},
        // Anything else keeps its desktop-file id (without the suffix), else WM_CLASS.
        {Identity{.desktopFileId = "org.gnome.gedit.desktop", .wmClassInstance = "gedit", .wmClassName = "Gedit"},
         "org.gnome.gedit", TextInjectionRoute::axPrimary},
        {wmClass("gedit", "Gedit"), "Gedit", TextInjectionRoute::axPrimary},
        {wmClass("qt-target", ""), "qt-target", TextInjectionRoute::axPrimary},
        {Identity{.wmClassInstance = "mousepad"}, "mousepad", TextInjectionRoute::axPrimary},
        {desktop("  org.example.Thing.DESKTOP \n"), "org.example.Thing", TextInjectionRoute::axPrimary},
        // A name that only looks like a listed one keeps itself.
        {wmClass("codeblocks", "CodeBlocks"), "CodeBlocks", TextInjectionRoute::axPrimary},
        // Nothing known.
        {Identity{}, std::nullopt, TextInjectionRoute::axPrimary},
        {Identity{.desktopFileId = " ", .wmClassInstance = "", .wmClassName = "\t"}, std::nullopt,
         TextInjectionRoute::axPrimary},
        {desktop(".desktop"), ".desktop", TextInjectionRoute::axPrimary},
    };
    for (const auto& c : cases) {
        const Opt resolved = BundleIdentifierResolver::resolve(c.identity);
        const std::string input = show(c.identity.desktopFileId) + " " + show(c.identity.wmClassInstance) + " " +
                                  show(c.identity.wmClassName);
        EXPECT_EQ(resolved, c.bundleIdentifier) << input;
        EXPECT_EQ(InjectionRoutePolicy::resolve(resolved, std::nullopt), c.route) << input;
    }
}

}  // namespace
}  // namespace pelora
