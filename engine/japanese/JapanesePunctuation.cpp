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
        {R"((ですが|ますので|ですので|ましたので|けれども|ますが)(?=[^\s、。，．！？\n]{8,}))", "$1、",
         {"ですが", "ますので", "ですので", "けれども", "ますが"}},
        {R"(^(本日の[^\s、。]{2,10}では|今回の[^\s、。]{2,10}では)(?=[^\s、。，．]{8,}))", "$1、", {"本日の", "今回の"}},
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

bool isSentenceOpener(std::string_view word) {
    for (const std::string_view opener : sentenceOpenerWords) {
        if (word == opener) return true;
    }
    return false;
}

std::size_t length(std::string_view s) { return text::graphemeCountFast(s); }

bool isLightOrBalanced(JapanesePunctuationDensity density) { return density != JapanesePunctuationDensity::dense; }

// Pieces of `text` between occurrences of `separator`, empty pieces kept.
std::vector<std::string_view> splitOn(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> pieces;
    std::size_t from = 0;
    for (std::size_t at = text.find(separator); at != std::string_view::npos; at = text.find(separator, from)) {
        pieces.push_back(text.substr(from, at - from));
        from = at + separator.size();
    }
    pieces.push_back(text.substr(from));
    return pieces;
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

    // Sentences end with and include 。, ？ or ！; text after the last mark is a last sentence without one.
    static constexpr std::array<std::string_view, 3> sentenceMarks{"。", "？", "！"};
    std::string out;
    std::string_view rest = thinned;
    while (!rest.empty()) {
        std::size_t cut = std::string_view::npos;
        std::size_t markSize = 0;
        for (const std::string_view mark : sentenceMarks) {
            const std::size_t at = rest.find(mark);
            if (at < cut) {
                cut = at;
                markSize = mark.size();
            }
        }
        if (cut == std::string_view::npos) {
            out += rebalanceSentenceCommas(rest, density);
            break;
        }
        out += rebalanceSentenceCommas(rest.substr(0, cut), density);
        out += rest.substr(cut, markSize);
        rest.remove_prefix(cut + markSize);
    }
    return out;
}

std::string rebalanceSentenceCommas(std::string_view body, JapanesePunctuationDensity density) {
    std::vector<std::string> pieces;
    for (const std::string_view raw : splitOn(body, kIdeographicComma)) {
        std::string piece = text::trimSpaces(raw);
        if (!piece.empty()) pieces.push_back(std::move(piece));
    }
    if (pieces.empty()) return std::string(body);
    if (pieces.size() == 1) return pieces.front();

    std::vector<std::string> kept;
    std::string before;
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
        before += pieces[i];
        std::string after;
        for (std::size_t k = i + 1; k < pieces.size(); ++k) after += pieces[k];
        if (shouldKeepComma(before, pieces[i], after, density, kept.empty())) {
            kept.push_back(std::move(before));
            before.clear();
        }
    }
    before += pieces.back();
    kept.push_back(std::move(before));

    std::string out;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (i > 0) out += kIdeographicComma;
        out += kept[i];
    }
    return out;
}

bool shouldKeepComma(std::string_view before, std::string_view piece, std::string_view after,
                     JapanesePunctuationDensity density, bool first) {
    const bool light = density == JapanesePunctuationDensity::light;

    if (before.ends_with("の") && !before.ends_with("ものの")) return false;
    static constexpr std::array<std::string_view, 7> demonstratives{"この", "その", "あの", "どの",
                                                                    "ような", "みたいな", "といった"};
    if (endsWithAny(before, demonstratives)) return false;
    if (before.ends_with("ところで") && before != "ところで") return false;
    static constexpr std::array<std::string_view, 4> topicMarkers{"っていうのも", "というのも", "っていうのが",
                                                                  "というのが"};
    const std::size_t afterLength = length(after);
    if (endsWithAny(before, topicMarkers) && afterLength < 21) return false;
    if (afterLength < (light ? 10u : 7u)) return false;
    if (first && isSentenceOpener(before)) return light ? afterLength > 13 : true;

    const std::size_t beforeLength = length(before);
    if (beforeLength < (light ? 12u : 8u)) return false;

    const bool connective = endsWithAny(before, connectiveEndings);
    if (!connective) {
        static constexpr std::array<std::string_view, 4> objectParticles{"が", "を", "に", "へ"};
        if (length(piece) < 7 && !isSentenceOpener(piece) && endsWithAny(piece, objectParticles)) return false;
        if (!shortSubjectPattern().hasMatch(before)) return false;
    }
    if (before.ends_with("を") || before.ends_with("へ")) {
        return !light && beforeLength >= 20 && afterLength >= 14;
    }
    if (light) return connective || (beforeLength >= 18 && afterLength > 11);
    return connective || (beforeLength >= 16 && afterLength > 11);
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
