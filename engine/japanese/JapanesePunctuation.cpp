// Punctuation of the post-processor: full stops that break a sentence in the middle are
// repaired, commas thinned to the chosen density, missing commas and sentence ends added,
// and the marks finally written in the chosen style. Lines are handled one at a time, so
// line breaks are never added or removed.

#include "engine/japanese/JapanesePunctuation.h"

#include <array>
#include <vector>

#include "engine/japanese/JapaneseInputProcessor.h"
#include "engine/japanese/JapaneseTextLines.h"
#include "platform/text/GraphemeCount.h"
#include "platform/text/RegexRuleTable.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {

using japanese_text::contains;
using japanese_text::endsWithAny;
using text::Regex;
using text::RegexRule;
using text::RegexRuleTable;

constexpr std::string_view kIdeographicComma = "、";
constexpr std::string_view kIdeographicFullStop = "。";

std::size_t minimumCommaLineLength(JapanesePunctuationDensity density) {
    switch (density) {
    case JapanesePunctuationDensity::light: return 34;
    case JapanesePunctuationDensity::balanced: return 24;
    case JapanesePunctuationDensity::dense: return 18;
    }
    return 24;
}

const RegexRuleTable& autoCommaRules() {
    static const RegexRuleTable rules({
        // "At least 8 characters follow" is asked as "8 characters follow": the same answer,
        // without reading the rest of the line at every match.
        {R"((ですが|ますので|ですので|ましたので|けれども|ますが)(?=[^\s、。，．！？\n]{8}))", "$1、",
         {"ですが", "ますので", "ですので", "けれども", "ますが"}},
        {R"(^(本日の[^\s、。]{2,10}では|今回の[^\s、。]{2,10}では)(?=[^\s、。，．]{8}))", "$1、", {"本日の", "今回の"}},
    });
    return rules;
}

constexpr std::array<std::string_view, 17> clauseContinuationEndings{
    "けれども", "ながら", "から", "ので", "けど", "つつ", "たり", "て", "で",
    "を", "に", "へ", "と", "の", "は", "が", "も",
};

constexpr std::array<std::string_view, 5> questionEndings{"ですか", "ますか", "でしょうか", "ませんか", "かな"};

// Characters that already close a line: full stops, marks, closing brackets and commas.
constexpr std::array<std::string_view, 14> terminalMarks{
    "。", "．", ".", "！", "？", "!", "?", "」", "』", "）", ")", "、", "，", ",",
};

// Words after which a full stop or comma inside a phrase is dropped (この、本 → この本).
const std::vector<std::string>& attributiveWords() {
    static const std::vector<std::string> words{
        "この", "その", "あの", "どの", "ような", "みたいな", "といった", "という", "っていう", "こういう",
        "そういう", "ああいう", "どういう", "いろんな", "色んな", "様々な", "大きな", "小さな", "おかしな", "変な",
        "自然な", "不自然な", "適切な", "明確な", "正確な", "たまに", "明らかに",
    };
    return words;
}

// Each word followed by the mark: the literals that a rule "(?<=word)mark" needs.
std::vector<std::string> marked(const std::vector<std::string>& words, const std::string& mark) {
    std::vector<std::string> out;
    for (const std::string& word : words) out.push_back(word + mark);
    return out;
}

