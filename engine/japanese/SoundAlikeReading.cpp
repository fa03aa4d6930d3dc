#include "engine/japanese/SoundAlikeReading.h"

#include <algorithm>
#include <array>
#include <limits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/reading/JapaneseReading.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {

bool isKana(char32_t c) { return c >= 0x3040 && c <= 0x30FF; }
bool isCJKIdeograph(char32_t c) { return c >= 0x4E00 && c <= 0x9FFF; }

// Characters whose sound the dictionary knows and plain kana folding does not: ideographs
// (both CJK blocks and the compatibility block) and the iteration mark 々.
bool needsDictionaryReading(char32_t c) {
    return (c >= 0x3400 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) || c == U'々' || c == U'〆';
}

bool anyNeedsDictionaryReading(std::string_view text) {
    const std::u32string scalars = text::toScalars(text);
    return std::any_of(scalars.begin(), scalars.end(), needsDictionaryReading);
}

bool isASCII(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

void replaceAll(std::string& text, std::string_view target, std::string_view replacement) {
    std::size_t position = 0;
    while ((position = text.find(target, position)) != std::string::npos) {
        text.replace(position, target.size(), replacement);
        position += replacement.size();
    }
}

bool isVowel(char32_t c) { return c == 'a' || c == 'i' || c == 'u' || c == 'e' || c == 'o'; }

double gapCost(char32_t c) {
    switch (c) {
        case 'u':
        case 'o': return 0.22;
        case 'i':
        case 'e':
        case 'a': return 0.42;
        case 'n':
        case 'r': return 0.55;
        default: return 1.0;
    }
}

double substitutionCost(char32_t a, char32_t b) {
    if (a == b) return 0;
    if (isVowel(a) && isVowel(b)) return 0.32;
    static constexpr std::array<std::pair<char32_t, char32_t>, 22> kNearPairs = {{
        {'k', 'g'}, {'g', 'k'}, {'t', 'd'}, {'d', 't'}, {'s', 'z'}, {'z', 's'}, {'h', 'b'}, {'b', 'h'},
        {'b', 'p'}, {'p', 'b'}, {'h', 'p'}, {'p', 'h'}, {'j', 'y'}, {'y', 'j'}, {'t', 's'}, {'s', 't'},
        {'d', 'j'}, {'j', 'd'}, {'w', 'y'}, {'y', 'w'}, {'w', 'u'}, {'u', 'w'},
    }};
    for (const auto& [x, y] : kNearPairs) {
        if (a == x && b == y) return 0.3;
    }
    return 1.0;
}

int soundGroup(char32_t c, bool vowelsAsGroup) {
    switch (c) {
        case 'k':
        case 'g': return 1;
        case 's':
        case 'z':
        case 'j': return 2;
        case 't':
        case 'd': return 3;
        case 'h':
        case 'b':
        case 'p':
        case 'f': return 4;
        case 'r':
        case 'l': return 5;
        case 'm':
        case 'n': return vowelsAsGroup ? 0 : 6;
        case 'a':
        case 'e':
        case 'i':
        case 'o':
        case 'u':
        case 'w':
        case 'y': return vowelsAsGroup ? 7 : 0;
        default: return 0;
    }
}

// The same strings (vocabulary forms, recurring spans) are read on every call, and a
// reading is a pure function of its text; each thread remembers the recent ones, so no
// lock is shared. The memo is bounded and simply starts over when full.
constexpr std::size_t kMemoCapacity = 4096;
enum MemoKind { kHiraganaMemo, kReadingMemo, kMemoKinds };

template <class Compute>
std::string memoized(MemoKind kind, std::string_view text, Compute compute) {
    thread_local std::array<std::unordered_map<std::string, std::string>, kMemoKinds> memo;
    auto& entries = memo[kind];
    std::string key(text);
    if (const auto found = entries.find(key); found != entries.end()) return found->second;
    if (entries.size() >= kMemoCapacity) entries.clear();
    return entries.emplace(std::move(key), compute()).first->second;
}

}  // namespace

