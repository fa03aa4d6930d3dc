#include "engine/injection/TerminalLikeTargetPolicy.h"

#include <gtest/gtest.h>

namespace pelora {
namespace {

TEST(TerminalLikeTargetPolicy, ListedIdentifiersAndFragmentsAreTerminals) {
    struct Case {
        std::optional<std::string> bundleIdentifier;
        bool terminal;
    };
    const Case cases[] = {
        {std::nullopt, false},
        {"", false},
        {" \t\n", false},
        // The 11 rows.
        {"com.apple.terminal", true},
        {"com.googlecode.iterm2", true},
        {"com.agilab.agiterminal", true},
        {"dev.warp.warp-stable", true},
        {"dev.warp.warp", true},
        {"com.mitchellh.ghostty", true},
        {"com.github.wez.wezterm", true},
        {"org.alacritty", true},
        {"io.alacritty", true},
        {"net.kovidgoyal.kitty", true},
        {"co.zeit.hyper", true},
        // The fragments, anywhere.
        {"x.agiterminal.y", true},
        {"org.gnome.Terminal", true},
        {"someitermclone", true},
        {"org.example.warpdrive", true},
        {"ghostty-nightly", true},
        {"org.wezterm", true},
        {"alacritty", true},
        {"org.example.hyperlink", true},
        {"kittycat", true},
        // Normalised first.
        {"  COM.APPLE.TERMINAL \r\n", true},
        {"\u3000NET.KovidGoyal.Kitty", true},
        // Not terminals.
        {"org.mozilla.firefox", false},
        {"com.agilab.agicockpit", false},
        {"xterm", false},
        {"org.kde.konsole", false},
        {"term", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TerminalLikeTargetPolicy::isTerminalLike(c.bundleIdentifier), c.terminal)
            << (c.bundleIdentifier ? *c.bundleIdentifier : "(absent)");
    }
}

TEST(TerminalLikeTargetPolicy, NormalisationTrimsBothEndsAndLowerCases) {
    EXPECT_EQ(TerminalLikeTargetPolicy::normalized(std::nullopt), std::nullopt);
    EXPECT_EQ(TerminalLikeTargetPolicy::normalized(" \n"), "");
    EXPECT_EQ(TerminalLikeTargetPolicy::normalized("\tGoogle  Chrome\n"), "google  chrome");
    EXPECT_EQ(TerminalLikeTargetPolicy::normalized("ＭＥＭＯ メモ"), "ｍｅｍｏ メモ");
}

}  // namespace
}  // namespace pelora
