#include "platform/text/RegexRuleTable.h"

#include <mutex>

#include <unicode/regex.h>

#include "platform/text/internal/IcuString.h"
#include "platform/text/internal/RegexFlags.h"

namespace pelora::text {

using internal::fromUTF8;
using internal::toUTF8;

namespace {

struct CompiledRule {
    std::unique_ptr<icu::RegexPattern> pattern;  // null when the pattern does not compile
    icu::UnicodeString replacement;
    std::vector<icu::UnicodeString> requiredAny;
};

}  // namespace

struct RegexRuleTable::Compiled {
    using Rule = CompiledRule;

    std::vector<RegexRule> sources;
    RegexOptions options;
    std::once_flag once;
    std::vector<Rule> rules;

    // RegexPattern is safe to share between threads once built.
    const std::vector<Rule>& get() {
        std::call_once(once, [this] {
            const uint32_t flags = internal::regexFlags(options);
            for (const RegexRule& source : sources) {
                Rule rule;
                UErrorCode status = U_ZERO_ERROR;
                UParseError parseError{};
                rule.pattern.reset(icu::RegexPattern::compile(fromUTF8(source.pattern), flags, parseError, status));
                if (U_FAILURE(status)) rule.pattern.reset();
                rule.replacement = fromUTF8(source.replacementTemplate);
                for (const std::string& literal : source.requiredAny) rule.requiredAny.push_back(fromUTF8(literal));
                rules.push_back(std::move(rule));
            }
        });
        return rules;
    }
};

namespace {

using Rule = CompiledRule;

bool mayMatch(const Rule& rule, const icu::UnicodeString& text) {
    if (!rule.pattern) return false;
    if (rule.requiredAny.empty()) return true;
    for (const icu::UnicodeString& literal : rule.requiredAny) {
        if (text.indexOf(literal) >= 0) return true;
    }
    return false;
}

// Replaces every match in `text`; false (text untouched) when nothing matched.
bool replaceAllIn(const Rule& rule, icu::UnicodeString& text) {
    if (!mayMatch(rule, text)) return false;
    UErrorCode status = U_ZERO_ERROR;
    // The matcher reads `text` in place, so `text` is only replaced once the matcher is done.
    std::unique_ptr<icu::RegexMatcher> matcher(rule.pattern->matcher(text, status));
    if (U_FAILURE(status) || !matcher->find(status) || U_FAILURE(status)) return false;
    icu::UnicodeString result = matcher->replaceAll(rule.replacement, status);
    matcher.reset();
    if (U_FAILURE(status)) return false;
    text = std::move(result);
    return true;
}

}  // namespace

RegexRuleTable::RegexRuleTable(std::vector<RegexRule> rules, RegexOptions options)
    : compiled_(std::make_shared<Compiled>()) {
    compiled_->sources = std::move(rules);
    compiled_->options = options;
}

RegexRuleTable RegexRuleTable::deletions(std::initializer_list<std::string_view> patterns, RegexOptions options) {
    std::vector<RegexRule> rules;
    for (const std::string_view pattern : patterns) rules.push_back({std::string(pattern), "", {}});
    return RegexRuleTable(std::move(rules), options);
}

std::string RegexRuleTable::apply(std::string_view text) const {
    icu::UnicodeString working = fromUTF8(text);
    bool changed = false;
    for (const Rule& rule : compiled_->get()) changed = replaceAllIn(rule, working) || changed;
    return changed ? toUTF8(working) : std::string(text);
}

std::string RegexRuleTable::applyRule(std::size_t index, std::string_view text) const {
    const std::vector<Rule>& rules = compiled_->get();
    if (index >= rules.size()) return std::string(text);
    icu::UnicodeString working = fromUTF8(text);
    return replaceAllIn(rules[index], working) ? toUTF8(working) : std::string(text);
}

std::size_t RegexRuleTable::size() const { return compiled_->sources.size(); }

const RegexRule& RegexRuleTable::rule(std::size_t index) const { return compiled_->sources.at(index); }

}  // namespace pelora::text
