#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pelora {

// A running earlier edition of the application (or a copy under its old name).
struct LegacyPeloraAppInfo {
    std::int32_t pid = 0;
    std::string appName;                          // its process name, or "PeloraVoice (旧バージョン)"
    std::optional<std::string> bundleIdentifier;  // its desktop-file id, when it was started from one
    std::optional<std::string> bundlePath;        // its executable
    std::int32_t id() const { return pid; }
    friend bool operator==(const LegacyPeloraAppInfo&, const LegacyPeloraAppInfo&) = default;
};

}  // namespace pelora