const RegexRuleTable& sentenceBreakRepairRules() {
    static const RegexRuleTable rules = [] {
        const std::string mark = "。";
        return RegexRuleTable({
            {R"((?<=[のをにへ])。[ \t]*(?=[^\s\n。！？「『（]))",
             "",
             marked({"の", "を", "に", "へ"}, mark)},
            {R"((?<=(?:この|その|あの|どの|ような|みたいな|といった|という|っていう|こういう|そういう|ああいう|どういう|いろんな|色んな|様々な|大きな|小さな|おかしな|変な|自然な|不自然な|適切な|明確な|正確な|たまに|明らかに))。[ \t]*(?=[^\s\n。！？]))",
             "",
             marked(attributiveWords(), mark)},
            {R"((?<=(?:と|って))。[ \t]*(?=(?:思[ういえっわ]|考[えう]|感[じず]|言[ういえっわ])))",
             "",
             marked({"と", "って"}, mark)},
            {R"((?<=(?:たら|れば|なら))。[ \t]*(?=(?:いい|よい|良[いかくけ])))",
             "",
             marked({"たら", "れば", "なら"}, mark)},
            {R"((?<=(?:ことが|ことも|ことは))。[ \t]*(?=(?:あ[るりっ]|な[いくけさ]|でき|多[いく]|少な[いく])))",
             "",
             marked({"ことが", "ことも", "ことは"}, mark)},
            {R"((?<=として)。[ \t]*(?=(?:おかし|正し|自然|不自然|変[なにだで]|適切|違和感|問題|成立|成り立)))",
             "",
             marked({"として"}, mark)},
            {R"((?<=ながら)。[ \t]*(?=(?:話|言|語|書|打|入力|進|考|思|見|聞|作業|操作)))",
             "",
             marked({"ながら"}, mark)},
            {R"(。[ \t]*(?=(?:っていう|という|といった|とか(?!げ)|など|くらい|ぐらい|ほど|ばかり|だけ(?!ど)|んです|んだ|なんです|なんだ|わけです|はずです)))",
             "",
             {mark}},
            {R"((?<!です|ます|した|せん)(?<=[いなただるうくすつぬむぶぐの])。[ \t]*(?=(?:場合|時(?:に|とか|も|が|の|って|、|。|$)|とき(?:に|とか|も|が|の|って|、|。|$)|こと(?:が|を|に|は|も|で|の|って|、|。|$)|もの(?:の|が|を|に|は|も|で|だ|です|、|。|$)|ところ(?:が|を|に|で|へ|は|も|、|。|$)|区切り|箇所|よう(?:に|な|だ|です|か|、|。|$)|ため(?:に|の|だ|です|、|。|$)|はず(?:が|は|も|だ|です|、|。|$)|わけ(?:が|は|も|だ|です|に|で|、|。|$))))",
             "",
             {mark}},
        });
    }();
    return rules;
}

const Regex& fullStopAfterConnective() {
    static const Regex pattern(
        R"((?<=(?:ので|から|けれど|けれども|けども|だけど|ですが|ますが|けど|のに|ため|たり|ながら|つつ|たら|なら|れば|ても|でも|て|で|は|が|と|も))。[ \t]*(?=[^\s\n。！？]))");
    return pattern;
}

const RegexRuleTable& commaThinningRules() {
    static const RegexRuleTable rules = [] {
        const std::string mark = "、";
        return RegexRuleTable({
            {R"((?<=(?:この|その|あの|どの|ような|みたいな|といった|という|っていう|こういう|そういう|ああいう|どういう|いろんな|色んな|様々な|大きな|小さな|おかしな|変な|自然な|不自然な|適切な|明確な|正確な|たまに|明らかに))、[ \t]*(?=[^\s\n。！？]))",
             "",
             marked(attributiveWords(), mark)},
            {R"((?<=(?:と|って))、[ \t]*(?=(?:思[ういえっわ]|考[えう]|感[じず]|言[ういえっわ])))",
             "",
             marked({"と", "って"}, mark)},
            {R"((?<=(?:たら|れば|なら))、[ \t]*(?=(?:いい|よい|良[いかくけ])))",
             "",
             marked({"たら", "れば", "なら"}, mark)},
            {R"((?<=(?:ことが|ことも|ことは))、[ \t]*(?=(?:あ[るりっ]|な[いくけさ]|でき|多[いく]|少な[いく])))",
             "",
             marked({"ことが", "ことも", "ことは"}, mark)},
            {R"((?<=として)、[ \t]*(?=(?:おかし|正し|自然|不自然|変[なにだで]|適切|違和感|問題|成立|成り立)))",
             "",
             marked({"として"}, mark)},
            {R"((?<=ながら)、[ \t]*(?=(?:話|言|語|書|打|入力|進|考|思|見|聞|作業|操作)))",
             "",
             marked({"ながら"}, mark)},
            {R"((?<=に)、[ \t]*(?=な(?:る|っ|り|れ|ら)))",
             "",
             marked({"に"}, mark)},
            {R"(、[ \t]*(?=(?:っていう|という|といった|とか(?!げ)|など|くらい|ぐらい|ほど|ばかり|だけ(?!ど)|んです|んだ|なんです|なんだ|わけです|はずです)))",
             "",
             {mark}},
            {R"((?<!です|ます|した|せん)(?<=[いなただるうくすつぬむぶぐの])、[ \t]*(?=(?:場合|時(?:に|とか|も|が|の|って|、|。|$)|とき(?:に|とか|も|が|の|って|、|。|$)|こと(?:が|を|に|は|も|で|の|って|、|。|$)|もの(?:の|が|を|に|は|も|で|だ|です|、|。|$)|区切り|箇所|よう(?:に|な|だ|です|か|、|。|$)|はず(?:が|は|も|だ|です|、|。|$)|わけ(?:が|は|も|だ|です|に|で|、|。|$))))",
             "",
             {mark}},
        });
    }();
    return rules;
}

