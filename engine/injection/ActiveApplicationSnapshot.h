#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pelora {

// The application that text is to go into, as the front-application tracker saw it.
// On Linux `bundleIdentifier` is what BundleIdentifierResolver made of the
// application's desktop-file id or WM_CLASS.
struct ActiveApplicationSnapshot {
    std::int32_t processIdentifier = 0;
    std::optional<std::string> bundleIdentifier = std::nullopt;
    std::optional<std::string> appName = std::nullopt;

    // appName if present and not empty, else bundleIdentifier if present and not empty,
    // else "PID " and the decimal process identifier. No trimming: " " is a name.
    std::string displayLabel() const;

    // processIdentifier is always written and required when reading; the two strings are
    // written only when present and read as absent when missing. A bad document throws
    // RecordCodingError.
    std::string toJSON() const;
    static ActiveApplicationSnapshot fromJSON(std::string_view json);

    friend bool operator==(const ActiveApplicationSnapshot&, const ActiveApplicationSnapshot&) = default;
};

}  // namespace pelora
