#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/text/Regex.h"

namespace pelora::text {

// One rewrite rule: every match of `pattern` is replaced by `replacementTemplate`
// ("$1" names a group).
struct RegexRule {
    Regex pattern;
    std::string replacementTemplate;
};

// An ordered list of rewrite rules, each applied as replace-all to the output of the
// one before. Meant to be a `static const`: the patterns compile once and are shared.
class RegexRuleTable {
public:
    RegexRuleTable(std::initializer_list<std::pair<std::string_view, std::string_view>> rules,
                   RegexOptions options = RegexOptions::none);

    std::string apply(std::string_view text) const;
    const std::vector<RegexRule>& rules() const { return rules_; }

private:
    std::vector<RegexRule> rules_;
};

// An ordered list of patterns whose matches are deleted, each over the output of the one before.
class RegexDeletionList {
public:
    RegexDeletionList(std::initializer_list<std::string_view> patterns, RegexOptions options = RegexOptions::none);

    std::string apply(std::string_view text) const;
    const std::vector<Regex>& patterns() const { return patterns_; }

private:
    std::vector<Regex> patterns_;
};

}  // namespace pelora::text
