#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelora {

// What the user was typing into when a dictation started. Built field by field
// (FocusedTextContext{.appName = ..., .preText = ...}) or from a focused element.
struct FocusedTextContext {
    std::optional<std::string> appName = std::nullopt;
    std::optional<std::string> bundleIdentifier = std::nullopt;
    std::optional<std::string> windowTitle = std::nullopt;
    std::optional<std::string> selectedText = std::nullopt;
    std::optional<std::string> preText = std::nullopt;   // at most 180 UTF-16 units when captured
    std::optional<std::string> postText = std::nullopt;  // at most 180 UTF-16 units when captured

    // The construction from a focused element: the element's role is kept as
    // `windowTitle`, the text before and after the selection as `preText` and `postText`.
    static FocusedTextContext fromElement(std::optional<std::string> appName,
                                          std::optional<std::string> bundleIdentifier,
                                          std::optional<std::string> role,
                                          std::optional<std::string> precedingText,
                                          std::optional<std::string> selectedText,
                                          std::optional<std::string> followingText);

    // True when window title, selection and both surrounding texts are absent or empty
    // (the application fields do not count).
    bool isEmpty() const;
    // windowTitle, preText, selectedText, postText, those present and non-empty, joined
    // by one blank; no trimming.
    std::string combinedContextText() const;
    // Latin-script technical words of the combined text, as first written, without
    // duplicates under letter case and without common English and code stop words;
    // dotted words also give their pieces of three or more characters.
    std::vector<std::string> extractedContextTerms() const;

    // Absent fields are not written. Reading: a missing or null key is absent; a value
    // that is not a string, or a document that is not a JSON object, throws RecordCodingError.
    std::string toJSON() const;
    static FocusedTextContext fromJSON(std::string_view json);

    friend bool operator==(const FocusedTextContext&, const FocusedTextContext&) = default;
};

}  // namespace pelora
