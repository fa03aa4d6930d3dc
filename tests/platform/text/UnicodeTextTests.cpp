#include "platform/text/UnicodeText.h"

#include <gtest/gtest.h>

#include <string>

namespace pelora::text {
namespace {

TEST(UnicodeText, CountsUserPerceivedCharactersAndUTF16Units) {
    struct Case {
        const char* text;
        std::size_t graphemes;
        std::size_t utf16;
        std::size_t firstGraphemeBytes;
    };
    const Case cases[] = {
        {"", 0, 0, 0},
        {"今日は", 3, 3, 3},
        {"𠮷野家", 3, 4, 4},                              // a kanji outside the BMP
        {"か\u3099き", 2, 3, 6},                          // が written with a combining mark
        {"👨\u200D👩\u200D👧x", 2, 9, 18},                // one family emoji
        {"🇯🇵🇺🇸", 2, 8, 8},                              // two flags
        {"e\u0301", 1, 2, 3},
        {"\r\n", 1, 2, 2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(graphemeCount(c.text), c.graphemes) << c.text;
        EXPECT_EQ(graphemes(c.text).size(), c.graphemes) << c.text;
        EXPECT_EQ(utf16Length(c.text), c.utf16) << c.text;
        EXPECT_EQ(firstGraphemeLength(c.text), c.firstGraphemeBytes) << c.text;
    }
    EXPECT_EQ(graphemes("か\u3099き"), (std::vector<std::string>{"か\u3099", "き"}));
}

TEST(UnicodeText, TrimsRemoveOnlyTheirOwnCharactersAtTheEnds) {
    struct Case {
        const char* name;
        std::string (*trim)(std::string_view);
        const char* input;
        const char* expected;
    };
    const Case cases[] = {
        {"spaces", trimSpaces, "  a b  ", "a b"},
        {"spaces", trimSpaces, " \ta\u3000 ", "\ta\u3000"},
        {"spaces", trimSpaces, "   ", ""},
        {"spaces", trimSpaces, "", ""},
        {"white", trimWhitespaceAndNewlines, "\u3000 \t日本 語\n\r\u0085\u2028", "日本 語"},
        {"white", trimWhitespaceAndNewlines, " \n ", ""},
        {"white", trimWhitespaceAndNewlines, "\u200Bx\u200B", "\u200Bx\u200B"},  // zero-width space is no white space
    };
    for (const auto& c : cases) EXPECT_EQ(c.trim(c.input), c.expected) << c.name << ": [" << c.input << "]";
    EXPECT_EQ(trimScalars("。、 今日は、晴れ。\n", U" \t。、，．.!?\n"), "今日は、晴れ");
    EXPECT_EQ(trimScalars("改行", U"。"), "改行");
}

TEST(UnicodeText, LiteralReplacementsHaveNoFoldingButCaseInsensitiveOnesFoldCase) {
    struct Case {
        const char* text;
        const char* target;
        const char* replacement;
        const char* literal;
        const char* caseInsensitive;
    };
    const Case cases[] = {
        {"あああ", "ああ", "X", "Xあ", "Xあ"},                         // left to right, no overlap
        {"Core ML と CORE ML", "core ml", "Core ML", "Core ML と CORE ML", "Core ML と Core ML"},
        {"ＡＢＣ と ABC", "ABC", "x", "ＡＢＣ と x", "ＡＢＣ と x"},     // no width folding
        {"C++ と c++", "C++", "$1\\", "$1\\ と c++", "$1\\ と $1\\"},    // no pattern or template syntax
        {"abc", "", "x", "abc", "abc"},
        {"が", "か", "x", "が", "が"},                                 // precomposed が holds no か
        {"STRASSE", "straße", "x", "STRASSE", "x"},                      // full case folding
    };
    for (const auto& c : cases) {
        EXPECT_EQ(replaceAllLiteral(c.text, c.target, c.replacement), c.literal) << c.text << " / " << c.target;
        EXPECT_EQ(replaceAllCaseInsensitive(c.text, c.target, c.replacement), c.caseInsensitive)
            << c.text << " / " << c.target;
    }
    EXPECT_TRUE(containsCaseInsensitive("Googleコラボ", "googleコラボ"));
    EXPECT_FALSE(containsCaseInsensitive("Google", ""));
    EXPECT_FALSE(containsCaseInsensitive("コラボ", "こらぼ"));
}

TEST(UnicodeText, CharacterClassesFollowTheScriptProperty) {
    struct Case {
        char32_t c;
        bool han, hiragana, katakana, latin, katakanaBlock, asciiAlnum, white;
    };
    const Case cases[] = {
        {U'漢', true, false, false, false, false, false, false},
        {U'々', true, false, false, false, false, false, false},
        {U'𠮷', true, false, false, false, false, false, false},
        {U'ひ', false, true, false, false, false, false, false},
        {U'カ', false, false, true, false, true, false, false},
        {U'ｶ', false, false, true, false, false, false, false},
        {U'ー', false, false, false, false, true, false, false},
        {U'・', false, false, false, false, true, false, false},
        {U'A', false, false, false, true, false, true, false},
        {U'７', false, false, false, false, false, false, false},
        {U'Ａ', false, false, false, true, false, false, false},
        {U'é', false, false, false, true, false, false, false},
        {U'\u3000', false, false, false, false, false, false, true},
        {U'\n', false, false, false, false, false, false, true},
    };
    for (const auto& c : cases) {
        const std::string shown = fromScalars(std::u32string(1, c.c));
        EXPECT_EQ(isHan(c.c), c.han) << shown;
        EXPECT_EQ(isHiragana(c.c), c.hiragana) << shown;
        EXPECT_EQ(isKatakana(c.c), c.katakana) << shown;
        EXPECT_EQ(isLatin(c.c), c.latin) << shown;
        EXPECT_EQ(isJapaneseScript(c.c), c.han || c.hiragana || c.katakana) << shown;
        EXPECT_EQ(isInKatakanaBlock(c.c), c.katakanaBlock) << shown;
        EXPECT_EQ(isASCIIAlphanumeric(c.c), c.asciiAlnum) << shown;
        EXPECT_EQ(isWhitespaceOrNewline(c.c), c.white) << shown;
    }
}

TEST(UnicodeText, ScalarsRoundTripAndBadBytesBecomeReplacementCharacters) {
    EXPECT_EQ(toScalars("a𠮷ー"), (std::u32string{U'a', U'𠮷', U'ー'}));
    EXPECT_EQ(fromScalars(toScalars("a𠮷ー")), "a𠮷ー");
    EXPECT_EQ(toScalars("a\xff"), (std::u32string{U'a', U'\uFFFD'}));
}

TEST(UnicodeText, RecognisesWellFormedUTF8) {
    struct Case {
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        {"", true},
        {"sk-日本😀", true},
        {std::string("a\0b", 3), true},
        {"\xff", false},
        {"\xc0\xaf", false},      // overlong "/"
        {"\xed\xa0\x80", false},  // an encoded surrogate
        {"\xe6\x97", false},      // cut short
    };
    for (const auto& c : cases) EXPECT_EQ(isValidUTF8(c.bytes), c.valid) << "[" << c.bytes << "]";
}

TEST(UnicodeText, RepairReplacesEachBadSequenceByOneReplacementCharacter) {
    struct Case {
        std::string bytes;
        std::string repaired;
    };
    const Case cases[] = {
        {"", ""},
        {"日本😀", "日本😀"},
        {"今日は\xFF\xFEです", "今日は\uFFFD\uFFFDです"},
        {"\xED\xA0\x80まる", "\uFFFD\uFFFD\uFFFDまる"},  // an encoded surrogate: three bad bytes
        {"\xC0\xAF二", "\uFFFD\uFFFD二"},                  // overlong "/"
        {"\x8C三", "\uFFFD三"},                              // a stray continuation byte
        {"あ\xE6\x97", "あ\uFFFD"},                         // cut short: one sequence
        {"\xF0\x9F\x98あ", "\uFFFDあ"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        const std::string repaired = repairedUTF8(c.bytes);
        EXPECT_EQ(repaired, c.repaired);
        EXPECT_TRUE(isValidUTF8(repaired));
        EXPECT_EQ(toScalars(c.bytes), toScalars(repaired));
    }
}

TEST(UnicodeText, CaseAndNormalisation) {
    EXPECT_TRUE(canonicallyEqual("が", "か\u3099"));
    EXPECT_FALSE(canonicallyEqual("が", "か"));
    EXPECT_EQ(toLower("README.Md"), "readme.md");
    EXPECT_EQ(toUpper("straße"), "STRASSE");
    EXPECT_EQ(foldCase("Straße"), "strasse");
}

}  // namespace
}  // namespace pelora::text
