#include "platform/text/RegexRuleTable.h"

namespace pelora::text {

RegexRuleTable::RegexRuleTable(std::initializer_list<std::pair<std::string_view, std::string_view>> rules,
                               RegexOptions options) {
    rules_.reserve(rules.size());
    for (const auto& [pattern, replacement] : rules) {
        rules_.push_back({Regex(std::string(pattern), options), std::string(replacement)});
    }
}

std::string RegexRuleTable::apply(std::string_view text) const {
    std::string out(text);
    for (const RegexRule& rule : rules_) out = rule.pattern.replaceAll(out, rule.replacementTemplate);
    return out;
}

RegexDeletionList::RegexDeletionList(std::initializer_list<std::string_view> patterns, RegexOptions options) {
    patterns_.reserve(patterns.size());
    for (const std::string_view pattern : patterns) patterns_.emplace_back(std::string(pattern), options);
}

std::string RegexDeletionList::apply(std::string_view text) const {
    std::string out(text);
    for (const Regex& pattern : patterns_) out = pattern.replaceAll(out, "");
    return out;
}

}  // namespace pelora::text