constexpr std::array<std::string_view, 30> sentenceOpenerWords{
    "また", "ただ", "しかし", "例えば", "ちなみに", "そのため", "つまり", "なお", "まず", "次に",
    "最後に", "一方", "さらに", "しかも", "そこで", "だから", "でも", "ところで", "要するに", "結果として",
    "具体的には", "なぜなら", "昨日", "今日", "明日", "本日", "今回", "先日", "現在", "最近",
};

constexpr std::array<std::string_view, 30> connectiveEndings{
    "ので", "から", "けれど", "けれども", "けども", "だけど", "ですが", "ますが", "けど", "のに",
    "ため", "たら", "なら", "れば", "ても", "でも", "では", "には", "とは", "について",
    "に関して", "として", "によって", "により", "とともに", "たり", "し", "ものの", "うえで", "上で",
};

const Regex& shortSubjectPattern() {
    static const Regex pattern("[にでへとはも][一-龠々ァ-ヶー]{1,5}[がを]$");
    return pattern;
}

// The last `count` scalars of well-formed UTF-8 text (all of it when shorter).
std::string_view lastScalars(std::string_view s, std::size_t count) {
    std::size_t begin = s.size();
    for (std::size_t taken = 0; taken < count && begin > 0; ++taken) {
        --begin;
        while (begin > 0 && (static_cast<unsigned char>(s[begin]) & 0xC0) == 0x80) --begin;
    }
    return s.substr(begin);
}

// The short-subject pattern ends at the text's end (or before a line terminator there), so
// a match lies within the last 7 scalars plus a terminator of at most 2: searching that
// tail gives the same answer as searching the whole clause, which keeps growing.
bool endsWithShortSubject(std::string_view before) { return shortSubjectPattern().hasMatch(lastScalars(before, 9)); }

// Lengths are only compared with thresholds of at most 21 characters, so counting stops there.
constexpr std::size_t kLengthCap = 32;

bool isSentenceOpener(std::string_view word) {
    for (const std::string_view opener : sentenceOpenerWords) {
        if (word == opener) return true;
    }
    return false;
}

std::size_t length(std::string_view s) { return text::graphemeCountFast(s); }

std::size_t cappedLength(std::string_view s) { return text::graphemeCountUpTo(s, kLengthCap); }

bool isLightOrBalanced(JapanesePunctuationDensity density) { return density != JapanesePunctuationDensity::dense; }

// `s` without U+0020 at either end (a one-byte character, never part of a longer sequence).
std::string_view withoutSurroundingSpaces(std::string_view s) {
    const std::size_t begin = s.find_first_not_of(' ');
    if (begin == std::string_view::npos) return {};
    return s.substr(begin, s.find_last_not_of(' ') - begin + 1);
}

// Pieces of `text` between occurrences of `separator`, empty pieces kept.
std::vector<std::string_view> splitOn(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> pieces;
    std::size_t count = 1;
    for (std::size_t at = text.find(separator); at != std::string_view::npos; at = text.find(separator, at + separator.size()))
        ++count;
    pieces.reserve(count);
    std::size_t from = 0;
    for (std::size_t at = text.find(separator); at != std::string_view::npos; at = text.find(separator, from)) {
        pieces.push_back(text.substr(from, at - from));
        from = at + separator.size();
    }
    pieces.push_back(text.substr(from));
    return pieces;
}

