#include "platform/text/Regex.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace pelora::text {
namespace {

struct ReplaceCase {
    const char* pattern;
    RegexOptions options;
    const char* input;
    const char* replacementTemplate;
    const char* expected;
};

TEST(Regex, ReplaceAllFollowsICUPatternsAndTemplates) {
    const ReplaceCase cases[] = {
        // Groups in the template, script classes in the pattern.
        {"([一-龠々ァ-ヶーA-Za-z0-9]{1,10})が変換が(ミス|おかし)", RegexOptions::none, "音声が変換がミスした",
         "$1の変換が$2", "音声の変換がミスした"},
        {"([\\p{Hiragana}\\p{Katakana}\\p{Han}])[ \\t]+(?=[\\p{Hiragana}\\p{Katakana}\\p{Han}])", RegexOptions::none,
         "日本 語 と\tカナ", "$1", "日本語とカナ"},
        // Look-behind: katakana before the match blocks it.
        {"(?<![ァ-ヶー])はきかに", RegexOptions::none, "はきかに、ゲームはきかに", "明らかに", "明らかに、ゲームはきかに"},
        // "^" matches only at the text start unless lines are anchors.
        {"^えーと[、\\s]+", RegexOptions::none, "えーと、一行目\nえーと、二行目", "", "一行目\nえーと、二行目"},
        {"^えーと[、\\s]+", RegexOptions::anchorsMatchLines, "えーと、一行目\nえーと、二行目", "", "一行目\n二行目"},
        {"core ml", RegexOptions::caseInsensitive, "Core ML と CORE ML", "X", "X と X"},
        {"core ml", RegexOptions::none, "Core ML と core ml", "X", "Core ML と X"},
        // A back-reference inside the pattern.
        {"([はがを])[、\\s]+\\1(?=[一-龠])", RegexOptions::none, "これは、は今日", "$1", "これは今日"},
        {"(\\d+(?:\\.\\d+)?)\\s*パーセント", RegexOptions::none, "3.5 パーセントと10パーセント", "$1%", "3.5%と10%"},
        // "\" quotes the next template character; "$0" is the whole match.
        {"a(b)", RegexOptions::none, "ab", "\\$1[$0]", "$1[ab]"},
        {"[0-9]", RegexOptions::none, "日本語", "#", "日本語"},
        // Characters outside the BMP stay intact around matches.
        {"x", RegexOptions::none, "😀x𠮷x", "-", "😀-𠮷-"},
        {"a.b", RegexOptions::none, "a\nb", "X", "a\nb"},
        {"a.b", RegexOptions::dotMatchesLineSeparators, "a\nb", "X", "X"},
        {"a.b", RegexOptions::ignoreMetacharacters, "axb a.b", "X", "axb X"},
    };
    for (const auto& c : cases) {
        const Regex regex(c.pattern, c.options);
        EXPECT_TRUE(regex.isValid()) << c.pattern << ": " << regex.errorMessage();
        EXPECT_EQ(regex.replaceAll(c.input, c.replacementTemplate), c.expected)
            << "pattern " << c.pattern << " on " << c.input;
    }
}

TEST(Regex, BrokenPatternOrTemplateLeavesTheTextUnchanged) {
    const Regex broken("(unclosed");
    EXPECT_FALSE(broken.isValid());
    EXPECT_FALSE(broken.errorMessage().empty());
    EXPECT_EQ(broken.replaceAll("(unclosed text", "x"), "(unclosed text");
    EXPECT_FALSE(broken.firstMatch("(unclosed").has_value());
    EXPECT_TRUE(broken.allMatches("(unclosed").empty());
    EXPECT_FALSE(broken.hasMatch("(unclosed"));

    const Regex valid("(a)(b)");
    EXPECT_TRUE(valid.errorMessage().empty());
    EXPECT_EQ(valid.replaceAll("ab ab", "$3"), "ab ab") << "a template naming a missing group skips the rule";
}

TEST(Regex, LiteralReplacementInsertsTemplateCharactersAsWritten) {
    const Regex regex("alias");
    EXPECT_EQ(regex.replaceAllLiteral("alias と alias", "$1\\$"), "$1\\$ と $1\\$");
    EXPECT_EQ(regex.replaceAll("alias", Regex::escapedTemplate("C:\\$0")), "C:\\$0");
}

TEST(Regex, EscapedPatternMatchesEveryASCIISymbolLiterally) {
    std::string symbols;
    for (char c = 0x21; c < 0x7f; ++c) symbols += c;
    const std::string literals[] = {symbols, "Core ML", "C++ (beta) [1.0]", "ペロラ・ボイス", "a|b", "\\Q\\E"};
    for (const auto& literal : literals) {
        const Regex regex(Regex::escapedPattern(literal));
        ASSERT_TRUE(regex.isValid()) << literal << ": " << regex.errorMessage();
        EXPECT_TRUE(regex.matchesEntirely(literal)) << literal;
        EXPECT_FALSE(regex.matchesEntirely(literal + "x")) << literal;
    }
}

TEST(Regex, MatchesReportGroupsWithUTF8AndUTF16Ranges) {
    // 😀 is 4 bytes and 2 UTF-16 units; each kanji 3 bytes and 1 unit.
    const Regex regex("(日本)(語)?(x)?");
    const std::string text = "😀日本語と日本";
    const auto first = regex.firstMatch(text);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->text(), "日本語");
    EXPECT_EQ(first->utf8Range(), (TextRange{4, 13}));
    EXPECT_EQ(first->utf16Range(), (TextRange{2, 5}));
    EXPECT_EQ((*first)[1].text, "日本");
    EXPECT_EQ((*first)[2].utf8, (TextRange{10, 13}));
    EXPECT_TRUE((*first)[2].matched);
    EXPECT_FALSE((*first)[3].matched);
    EXPECT_EQ(text.substr(first->utf8Range().begin, first->utf8Range().length()), "日本語");

