#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "engine/japanese/JapaneseInputProcessor.h"

namespace pelora {
namespace {

std::string repeated(std::string_view s, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += s;
    return out;
}

TEST(KanjiNumeralConversionTest, ParseJapaneseKanjiNumber) {
    struct Case {
        std::string input;
        std::optional<std::int64_t> expected;
    };
    const Case cases[] = {
        {"", std::nullopt},
        {"三a", std::nullopt},
        {"千葉", std::nullopt},
        {"十", 10},
        {"万", 10000},
        {"〇", 0},
        {"二〇二五", 2025},
        {"一二三", 123},
        {"二十三", 23},
        {"百五", 105},
        {"千二百", 1200},
        {"三万五千", 35000},
        {"十万", 100000},
        {"二十一億", 2100000000},
        {"一億二千万", 120000000},
        {"九千九百九十九億九千九百九十九万九千九百九十九", 999999999999},
        {"九百二十二京", std::nullopt},
        // 19 nines fit a signed 64-bit value only as 18 digits; 20 overflow.
        {repeated("九", 18), 999999999999999999},
        {repeated("九", 20), std::nullopt},
        {repeated("九", 20) + "十", std::nullopt},
        {repeated("九", 18) + "万", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(JapaneseInputProcessor::parseJapaneseKanjiNumber(c.input), c.expected);
    }
}

TEST(KanjiNumeralConversionTest, NormalizeKanjiNumbers) {
    struct Case {
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        {"二十三人", "23人"},
        {"三点五パーセント", "3.5%"},
        {"十二点〇五秒", "12.05秒"},
        {"二十パーセント", "20%"},
        {"50 パーセント", "50%"},
        {"二〇二五年", "2025年"},
        {"千二百円", "1200円"},
        {"一億二千万", "120000000"},
        {"第三章", "第3章"},
        {"一回だけ", "1回だけ"},
        {"一つ", "1つ"},
        {repeated("九", 20), repeated("9", 20)},
        // Protected idioms.
        {"一般的に", "一般的に"},
        {"十分です", "十分です"},
        {"十分間", "十分間"},
        {"三十分", "三十分"},
        {"一つ一つ", "一つ一つ"},
        {"一人ひとりが一人で", "一人ひとりが1人で"},
        {"万が一の時", "万が一の時"},
        {"十二分に", "十二分に"},
        {"唯一の", "唯一の"},
        // A single numeral kanji without a counter stays; runs of two or more convert anywhere.
        {"一から始める", "一から始める"},
        {"千葉と九州", "千葉と九州"},
        {"五十嵐さん", "50嵐さん"},
        // A decimal ends where its fraction's digit kanji do; the numeral after it starts anew.
        {"三点五十二点三", "3.512.3"},
        {"三点五十人", "3.5十人"},
        {"十点", "十点"},
        {"点三", "点三"},
        {"二十三点五点六", "23.5点六"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(JapaneseInputProcessor::normalizeKanjiNumbers(c.input), c.expected);
    }
}

// Long runs are read once: the result is what the rules give, however long the run.
TEST(KanjiNumeralConversionTest, LongRunsOfNumerals) {
    struct Case {
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        {repeated("一", 20000), repeated("1", 20000)},
        {repeated("一", 20000) + "パーセント", repeated("1", 20000) + "%"},
        {repeated("一", 20000) + "点", repeated("1", 20000) + "点"},
        // Too long for a value: the decimal is left, and each run is then written digit by digit.
        {repeated("一", 10000) + "点" + repeated("二", 10000), repeated("1", 10000) + "点" + repeated("2", 10000)},
        {repeated("二点五と", 5000), repeated("2.5と", 5000)},
        {repeated("三点五パーセント、", 2000), repeated("3.5%、", 2000)},
        {repeated("二十三人と", 4000), repeated("23人と", 4000)},
        {repeated("1", 20000) + "パーセント", repeated("1", 20000) + "%"},
        {repeated("1", 20000) + " 円", repeated("1", 20000) + " 円"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input.substr(0, 60));
        EXPECT_EQ(JapaneseInputProcessor::normalizeKanjiNumbers(c.input), c.expected);
    }
}

// Mixed numbers as recognisers often write them: the kanji unit after Arabic digits is
// not a number of its own (3万円 must not become 310000円).
TEST(KanjiNumeralConversionTest, KanjiUnitsAfterDigitsStay) {
    struct Case {
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        {"3万円", "3万円"},
        {"30万人", "30万人"},
        {"3万5千円", "3万5千円"},
        {"2.5億", "2.5億"},
        {"３百万円", "３百万円"},
        {"三点五万円", "3.5万円"},
        {"3万円と二十人", "3万円と20人"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(JapaneseInputProcessor::normalizeKanjiNumbers(c.input), c.expected);
    }
}

}  // namespace
}  // namespace pelora
