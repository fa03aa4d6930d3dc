// Kanji numerals written as Arabic digits (二十三人 → 23人, 三点五 → 3.5) while fixed
// expressions that merely contain numeral kanji (一般, 十分, 万が一) stay as they are.

#include <array>
#include <string>
#include <string_view>
#include <utility>

#include "engine/japanese/JapaneseInputProcessor.h"
#include "engine/japanese/JapaneseTextLines.h"
#include "platform/text/Regex.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {

using text::Regex;

constexpr std::array<std::pair<char32_t, int>, 11> kanjiDigitValues{{
    {U'〇', 0}, {U'零', 0}, {U'一', 1}, {U'二', 2}, {U'三', 3}, {U'四', 4},
    {U'五', 5}, {U'六', 6}, {U'七', 7}, {U'八', 8}, {U'九', 9},
}};
constexpr std::array<std::pair<char32_t, std::int64_t>, 3> kanjiSmallUnitValues{{{U'十', 10}, {U'百', 100}, {U'千', 1000}}};
constexpr std::array<std::pair<char32_t, std::int64_t>, 2> kanjiLargeUnitValues{{{U'万', 10000}, {U'億', 100000000}}};

// Longer forms come before the shorter ones they contain.
constexpr std::array<std::string_view, 23> protectedNumberIdioms{
    "一つひとつ", "一つ一つ", "一人ひとり", "一人一人", "一石二鳥", "一般的", "一般", "一旦",
    "一緒", "一番", "一概に", "一斉に", "一通り", "一気呵成", "一気に", "万が一",
    "万一", "十分", "十二分", "四苦八苦", "試行錯誤", "千差万別", "唯一",
};

constexpr std::string_view kanjiCounterUnitsPattern =
    "(?:年|月|日|時|分|秒|ミリ秒|回|件|個|人|名|つ|歳|才|円|ドル|パーセント|%|倍|章|節|番|号|階|ページ|行|文字|語|フレーム|サンプル|ビット|バイト)";

template <typename Table>
auto lookup(const Table& table, char32_t c) -> std::optional<decltype(table[0].second)> {
    for (const auto& [kanji, value] : table) {
        if (kanji == c) return value;
    }
    return std::nullopt;
}

bool isKanjiDigit(char32_t c) { return lookup(kanjiDigitValues, c).has_value(); }

bool allKanjiDigits(const std::u32string& scalars) {
    for (const char32_t c : scalars) {
        if (!isKanjiDigit(c)) return false;
    }
    return true;
}

// Each digit kanji by its digit; characters without a value are dropped.
std::string digitsOneByOne(const std::u32string& scalars) {
    std::string digits;
    for (const char32_t c : scalars) {
        if (const auto digit = lookup(kanjiDigitValues, c)) digits += static_cast<char>('0' + *digit);
    }
    return digits;
}

bool addChecked(std::int64_t& into, std::int64_t value) { return !__builtin_add_overflow(into, value, &into); }
bool mulChecked(std::int64_t& into, std::int64_t value) { return !__builtin_mul_overflow(into, value, &into); }

std::string placeholder(std::size_t index) { return "\uE000IDIOM_" + std::to_string(index) + "\uE001"; }

// Replaces each match by `rewrite(match)`, or leaves it when that gives no value.
template <typename Rewrite>
std::string rewriteMatches(const Regex& pattern, const std::string& text, Rewrite rewrite) {
    const auto matches = pattern.allMatches(text);
    if (matches.empty()) return text;
    std::string out;
    std::size_t from = 0;
    for (const text::RegexMatch& match : matches) {
        const text::TextRange range = match.utf8Range();
        out.append(text, from, range.begin - from);
        const std::optional<std::string> replacement = rewrite(match);
        out += replacement ? *replacement : match.text();
        from = range.end;
    }
    out.append(text, from);
    return out;
}

bool isDecimalWholeKanji(char32_t c) {
    return isKanjiDigit(c) || lookup(kanjiSmallUnitValues, c).has_value();
}

