#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pelora {

// Turns a Linux application's identity into the bundle identifier that the route
// policies and the records carry. Linux builds of the applications the policies list
// map to their rows, Linux terminals to a terminal row; anything else keeps its own
// identity.
class BundleIdentifierResolver {
public:
    BundleIdentifierResolver() = delete;

    // What the desktop tells about one application window; any part may be unknown.
    struct Identity {
        // "firefox-esr.desktop", "org.kde.konsole" (with or without the suffix; a path
        // counts by its file name).
        std::optional<std::string> desktopFileId = std::nullopt;
        // The two strings of WM_CLASS: instance ("Navigator") and class ("firefox-esr").
        std::optional<std::string> wmClassInstance = std::nullopt;
        std::optional<std::string> wmClassName = std::nullopt;
    };

    // This application's own identity.
    static constexpr std::string_view ownBundleIdentifier = "ai.pelora.PeloraVoice2";
    // The row that generic Linux terminals map to.
    static constexpr std::string_view genericTerminalBundleIdentifier = "com.apple.terminal";

    // The desktop-file id, then the WM_CLASS class, then its instance are looked up
    // (trimmed, without letter case, without ".desktop"); the first known one gives its
    // row. Otherwise the desktop-file id (without ".desktop"), else the WM_CLASS class,
    // else its instance, as given; nothing when all are absent or blank.
    static std::optional<std::string> resolve(const Identity& identity);
};

}  // namespace pelora
