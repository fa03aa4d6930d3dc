#include "platform/text/Regex.h"

#include <mutex>

#include <unicode/regex.h>

#include "platform/text/internal/IcuString.h"
#include "platform/text/internal/RegexFlags.h"

namespace pelora::text {

using internal::fromUTF8;
using internal::toUTF8;

struct Regex::Compiled {
    std::string pattern;
    RegexOptions options;
    std::once_flag once;
    std::unique_ptr<icu::RegexPattern> icuPattern;
    std::string error;

    // Null when the pattern does not compile. RegexPattern is safe to share between
    // threads once built; every call makes its own RegexMatcher.
    const icu::RegexPattern* get() {
        std::call_once(once, [this] {
            const uint32_t flags = internal::regexFlags(options);
            UErrorCode status = U_ZERO_ERROR;
            UParseError parseError{};
            icuPattern.reset(icu::RegexPattern::compile(fromUTF8(pattern), flags, parseError, status));
            if (U_FAILURE(status)) {
                icuPattern.reset();
                error = std::string(u_errorName(status)) + " at offset " + std::to_string(parseError.offset);
            }
        });
        return icuPattern.get();
    }
};

namespace {

// A matcher over `input`. The matcher refers to `input` without copying it, so the
// caller keeps `input` alive for as long as the matcher is used.
std::unique_ptr<icu::RegexMatcher> makeMatcher(const icu::RegexPattern& pattern, const icu::UnicodeString& input) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(pattern.matcher(input, status));
    if (U_FAILURE(status)) return nullptr;
    return matcher;
}

RegexMatch readMatch(const icu::RegexMatcher& matcher, const icu::UnicodeString& input,
                     const std::vector<std::size_t>& utf8At) {
    RegexMatch match;
    const int32_t groupCount = matcher.groupCount();
    match.groups.resize(static_cast<std::size_t>(groupCount) + 1);
    for (int32_t g = 0; g <= groupCount; ++g) {
        UErrorCode status = U_ZERO_ERROR;
        const int32_t start = matcher.start(g, status);
        const int32_t end = matcher.end(g, status);
        RegexGroup& group = match.groups[static_cast<std::size_t>(g)];
        if (U_FAILURE(status) || start < 0) continue;
        group.matched = true;
        group.utf16 = {static_cast<std::size_t>(start), static_cast<std::size_t>(end)};
        group.utf8 = {utf8At[static_cast<std::size_t>(start)], utf8At[static_cast<std::size_t>(end)]};
        group.text = toUTF8(input.tempSubStringBetween(start, end));
    }
    return match;
}

}  // namespace

Regex::Regex(std::string pattern, RegexOptions options) : compiled_(std::make_shared<Compiled>()) {
    compiled_->pattern = std::move(pattern);
    compiled_->options = options;
}

const std::string& Regex::pattern() const { return compiled_->pattern; }

RegexOptions Regex::options() const { return compiled_->options; }

bool Regex::isValid() const { return compiled_->get() != nullptr; }

std::string Regex::errorMessage() const {
    compiled_->get();
    return compiled_->error;
}

std::string Regex::replaceAll(std::string_view text, std::string_view replacementTemplate) const {
    const icu::RegexPattern* pattern = compiled_->get();
    if (!pattern) return std::string(text);
    const icu::UnicodeString input = fromUTF8(text);
    auto matcher = makeMatcher(*pattern, input);
    if (!matcher) return std::string(text);
    UErrorCode status = U_ZERO_ERROR;
    if (!matcher->find(status) || U_FAILURE(status)) return std::string(text);
    const icu::UnicodeString result = matcher->replaceAll(fromUTF8(replacementTemplate), status);
    if (U_FAILURE(status)) return std::string(text);
    return toUTF8(result);
}

std::string Regex::replaceAllLiteral(std::string_view text, std::string_view replacement) const {
    return replaceAll(text, escapedTemplate(replacement));
}

std::optional<RegexMatch> Regex::firstMatch(std::string_view text) const {
    const icu::RegexPattern* pattern = compiled_->get();
    if (!pattern) return std::nullopt;
    const icu::UnicodeString input = fromUTF8(text);
    auto matcher = makeMatcher(*pattern, input);
    if (!matcher) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    if (!matcher->find(status) || U_FAILURE(status)) return std::nullopt;
    return readMatch(*matcher, input, internal::utf8OffsetsByUTF16Index(input, text));
}

std::vector<RegexMatch> Regex::allMatches(std::string_view text) const {
    std::vector<RegexMatch> matches;
    const icu::RegexPattern* pattern = compiled_->get();
    if (!pattern) return matches;
    const icu::UnicodeString input = fromUTF8(text);
    auto matcher = makeMatcher(*pattern, input);
    if (!matcher) return matches;
    std::vector<std::size_t> utf8At;
    UErrorCode status = U_ZERO_ERROR;
    while (matcher->find(status) && U_SUCCESS(status)) {
        if (utf8At.empty()) utf8At = internal::utf8OffsetsByUTF16Index(input, text);
        matches.push_back(readMatch(*matcher, input, utf8At));
    }
    return matches;
}

bool Regex::hasMatch(std::string_view text) const {
    const icu::RegexPattern* pattern = compiled_->get();
    if (!pattern) return false;
    const icu::UnicodeString input = fromUTF8(text);
    auto matcher = makeMatcher(*pattern, input);
    UErrorCode status = U_ZERO_ERROR;
    return matcher && matcher->find(status) && U_SUCCESS(status);
}

bool Regex::matchesEntirely(std::string_view text) const {
    const icu::RegexPattern* pattern = compiled_->get();
    if (!pattern) return false;
    const icu::UnicodeString input = fromUTF8(text);
    auto matcher = makeMatcher(*pattern, input);
    UErrorCode status = U_ZERO_ERROR;
    return matcher && matcher->matches(status) && U_SUCCESS(status);
}

std::string Regex::escapedPattern(std::string_view literal) {
    std::string out;
    out.reserve(literal.size() * 2);
    for (const char c : literal) {
        const auto byte = static_cast<unsigned char>(c);
        // ICU reads a backslash before any ASCII character other than a letter or a
        // digit as that character; letters after a backslash would be escapes.
        const bool asciiAlnum = (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
        if (byte < 0x80 && byte > 0x20 && byte != 0x7f && !asciiAlnum) out += '\\';
        out += c;
    }
    return out;
}

std::string Regex::escapedTemplate(std::string_view literal) {
    std::string out;
    out.reserve(literal.size() + 8);
    for (const char c : literal) {
        if (c == '\\' || c == '$') out += '\\';
        out += c;
    }
    return out;
}

}  // namespace pelora::text