// Rewrites every "whole点fraction" (whole: 〇零一二三四五六七八九十百千, fraction: the
// digit kanji), exactly as a left-to-right search for
// "([〇零一二三四五六七八九十百千]+)点([〇零一二三四五六七八九]+)" finds them, in one pass.
// A regular expression would try that pattern from every kanji of a long run without a
// 点 and read the rest of the run each time. Here a run of whole kanji either ends in
// 点 and a digit kanji, and then the match starts where the run (or the search) does, or
// no match starts inside it at all.
std::string rewriteDecimals(const std::string& text) {
    static constexpr char32_t point = U'点';
    const std::u32string scalars = text::toScalars(text);
    const std::size_t n = scalars.size();
    std::u32string out;
    out.reserve(n);
    bool changed = false;
    std::size_t at = 0;
    while (at < n) {
        if (!isDecimalWholeKanji(scalars[at])) {
            out += scalars[at++];
            continue;
        }
        std::size_t wholeEnd = at;
        while (wholeEnd < n && isDecimalWholeKanji(scalars[wholeEnd])) ++wholeEnd;
        if (wholeEnd + 1 >= n || scalars[wholeEnd] != point || !isKanjiDigit(scalars[wholeEnd + 1])) {
            out.append(scalars, at, wholeEnd - at);
            at = wholeEnd;
            continue;
        }
        std::size_t fractionEnd = wholeEnd + 1;
        while (fractionEnd < n && isKanjiDigit(scalars[fractionEnd])) ++fractionEnd;
        const std::u32string whole = scalars.substr(at, wholeEnd - at);
        const std::u32string fraction = scalars.substr(wholeEnd + 1, fractionEnd - wholeEnd - 1);
        const auto value = JapaneseInputProcessor::parseJapaneseKanjiNumber(text::fromScalars(whole));
        const std::string digits = digitsOneByOne(fraction);
        if (value && !digits.empty()) {
            const std::string written = std::to_string(*value) + "." + digits;
            out.append(written.begin(), written.end());  // ASCII: one scalar per byte
            changed = true;
        } else {
            out.append(scalars, at, fractionEnd - at);
        }
        at = fractionEnd;
    }
    return changed ? text::fromScalars(out) : text;
}

}  // namespace

std::optional<std::int64_t> JapaneseInputProcessor::parseJapaneseKanjiNumber(std::string_view textValue) {
    if (textValue.empty()) return std::nullopt;
    const std::u32string scalars = text::toScalars(textValue);

    if (allKanjiDigits(scalars)) {
        std::int64_t value = 0;
        for (const char32_t c : scalars) {
            if (!mulChecked(value, 10) || !addChecked(value, *lookup(kanjiDigitValues, c))) return std::nullopt;
        }
        return value;
    }

    std::int64_t total = 0;
    std::int64_t section = 0;
    std::int64_t current = 0;
    for (const char32_t c : scalars) {
        if (const auto digit = lookup(kanjiDigitValues, c)) {
            if (!mulChecked(current, 10) || !addChecked(current, *digit)) return std::nullopt;
        } else if (const auto unit = lookup(kanjiSmallUnitValues, c)) {
            std::int64_t part = current;
            if (current == 0) {
                part = *unit;
            } else if (!mulChecked(part, *unit)) {
                return std::nullopt;
            }
            if (!addChecked(section, part)) return std::nullopt;
            current = 0;
        } else if (const auto largeUnit = lookup(kanjiLargeUnitValues, c)) {
            std::int64_t n = section;
            if (!addChecked(n, current)) return std::nullopt;
            if (n == 0) {
                n = *largeUnit;
            } else if (!mulChecked(n, *largeUnit)) {
                return std::nullopt;
            }
            if (!addChecked(total, n)) return std::nullopt;
            section = 0;
            current = 0;
        } else {
            return std::nullopt;
        }
    }
    if (!addChecked(total, section) || !addChecked(total, current)) return std::nullopt;
    return total;
}

std::string JapaneseInputProcessor::normalizeKanjiNumbers(std::string_view input) {
    // A run right after a digit is the unit part of a mixed number (3万円, 2.5億, 30万人): reading it
    // alone would corrupt the amount (3万円 would become 310000円), so it stays as it is.
    // (A run is only ever matched from its first kanji, so the guard never splits a run.)
    static const Regex countedNumerals("(?<![\\d〇零一二三四五六七八九十百千万億])([〇零一二三四五六七八九十百千万億]+)(?=" +
                                      std::string(kanjiCounterUnitsPattern) +
                                      ")|(?<![\\d〇零一二三四五六七八九十百千万億])([〇零一二三四五六七八九十百千万億]{2,})");
    // No digit before the number: the leftmost match never has one (its digits would
    // belong to the match), and without the guard a long digit run with no パーセント after
    // it is read to its end again from each of its digits.
    static const Regex percent(R"((?<!\d)(\d+(?:\.\d+)?)\s*パーセント)");

    std::string out = text::repairedUTF8(input);
    std::vector<std::pair<std::string, std::string_view>> hidden;
    for (std::size_t i = 0; i < protectedNumberIdioms.size(); ++i) {
        const std::string_view idiom = protectedNumberIdioms[i];
        if (!japanese_text::contains(out, idiom)) continue;
        hidden.emplace_back(placeholder(i), idiom);
        out = text::replaceAllLiteral(out, idiom, hidden.back().first);
    }

    out = rewriteDecimals(out);

    out = rewriteMatches(countedNumerals, out, [](const text::RegexMatch& match) -> std::optional<std::string> {
        if (const auto value = parseJapaneseKanjiNumber(match.text())) return std::to_string(*value);
        // An over-long digit string (it overflowed) is still written digit by digit.
        const std::u32string scalars = text::toScalars(match.text());
        if (allKanjiDigits(scalars)) return digitsOneByOne(scalars);
        return std::nullopt;
    });

    if (japanese_text::contains(out, "パーセント")) out = percent.replaceAll(out, "$1%");

    for (const auto& [mark, idiom] : hidden) out = text::replaceAllLiteral(out, mark, idiom);
    return out;
}

}  // namespace pelora
