#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Regular expressions over UTF-8 text, with ICU syntax and semantics: "\p{Han}",
// look-behind, "\b", "$1" templates behave exactly as the ICU engine defines them.
namespace pelora::text {

// Options of a pattern; combine with |.
enum class RegexOptions : unsigned {
    none = 0,
    caseInsensitive = 1u << 0,          // full Unicode case folding
    anchorsMatchLines = 1u << 1,        // "^" and "$" match at every line start and end
    dotMatchesLineSeparators = 1u << 2, // "." also matches line breaks
    ignoreMetacharacters = 1u << 3,     // the whole pattern is a literal string
    useUnicodeWordBoundaries = 1u << 4, // "\b" follows Unicode word-break rules
};
constexpr RegexOptions operator|(RegexOptions a, RegexOptions b) {
    return static_cast<RegexOptions>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}
constexpr bool hasOption(RegexOptions set, RegexOptions option) {
    return (static_cast<unsigned>(set) & static_cast<unsigned>(option)) != 0;
}

// A half-open range [begin, end).
struct TextRange {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t length() const { return end - begin; }
    friend bool operator==(const TextRange&, const TextRange&) = default;
};

// One capture group of a match. Ranges index the input text: `utf8` in bytes (ready
// for std::string::replace), `utf16` in UTF-16 code units (for positions exchanged with
// other applications). For input that is not valid UTF-8 the `utf8` ranges still index
// the input's own bytes (a bad sequence is one U+FFFD in `text` and in `utf16`).
struct RegexGroup {
    bool matched = false;  // false for an optional group that took no part in the match
    std::string text;
    TextRange utf8;
    TextRange utf16;
};

struct RegexMatch {
    std::vector<RegexGroup> groups;  // groups[0] is the whole match, then group 1, 2, ...

    const RegexGroup& operator[](std::size_t index) const { return groups.at(index); }
    const std::string& text() const { return groups.at(0).text; }
    const TextRange& utf8Range() const { return groups.at(0).utf8; }
    const TextRange& utf16Range() const { return groups.at(0).utf16; }
};

// A pattern that is compiled once, on first use, and shared by every copy of this
// object; all operations are const and may run on many threads at once (each call uses
// its own matcher). A pattern that does not compile never throws: the operations then
// behave as if nothing matched (replaceAll returns its input unchanged), so a table of
// rules simply skips a broken rule. Intended for `static const` rule tables.
class Regex {
public:
    explicit Regex(std::string pattern, RegexOptions options = RegexOptions::none);

    const std::string& pattern() const;
    RegexOptions options() const;
    // Compiles the pattern if not yet done; false when it does not compile.
    bool isValid() const;
    // ICU's description of the compile error; empty when the pattern is valid.
    std::string errorMessage() const;

    // Replaces every non-overlapping match, left to right. The template names groups
    // as "$1", "$2" ("$0" is the whole match) and "\" quotes the next character. A
    // template that refers to a missing group leaves the text unchanged.
    std::string replaceAll(std::string_view text, std::string_view replacementTemplate) const;
    // Replaces every match by `replacement` inserted literally.
    std::string replaceAllLiteral(std::string_view text, std::string_view replacement) const;

    std::optional<RegexMatch> firstMatch(std::string_view text) const;
    // Non-overlapping matches over the whole text, left to right.
    std::vector<RegexMatch> allMatches(std::string_view text) const;
    // True when some part of the text matches.
    bool hasMatch(std::string_view text) const;
    // True when the whole text matches.
    bool matchesEntirely(std::string_view text) const;

    // The text quoted so that a pattern matches it literally.
    static std::string escapedPattern(std::string_view literal);
    // The text quoted so that a replacement template inserts it literally.
    static std::string escapedTemplate(std::string_view literal);

private:
    struct Compiled;
    std::shared_ptr<Compiled> compiled_;
};

}  // namespace pelora::text
