#include "platform/text/RegexRuleTable.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace pelora::text {
namespace {

TEST(RegexRuleTableTest, AppliesRulesInOrderEachOverTheOutputOfTheOneBefore) {
    const RegexRuleTable table({
        {"(あ)(い)", "$2$1", {}},
        {"いあ", "X", {"いあ"}},
        {"[", "never", {}},  // does not compile: skipped
        {"^X", "Y", {}},
    });
    struct Case {
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        {"あい", "Y"}, {"ああいい", "あXい"}, {"", ""}, {"うえ", "うえ"}, {"\xff" "abc", "\xff" "abc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(table.apply(c.input), c.expected);
    }
    EXPECT_EQ(table.size(), 4u);
    EXPECT_EQ(table.applyRule(0, "あい"), "いあ");
    EXPECT_EQ(table.applyRule(1, "あい"), "あい");
    EXPECT_EQ(table.applyRule(9, "あい"), "あい");
}

TEST(RegexRuleTableTest, RequiredLiteralsOnlySkipTextsThatCannotMatch) {
    // The same rules with and without the hint give the same results.
    const std::vector<RegexRule> plain{{"(?<=[はが])、(?=本)", "", {}}, {"変換が変換が", "変換が", {}}};
    const std::vector<RegexRule> hinted{{"(?<=[はが])、(?=本)", "", {"は、", "が、"}},
                                        {"変換が変換が", "変換が", {"変換が変換が"}}};
    const RegexRuleTable a(plain);
    const RegexRuleTable b(hinted);
    for (const std::string input : {"これは、本", "これが、本です変換が変換が", "これを、本", "", "変換が、変換が"}) {
        SCOPED_TRACE(input);
        EXPECT_EQ(a.apply(input), b.apply(input));
    }
    EXPECT_EQ(b.apply("これは、本"), "これは本");
}

TEST(RegexRuleTableTest, LineAnchorsAndDeletions) {
    const RegexRuleTable fillers = RegexRuleTable::deletions({"^えー、", "まあ"}, RegexOptions::anchorsMatchLines);
    EXPECT_EQ(fillers.apply("えー、一行目\nえー、二行目まあ"), "一行目\n二行目");
    EXPECT_EQ(fillers.rule(1).replacementTemplate, "");
}

TEST(RegexRuleTableTest, SharedTableIsSafeFromManyThreads) {
    static const RegexRuleTable table({{"(\\d+)円", "¥$1", {"円"}}});
    std::vector<std::string> results(8);
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < results.size(); ++i) {
            threads.emplace_back([&, i] { results[i] = table.apply("100円と200円"); });
        }
    }
    for (const std::string& result : results) EXPECT_EQ(result, "¥100と¥200");
}

}  // namespace
}  // namespace pelora::text
