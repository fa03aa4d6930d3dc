#pragma once

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text/Regex.h"

namespace pelora::text {

// One rewrite rule: every match of `pattern` is replaced by `replacementTemplate`
// ("$1" names a group; empty deletes the match). `requiredAny` lists literals of which
// every match must contain at least one; a text holding none of them skips the pattern
// altogether. It only saves time and never changes a result, so leave it empty unless
// the pattern plainly requires one of the literals.
struct RegexRule {
    std::string pattern;
    std::string replacementTemplate;
    std::vector<std::string> requiredAny;
};

// An ordered list of rewrite rules, each applied as replace-all to the output of the one
// before, the whole list over one UTF-16 copy of the text. Meant to be a `static const`:
// the patterns compile once, on first use, safely when several threads come first
// together, and are shared; each application uses its own matchers. A pattern that does
// not compile is skipped.
class RegexRuleTable {
public:
    RegexRuleTable(std::vector<RegexRule> rules, RegexOptions options = RegexOptions::none);
    // Deletion rules: every match of each pattern is removed.
    static RegexRuleTable deletions(std::initializer_list<std::string_view> patterns,
                                    RegexOptions options = RegexOptions::none);

    std::string apply(std::string_view text) const;
    // Only the rule at `index`.
    std::string applyRule(std::size_t index, std::string_view text) const;
    std::size_t size() const;
    const RegexRule& rule(std::size_t index) const;

private:
    struct Compiled;
    std::shared_ptr<Compiled> compiled_;
};

}  // namespace pelora::text
