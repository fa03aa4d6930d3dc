#include "platform/text/UnicodeText.h"

#include <memory>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/utf8.h>

#include "platform/text/Regex.h"
#include "platform/text/internal/IcuString.h"

namespace pelora::text {

namespace {

using internal::fromUTF8;
using internal::toUTF8;

const icu::Normalizer2& nfc() {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFCInstance(status);
    return *normalizer;  // ICU's built-in NFC data is always present
}

std::unique_ptr<icu::BreakIterator> characterIterator() {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    return U_SUCCESS(status) ? std::move(it) : nullptr;
}

}  // namespace

std::string toNFC(std::string_view s) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString out = nfc().normalize(fromUTF8(s), status);
    return U_SUCCESS(status) ? toUTF8(out) : std::string(s);
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
    if (a == b) return true;
    return toNFC(a) == toNFC(b);
}

std::string toUpper(std::string_view s) {
    icu::UnicodeString u = fromUTF8(s);
    u.toUpper(icu::Locale::getRoot());
    return toUTF8(u);
}

std::string toLower(std::string_view s) {
    icu::UnicodeString u = fromUTF8(s);
    u.toLower(icu::Locale::getRoot());
    return toUTF8(u);
}

std::string foldCase(std::string_view s) {
    icu::UnicodeString u = fromUTF8(s);
    u.foldCase();
    return toUTF8(u);
}

std::size_t graphemeCount(std::string_view s) {
    if (s.empty()) return 0;
    icu::UnicodeString u = fromUTF8(s);
    auto it = characterIterator();
    if (!it) return static_cast<std::size_t>(u.countChar32());
    it->setText(u);
    std::size_t count = 0;
    for (int32_t pos = it->next(); pos != icu::BreakIterator::DONE; pos = it->next()) ++count;
    return count;
}

std::size_t firstGraphemeLength(std::string_view s) {
    if (s.empty()) return 0;
    icu::UnicodeString u = fromUTF8(s);
    auto it = characterIterator();
    int32_t end = 0;
    if (it) {
        it->setText(u);
        end = it->next();
    }
    if (end <= 0) end = u.moveIndex32(0, 1);
    return toUTF8(u.tempSubString(0, end)).size();
}

std::vector<std::string> graphemes(std::string_view s) {
    std::vector<std::string> out;
    if (s.empty()) return out;
    icu::UnicodeString u = fromUTF8(s);
    auto it = characterIterator();
    if (!it) {
        for (int32_t i = 0; i < u.length(); i = u.moveIndex32(i, 1)) out.push_back(toUTF8(u.tempSubStringBetween(i, u.moveIndex32(i, 1))));
        return out;
    }
    it->setText(u);
    int32_t start = it->first();
    for (int32_t end = it->next(); end != icu::BreakIterator::DONE; start = end, end = it->next()) {
        out.push_back(toUTF8(u.tempSubStringBetween(start, end)));
    }
    return out;
}

std::size_t utf16Length(std::string_view s) { return static_cast<std::size_t>(fromUTF8(s).length()); }

bool isValidUTF8(std::string_view s) { return internal::isWellFormedUTF8(s); }

std::string repairedUTF8(std::string_view s) {
    if (internal::isWellFormedUTF8(s)) return std::string(s);
    std::string out;
    out.reserve(s.size() + 8);
    internal::forEachScalar(s, [&out](std::size_t, UChar32 c) {
        char bytes[U8_MAX_LENGTH];
        int32_t length = 0;
        U8_APPEND_UNSAFE(bytes, length, c);
        out.append(bytes, static_cast<std::size_t>(length));
    });
    return out;
}

std::u32string toScalars(std::string_view s) {
    icu::UnicodeString u = fromUTF8(s);
    std::u32string out;
    out.reserve(static_cast<std::size_t>(u.length()));
    for (int32_t i = 0; i < u.length(); i = u.moveIndex32(i, 1)) out.push_back(static_cast<char32_t>(u.char32At(i)));
    return out;
}

std::string fromScalars(std::u32string_view scalars) {
    icu::UnicodeString u;
    for (char32_t c : scalars) u.append(static_cast<UChar32>(c));
    return toUTF8(u);
}

namespace {

template <typename Predicate>
std::string trimWhere(std::string_view s, Predicate drop) {
    const std::u32string scalars = toScalars(s);
    std::size_t begin = 0;
    std::size_t end = scalars.size();
    while (begin < end && drop(scalars[begin])) ++begin;
    while (end > begin && drop(scalars[end - 1])) --end;
    if (begin == 0 && end == scalars.size()) return std::string(s);
    return fromScalars(std::u32string_view(scalars).substr(begin, end - begin));
}

}  // namespace

std::string trimSpaces(std::string_view s) {
    // U+0020 is one byte and never part of a longer UTF-8 sequence.
    const std::size_t begin = s.find_first_not_of(' ');
    if (begin == std::string_view::npos) return {};
    return std::string(s.substr(begin, s.find_last_not_of(' ') - begin + 1));
}

std::string trimWhitespaceAndNewlines(std::string_view s) { return trimWhere(s, isWhitespaceOrNewline); }

std::string trimScalars(std::string_view s, std::u32string_view set) {
    return trimWhere(s, [set](char32_t c) { return set.find(c) != std::u32string_view::npos; });
}

std::string replaceAllLiteral(std::string_view text, std::string_view target, std::string_view replacement) {
    // Byte search is exact here: a UTF-8 sequence never starts inside another one.
    std::string out;
    if (target.empty()) return std::string(text);
    std::size_t from = 0;
    for (std::size_t at = text.find(target); at != std::string_view::npos; at = text.find(target, from)) {
        out.append(text.substr(from, at - from));
        out.append(replacement);
        from = at + target.size();
    }
    if (from == 0) return std::string(text);
    out.append(text.substr(from));
    return out;
}

std::string replaceAllCaseInsensitive(std::string_view text, std::string_view target, std::string_view replacement) {
    if (target.empty()) return std::string(text);
    const Regex literal(std::string(target), RegexOptions::ignoreMetacharacters | RegexOptions::caseInsensitive);
    return literal.replaceAllLiteral(text, replacement);
}

bool containsCaseInsensitive(std::string_view text, std::string_view target) {
    if (target.empty()) return false;
    const Regex literal(std::string(target), RegexOptions::ignoreMetacharacters | RegexOptions::caseInsensitive);
    return literal.hasMatch(text);
}

namespace {

bool hasScript(char32_t c, UScriptCode script) {
    UErrorCode status = U_ZERO_ERROR;
    return uscript_getScript(static_cast<UChar32>(c), &status) == script && U_SUCCESS(status);
}

}  // namespace

bool isHan(char32_t c) { return hasScript(c, USCRIPT_HAN); }
bool isHiragana(char32_t c) { return hasScript(c, USCRIPT_HIRAGANA); }
bool isKatakana(char32_t c) { return hasScript(c, USCRIPT_KATAKANA); }
bool isLatin(char32_t c) { return hasScript(c, USCRIPT_LATIN); }
bool isJapaneseScript(char32_t c) { return isHan(c) || isHiragana(c) || isKatakana(c); }
bool isInKatakanaBlock(char32_t c) { return c >= 0x30A0 && c <= 0x30FF; }
bool isASCIIAlphanumeric(char32_t c) {
    return (c >= U'0' && c <= U'9') || (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z');
}
bool isWhitespaceOrNewline(char32_t c) { return u_isUWhiteSpace(static_cast<UChar32>(c)); }

}  // namespace pelora::text