// The comma rules; of the text after the comma only its length matters, counted up to kLengthCap.
bool keepsComma(std::string_view before, std::size_t beforeLength, std::string_view piece, std::size_t afterLength,
                JapanesePunctuationDensity density, bool first) {
    const bool light = density == JapanesePunctuationDensity::light;

    if (before.ends_with("の") && !before.ends_with("ものの")) return false;
    static constexpr std::array<std::string_view, 7> demonstratives{"この", "その", "あの", "どの",
                                                                    "ような", "みたいな", "といった"};
    if (endsWithAny(before, demonstratives)) return false;
    if (before.ends_with("ところで") && before != "ところで") return false;
    static constexpr std::array<std::string_view, 4> topicMarkers{"っていうのも", "というのも", "っていうのが",
                                                                  "というのが"};
    if (endsWithAny(before, topicMarkers) && afterLength < 21) return false;
    if (afterLength < (light ? 10u : 7u)) return false;
    if (first && isSentenceOpener(before)) return light ? afterLength > 13 : true;

    if (beforeLength < (light ? 12u : 8u)) return false;

    const bool connective = endsWithAny(before, connectiveEndings);
    if (!connective) {
        static constexpr std::array<std::string_view, 4> objectParticles{"が", "を", "に", "へ"};
        if (length(piece) < 7 && !isSentenceOpener(piece) && endsWithAny(piece, objectParticles)) return false;
        if (!endsWithShortSubject(before)) return false;
    }
    if (before.ends_with("を") || before.ends_with("へ")) {
        return !light && beforeLength >= 20 && afterLength >= 14;
    }
    if (light) return connective || (beforeLength >= 18 && afterLength > 11);
    return connective || (beforeLength >= 16 && afterLength > 11);
}

}  // namespace

namespace japanese_punctuation {

std::string autoPunctuateLine(std::string_view rawLine, std::size_t index, std::size_t lineCount,
                              JapanesePunctuationDensity density) {
    std::string line = text::trimScalars(rawLine, U" \t");
    if (line.empty()) return {};

    if (length(line) >= minimumCommaLineLength(density)) {
        for (std::size_t rule = 0; rule < autoCommaRules().size(); ++rule) {
            if (density == JapanesePunctuationDensity::light && contains(line, kIdeographicComma)) break;
            line = autoCommaRules().applyRule(rule, line);
        }
    }
    if (density != JapanesePunctuationDensity::dense && contains(line, kIdeographicComma)) {
        line = JapaneseInputProcessor::balancePunctuationRhythm(line, density);
    }
    if (line.empty()) return line;

    const bool continues = index + 1 < lineCount && endsWithAny(line, clauseContinuationEndings);
    if (!endsWithAny(line, terminalMarks)) {
        if (endsWithAny(line, questionEndings)) {
            line += "？";
        } else if (!continues) {
            line += kIdeographicFullStop;
        }
    } else if (line.ends_with(kIdeographicFullStop)) {
        const std::string_view body = std::string_view(line).substr(0, line.size() - kIdeographicFullStop.size());
        if (endsWithAny(body, questionEndings)) {
            line = std::string(body) + "？";
        } else if (continues) {
            line = std::string(body);
        }
    }
    return line;
}

std::string repairSentenceBreaks(std::string_view line) {
    if (!contains(line, kIdeographicFullStop)) return std::string(line);
    return fullStopAfterConnective().replaceAll(sentenceBreakRepairRules().apply(line), "、");
}

std::string thinCommas(std::string_view line, JapanesePunctuationDensity density) {
    if (!contains(line, kIdeographicComma)) return std::string(line);
    const std::string thinned = commaThinningRules().apply(line);
    if (!contains(thinned, kIdeographicComma)) return thinned;

    // Sentences end with and include 。, ？ or ！; text after the last mark is a last sentence
    // without one. One pass over the line finds every mark.
    static constexpr std::array<std::string_view, 3> sentenceMarks{"。", "？", "！"};
    const std::string_view rest = thinned;
    std::string out;
    out.reserve(rest.size());
    std::size_t sentenceStart = 0;
    for (std::size_t at = 0; at < rest.size(); ++at) {
        for (const std::string_view mark : sentenceMarks) {
            if (rest.compare(at, mark.size(), mark) != 0) continue;
            out += rebalanceSentenceCommas(rest.substr(sentenceStart, at - sentenceStart), density);
            out += mark;
            sentenceStart = at + mark.size();
            at = sentenceStart - 1;
            break;
        }
    }
    if (sentenceStart < rest.size()) out += rebalanceSentenceCommas(rest.substr(sentenceStart), density);
    return out;
}

std::string rebalanceSentenceCommas(std::string_view body, JapanesePunctuationDensity density) {
    // Views into `body`: a long sentence has thousands of pieces.
    std::vector<std::string_view> pieces = splitOn(body, kIdeographicComma);
    std::erase_if(pieces, [](std::string_view& piece) {
        piece = withoutSurroundingSpaces(piece);
        return piece.empty();
    });
    if (pieces.empty()) return std::string(body);
    if (pieces.size() == 1) return std::string(pieces.front());

    // The pieces joined without separators: the text before a comma (since the last kept
    // one) and the text after it are both ranges of it, so no gap copies or rescans the
    // sentence, and a long sentence costs time in proportion to its length.
    std::string joined;
    std::vector<std::size_t> starts;
    starts.reserve(pieces.size() + 1);
    joined.reserve(body.size());
    for (const std::string_view piece : pieces) {
        starts.push_back(joined.size());
        joined += piece;
    }
    starts.push_back(joined.size());
    const std::string_view all = joined;

    std::string out;
    out.reserve(body.size());
    std::size_t keptFrom = 0;
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
        const std::string_view before = all.substr(keptFrom, starts[i + 1] - keptFrom);
        const std::string_view after = all.substr(starts[i + 1]);
        if (keepsComma(before, cappedLength(before), pieces[i], cappedLength(after), density, keptFrom == 0)) {
            out += before;
            out += kIdeographicComma;
            keptFrom = starts[i + 1];
        }
    }
    out += all.substr(keptFrom);
    return out;
}

