#pragma once
#include <string_view>

// Who the desktop application is, to the desktop and to its own logic.
namespace AppIdentity {

// The application's own identity as the injection records and the front-application
// tracker see it; the desktop file is named after it.
inline constexpr std::string_view bundleIdentifier = "ai.pelora.PeloraVoice2";
// The program and application name; the window's WM_CLASS class.
inline constexpr std::string_view applicationName = "PeloraVoice2";
inline constexpr std::string_view displayName = "PeloraVoice 2";

} // namespace AppIdentity