std::size_t SoundAlikeReading::scalarCount(std::string_view text) { return text::toScalars(text).size(); }

std::string SoundAlikeReading::foldKatakanaToHiragana(std::string_view text) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 12> kVuFolds = {{
        {"ヴァ", "バ"}, {"ヴィ", "ビ"}, {"ヴェ", "ベ"}, {"ヴォ", "ボ"}, {"ヴュ", "ビュ"}, {"ヴ", "ブ"},
        {"ゔぁ", "ば"}, {"ゔぃ", "び"}, {"ゔぇ", "べ"}, {"ゔぉ", "ぼ"}, {"ゔゅ", "びゅ"}, {"ゔ", "ぶ"},
    }};
    std::string folded(text);
    for (const auto& [from, to] : kVuFolds) {
        if (folded.find(from) != std::string::npos) replaceAll(folded, from, to);
    }
    std::u32string scalars = text::toScalars(folded);
    for (char32_t& c : scalars) {
        if (c >= 0x30A1 && c <= 0x30F6) c -= 0x60;
    }
    return text::fromScalars(scalars);
}

bool SoundAlikeReading::containsJapaneseScript(std::string_view text) {
    const std::u32string scalars = text::toScalars(text);
    return std::any_of(scalars.begin(), scalars.end(), [](char32_t c) { return isKana(c) || isCJKIdeograph(c); });
}

std::size_t SoundAlikeReading::katakanaLetterCount(std::string_view text) {
    const std::u32string scalars = text::toScalars(text);
    return static_cast<std::size_t>(
        std::count_if(scalars.begin(), scalars.end(), [](char32_t c) { return c >= 0x30A1 && c <= 0x30FA; }));
}

std::string SoundAlikeReading::hiragana(std::string_view text) {
    return memoized(kHiraganaMemo, text, [text] {
        const std::string trimmed = text::trimWhitespaceAndNewlines(text);
        std::string folded;
        const reading::JapaneseTokenizer* tokenizer = nullptr;
        // Kana, Latin and digits fold the same with or without the tokeniser; only text with
        // ideographs needs the dictionary.
        if (anyNeedsDictionaryReading(trimmed)) tokenizer = reading::JapaneseTokenizer::shared();
        if (tokenizer == nullptr) {
            folded = foldKatakanaToHiragana(trimmed);
        } else {
            for (const reading::ReadingToken& token : tokenizer->tokenize(trimmed)) {
                const bool useReading = !token.reading.empty() && anyNeedsDictionaryReading(token.text);
                folded += foldKatakanaToHiragana(useReading ? token.reading : token.text);
            }
        }
        replaceAll(folded, " ", "");
        replaceAll(folded, "\u3000", "");
        return folded;
    });
}

std::string SoundAlikeReading::reading(std::string_view text) {
    return memoized(kReadingMemo, text, [text] {
        const std::string trimmed = text::trimWhitespaceAndNewlines(text);
        if (trimmed.empty()) return std::string();
        std::string latin = hiragana(trimmed);
        if (!isASCII(latin)) latin = reading::stripCombiningMarks(reading::hiraganaToLatin(latin));
        return normalizePhoneticLatin(latin);
    });
}

std::string SoundAlikeReading::normalizePhoneticLatin(std::string_view latin) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 22> kSpellings = {{
        {"ph", "f"}, {"ght", "t"}, {"tion", "shon"}, {"sion", "jon"}, {"ture", "cha"}, {"ck", "k"},
        {"qu", "k"}, {"wh", "w"},  {"wr", "r"},        {"kn", "n"},     {"ch", "ch"},    {"sh", "sh"},
        {"th", "s"}, {"ee", "i"},  {"ea", "i"},        {"oo", "u"},     {"ou", "au"},    {"ow", "o"},
        {"ai", "ei"}, {"ay", "ei"}, {"au", "o"},       {"aw", "o"},
    }};
    std::string s = isASCII(latin) ? std::string(latin) : text::toLower(latin);
    std::transform(s.begin(), s.end(), s.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; });
    for (const auto& [from, to] : kSpellings) {
        if (from != to && s.find(from) != std::string::npos) replaceAll(s, from, to);
    }

    std::u32string scalars = text::toScalars(s);
    const auto endsWith = [&](std::u32string_view suffix) {
        return scalars.size() >= suffix.size() &&
               std::u32string_view(scalars).substr(scalars.size() - suffix.size()) == suffix;
    };
    if (scalars.size() >= 4 && endsWith(U"e") && !endsWith(U"ee") && !endsWith(U"le")) scalars.pop_back();

    std::string out;
    const auto appendCollapsed = [&out](char c) {
        if (out.empty() || out.back() != c) out.push_back(c);
    };
    for (char32_t c : scalars) {
        if (c == 'l') c = 'r';
        else if (c == 'v') c = 'b';
        else if (c == 'c' || c == 'q') c = 'k';
        else if (c == 'x') {
            out.push_back('k');
            c = 's';
        }
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) appendCollapsed(static_cast<char>(c));
    }
    return out;
}