bool shouldKeepComma(std::string_view before, std::string_view piece, std::string_view after,
                     JapanesePunctuationDensity density, bool first) {
    return keepsComma(before, cappedLength(before), piece, cappedLength(after), density, first);
}

}  // namespace japanese_punctuation

std::string JapaneseInputProcessor::applyAutoPunctuation(std::string_view input, int /*pauseCount*/,
                                                         JapanesePunctuationDensity density) {
    const std::string text = text::repairedUTF8(input);
    const std::vector<std::string> lines = japanese_text::splitLines(balancePunctuationRhythm(text, density));
    std::vector<std::string> punctuated;
    punctuated.reserve(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        punctuated.push_back(japanese_punctuation::autoPunctuateLine(lines[i], i, lines.size(), density));
    }
    return japanese_text::joinLines(punctuated);
}

std::string JapaneseInputProcessor::balancePunctuationRhythm(std::string_view input, JapanesePunctuationDensity density) {
    const std::string text = text::repairedUTF8(input);
    if (text.empty()) return {};
    std::vector<std::string> lines = japanese_text::splitLines(text);
    for (std::string& line : lines) {
        line = japanese_punctuation::repairSentenceBreaks(line);
        if (isLightOrBalanced(density)) line = japanese_punctuation::thinCommas(line, density);
    }
    return japanese_text::joinLines(lines);
}

std::string JapaneseInputProcessor::applyPunctuationStyle(std::string_view input, JapanesePunctuationStyle style) {
    const std::string text = text::repairedUTF8(input);
    switch (style) {
    case JapanesePunctuationStyle::standard: return std::string(text);
    case JapanesePunctuationStyle::academic:
        return text::replaceAllLiteral(text::replaceAllLiteral(text, "。", "．"), "、", "，");
    case JapanesePunctuationStyle::ascii:
        return text::trimSpaces(text::replaceAllLiteral(text::replaceAllLiteral(text, "。", ". "), "、", ", "));
    case JapanesePunctuationStyle::spaceOnly:
        return text::trimSpaces(text::replaceAllLiteral(text::replaceAllLiteral(text, "、", " "), "。", ""));
    }
    return std::string(text);
}

}  // namespace pelora
