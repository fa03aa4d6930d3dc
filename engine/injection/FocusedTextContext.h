#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelora {

// What the user was typing into when a dictation started.
struct FocusedTextContext {
    std::optional<std::string> appName;
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> windowTitle;
    std::optional<std::string> selectedText;
    std::optional<std::string> preText;
    std::optional<std::string> postText;

    bool isEmpty() const;
    std::string combinedContextText() const;
    std::vector<std::string> extractedContextTerms() const;

    std::string toJSON() const;
    static FocusedTextContext fromJSON(std::string_view json);

    friend bool operator==(const FocusedTextContext&, const FocusedTextContext&) = default;
};

}  // namespace pelora
