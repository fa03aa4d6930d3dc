#include "platform/text/UnicodeText.h"

#include <memory>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace pelora::text {

namespace {

icu::UnicodeString fromUTF8(std::string_view s) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
}

std::string toUTF8(const icu::UnicodeString& u) {
    std::string out;
    u.toUTF8String(out);
    return out;
}

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

std::size_t utf16Length(std::string_view s) { return static_cast<std::size_t>(fromUTF8(s).length()); }

std::string trimWhitespaceAndNewlines(std::string_view s) {
    icu::UnicodeString u = fromUTF8(s);
    int32_t begin = 0;
    int32_t end = u.length();
    while (begin < end && u_isUWhiteSpace(u.char32At(begin))) begin = u.moveIndex32(begin, 1);
    while (end > begin) {
        int32_t prev = u.moveIndex32(end, -1);
        if (!u_isUWhiteSpace(u.char32At(prev))) break;
        end = prev;
    }
    return toUTF8(u.tempSubString(begin, end - begin));
}

}  // namespace pelora::text
