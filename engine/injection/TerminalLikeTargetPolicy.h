#pragma once

#include <optional>
#include <string>

namespace pelora {

// Whether a target application is a terminal, where text must be typed rather than
// pasted or written through accessibility.
class TerminalLikeTargetPolicy {
public:
    TerminalLikeTargetPolicy() = delete;

    // Trimmed and lower-cased first; true for a listed terminal identifier or one that
    // contains a terminal fragment. Absent or blank: false.
    static bool isTerminalLike(const std::optional<std::string>& bundleIdentifier);

    // Trim white space and line breaks at both ends, then lower-case; the form that both
    // route policies match. Absent stays absent; blank becomes empty.
    static std::optional<std::string> normalized(const std::optional<std::string>& value);
};

}  // namespace pelora
