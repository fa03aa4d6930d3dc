#include "engine/injection/FocusedTextContext.h"

#include <unordered_set>

#include <nlohmann/json.hpp>

#include "engine/recognition/RecordReader.h"
#include "engine/recognition/TranscriptionResult.h"
#include "platform/text/Regex.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {

using Json = nlohmann::ordered_json;

bool hasText(const std::optional<std::string>& field) { return field && !field->empty(); }

const std::unordered_set<std::string>& stopWords() {
    static const std::unordered_set<std::string> words{
        "the", "and", "for", "with", "that", "this", "from", "have", "will", "your", "you", "are",
        "was", "were", "not", "but", "can", "all", "var", "let", "func", "return", "import", "public",
        "private", "struct", "class", "enum", "case", "true", "false", "nil", "self", "init"};
    return words;
}

// Appends `term` unless it is a stop word or was taken before, ignoring letter case.
void take(const std::string& term, std::unordered_set<std::string>& taken, std::vector<std::string>& terms) {
    std::string lower = text::toLower(term);
    if (stopWords().count(lower) || taken.count(lower)) return;
    taken.insert(std::move(lower));
    terms.push_back(term);
}

}  // namespace

FocusedTextContext FocusedTextContext::fromElement(std::optional<std::string> appName,
                                                   std::optional<std::string> bundleIdentifier,
                                                   std::optional<std::string> role,
                                                   std::optional<std::string> precedingText,
                                                   std::optional<std::string> selectedText,
                                                   std::optional<std::string> followingText) {
    FocusedTextContext context;
    context.appName = std::move(appName);
    context.bundleIdentifier = std::move(bundleIdentifier);
    context.windowTitle = std::move(role);
    context.selectedText = std::move(selectedText);
    context.preText = std::move(precedingText);
    context.postText = std::move(followingText);
    return context;
}

bool FocusedTextContext::isEmpty() const {
    return !hasText(windowTitle) && !hasText(selectedText) && !hasText(preText) && !hasText(postText);
}

std::string FocusedTextContext::combinedContextText() const {
    std::string combined;
    for (const auto* field : {&windowTitle, &preText, &selectedText, &postText}) {
        if (!hasText(*field)) continue;
        if (!combined.empty()) combined += ' ';
        combined += **field;
    }
    return combined;
}

std::vector<std::string> FocusedTextContext::extractedContextTerms() const {
    static const text::Regex termPattern("\\b[A-Za-z][A-Za-z0-9_.\\-+]{2,34}\\b");
    std::vector<std::string> terms;
    const std::string combined = combinedContextText();
    if (combined.empty()) return terms;

    std::unordered_set<std::string> taken;
    for (const auto& match : termPattern.allMatches(combined)) {
        const std::string& term = match.text();
        take(term, taken, terms);
        // A dotted name (README.md, com.example.App) also stands for its parts.
        if (term.find('.') == std::string::npos) continue;
        std::size_t start = 0;
        while (start <= term.size()) {
            const std::size_t dot = std::min(term.find('.', start), term.size());
            const std::string piece = term.substr(start, dot - start);
            if (text::graphemeCount(piece) >= 3) take(piece, taken, terms);
            start = dot + 1;
        }
    }
    return terms;
}

std::string FocusedTextContext::toJSON() const {
    Json json = Json::object();
    const std::pair<const char*, const std::optional<std::string>*> fields[] = {
        {"appName", &appName},   {"bundleIdentifier", &bundleIdentifier}, {"windowTitle", &windowTitle},
        {"selectedText", &selectedText}, {"preText", &preText},           {"postText", &postText}};
    for (const auto& [key, field] : fields) {
        if (*field) json[key] = **field;
    }
    // Captured text may end in a cut UTF-8 sequence; it is written as U+FFFD.
    return dumpRecord(json);
}

FocusedTextContext FocusedTextContext::fromJSON(std::string_view text) {
    const RecordReader reader(text, "FocusedTextContext");
    const Json& json = reader.object();

    FocusedTextContext context;
    const std::pair<const char*, std::optional<std::string>*> fields[] = {
        {"appName", &context.appName},   {"bundleIdentifier", &context.bundleIdentifier},
        {"windowTitle", &context.windowTitle}, {"selectedText", &context.selectedText},
        {"preText", &context.preText},   {"postText", &context.postText}};
    for (const auto& [key, field] : fields) {
        const auto it = json.find(key);
        if (it == json.end() || it->is_null()) continue;
        if (!it->is_string()) throw RecordCodingError(std::string("FocusedTextContext: \"") + key + "\" is not a string");
        *field = it->get<std::string>();
    }
    return context;
}

}  // namespace pelora