std::size_t SoundAlikeReading::levenshtein(std::string_view a, std::string_view b) {
    const std::u32string x = text::toScalars(a);
    const std::u32string y = text::toScalars(b);
    if (x.empty()) return y.size();
    if (y.empty()) return x.size();
    std::vector<std::size_t> row(y.size() + 1);
    for (std::size_t j = 0; j <= y.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= x.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= y.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (x[i - 1] == y[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[y.size()];
}

double SoundAlikeReading::weightedDistance(std::string_view a, std::string_view b) {
    const std::u32string x = text::toScalars(a);
    const std::u32string y = text::toScalars(b);
    if (x.empty()) return static_cast<double>(y.size());
    if (y.empty()) return static_cast<double>(x.size());
    // The first row charges every leading insertion 1.0, whatever the letter.
    std::vector<double> row(y.size() + 1);
    for (std::size_t j = 0; j <= y.size(); ++j) row[j] = static_cast<double>(j);
    for (std::size_t i = 1; i <= x.size(); ++i) {
        double diagonal = row[0];
        row[0] += gapCost(x[i - 1]);
        for (std::size_t j = 1; j <= y.size(); ++j) {
            const double above = row[j];
            row[j] = std::min({above + gapCost(x[i - 1]), row[j - 1] + gapCost(y[j - 1]),
                               diagonal + substitutionCost(x[i - 1], y[j - 1])});
            diagonal = above;
        }
    }
    return row[y.size()];
}

std::string SoundAlikeReading::consonantSkeleton(std::string_view phonetic) {
    std::u32string skeleton;
    for (char32_t c : text::toScalars(phonetic)) {
        if (c == 'a' || c == 'i' || c == 'u' || c == 'e' || c == 'o' || c == 'y' || c == 'w') continue;
        if (skeleton.empty() || skeleton.back() != c) skeleton.push_back(c);
    }
    return text::fromScalars(skeleton);
}

bool SoundAlikeReading::firstSoundGroupMatches(std::string_view a, std::string_view b) {
    if (a.empty() || b.empty()) return false;
    const char32_t x = text::toScalars(a).front();
    const char32_t y = text::toScalars(b).front();
    if (x == y) return true;
    const int group = soundGroup(x, true);
    return group != 0 && group == soundGroup(y, true);
}

bool SoundAlikeReading::sameConsonantGroup(char32_t a, char32_t b) {
    if (a == b) return true;
    const int group = soundGroup(a, false);
    return group != 0 && group == soundGroup(b, false);
}

bool SoundAlikeReading::isSkeletonNearMiss(std::string_view a, std::string_view b) {
    if (a == b) return true;
    const std::u32string x = text::toScalars(a);
    const std::u32string y = text::toScalars(b);
    if (std::min(x.size(), y.size()) < 5) return false;
    const std::size_t lengthGap = x.size() > y.size() ? x.size() - y.size() : y.size() - x.size();
    if (lengthGap > 1) return false;
    if (!sameConsonantGroup(x.front(), y.front()) || !sameConsonantGroup(x.back(), y.back())) return false;
    return levenshtein(a, b) < 2;
}

}  // namespace pelora