    const auto all = regex.allMatches(text);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1].text(), "日本");
    EXPECT_EQ(all[1].utf8Range(), (TextRange{16, 22}));
    EXPECT_EQ(all[1].utf16Range(), (TextRange{6, 8}));
    EXPECT_FALSE(all[1][2].matched);
    EXPECT_FALSE(regex.firstMatch("にほん").has_value());
    EXPECT_TRUE(regex.allMatches("").empty());
}

TEST(Regex, RangesIndexTheBytesOfTextThatIsNotValidUTF8) {
    // Each bad sequence is one U+FFFD to the pattern, but the byte ranges stay those of
    // the input, so cutting the input at them never lands inside a neighbour.
    struct Case {
        std::string text;
        std::vector<TextRange> utf8;
        std::vector<TextRange> utf16;
    };
    const Case cases[] = {
        {"今日は\xFF\xFEです三", {{17, 20}}, {{7, 8}}},
        {"\xED\xA0\x80三まる三", {{3, 6}, {12, 15}}, {{3, 4}, {6, 7}}},
        {"\xC0\xAF三\x8C三", {{2, 5}, {6, 9}}, {{2, 3}, {4, 5}}},
        {"\xF0\x9F\x98三😀三", {{3, 6}, {10, 13}}, {{1, 2}, {4, 5}}},  // a cut-short 4-byte sequence
    };
    const Regex kanjiThree("三");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<TextRange> utf8;
        std::vector<TextRange> utf16;
        for (const RegexMatch& match : kanjiThree.allMatches(c.text)) {
            utf8.push_back(match.utf8Range());
            utf16.push_back(match.utf16Range());
            EXPECT_EQ(c.text.substr(match.utf8Range().begin, match.utf8Range().length()), "三");
        }
        EXPECT_EQ(utf8, c.utf8);
        EXPECT_EQ(utf16, c.utf16);
        const auto first = kanjiThree.firstMatch(c.text);
        ASSERT_TRUE(first.has_value());
        EXPECT_EQ(first->utf8Range(), c.utf8.front());
    }
    // Replacements read the text as its repaired copy.
    EXPECT_EQ(kanjiThree.replaceAll("\xFF三\xE6\x97", "3"), "\uFFFD3\uFFFD");
}

TEST(Regex, WordBoundariesAndWholeTextMatching) {
    const Regex term("\\b[A-Za-z][A-Za-z0-9_.\\-+]{2,34}\\b");
    std::vector<std::string> found;
    for (const auto& m : term.allMatches("README.md を Xcode で 2fa ab")) found.push_back(m.text());
    EXPECT_EQ(found, (std::vector<std::string>{"README.md", "Xcode"}));
    EXPECT_TRUE(Regex("[0-9]+").matchesEntirely("2025"));
    EXPECT_FALSE(Regex("[0-9]+").matchesEntirely("2025年"));
    EXPECT_TRUE(Regex("[0-9]+").hasMatch("2025年"));
}

TEST(Regex, OneSharedPatternServesManyThreadsAtOnce) {
    static const Regex rule("([一-龠]+)が変換が(ミス)");
    std::vector<std::thread> threads;
    std::vector<int> wrong(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &wrong] {
            const std::string input = std::string(static_cast<std::size_t>(t + 1), 'a') + "音声が変換がミス";
            const std::string expected = std::string(static_cast<std::size_t>(t + 1), 'a') + "音声の変換がミス";
            for (int i = 0; i < 300; ++i) {
                if (rule.replaceAll(input, "$1の変換が$2") != expected) ++wrong[static_cast<std::size_t>(t)];
                if (rule.allMatches(input).size() != 1) ++wrong[static_cast<std::size_t>(t)];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < 8; ++t) EXPECT_EQ(wrong[static_cast<std::size_t>(t)], 0) << "thread " << t;
}

}  // namespace
}  // namespace pelora::text
