#include "engine/japanese/JapaneseInputProcessor.h"

#include <array>

#include "platform/text/RegexRuleTable.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {

using text::RegexOptions;
using text::RegexRuleTable;

const std::vector<std::string>& fillerPatternSources() {
    static const std::vector<std::string> patterns{
        R"(^(?:えーっと|えーと|えっと|ええと|あのー|あのう|えー|んー|うーん|そのー|まあ|まぁ|なんか)[、,，\s]+)",
        R"((?<=[。．.！？!?\n])[、,，\s]*(?:えーっと|えーと|えっと|ええと|あのー|あのう|えー|んー|うーん|そのー|まあ|まぁ)[、,，\s]+)",
        R"((?<=[、,，\s])(?:えーっと|えーと|えっと|ええと|あのー|あのう|えー|んー|うーん|そのー|まあ|まぁ)[、,，\s]+)",
        R"((?<=[、,，。．.！？!?\n\s])(?:えーっと|えーと|えっと|ええと|あのー|あのう|うーん|まあ|まぁ)[、,，\s]*(?=[^\s、,，。．.！？!?\n]))",
        R"((?<=(?:中に|途中で|時に|ときに|ところで|ながら|いて|んで|って|して|ので|けれど|けれども|けども|けど))[、,，。．\s]*(?:まあ|まぁ|ま)[、,，。．\s]*(?=[考思話言見聞書作入出行来使直変選決調確試進止始終続探読動感知補判設実]))",
        R"((?<=[はがをにでともて、,，\s])(?:まあ|まぁ|えーっと|えーと|えっと|ええと|あのー|あのう|そのー)[、,，\s]*(?=[一-龠々ァ-ヶーこのそのあのこうそうどう]))",
        R"(^(?:えーっと|えーと|えっと|ええと|あのー|あのう|んー|うーん|そのー)(?=今日|本日|今回|これ|それ|私|僕|今|まず|次|新しい|本当|実|ただ|でも|ちなみ|音声|入力))",
    };
    return patterns;
}

// The filler table is compiled with "^" matching at every line start. Each pattern can
// only match where one of its filler words occurs.
const RegexRuleTable& fillerDeletions() {
    static const RegexRuleTable table = [] {
        const std::vector<std::string> pausing{"えーっと", "えーと", "えっと", "ええと", "あのー", "あのう", "えー",
                                               "んー",     "うーん", "そのー", "まあ",   "まぁ"};
        std::vector<std::string> opening = pausing;
        opening.push_back("なんか");
        const std::vector<std::string> words[] = {
            opening,
            pausing,
            pausing,
            {"えーっと", "えーと", "えっと", "ええと", "あのー", "あのう", "うーん", "まあ", "まぁ"},
            {"ま"},
            {"まあ", "まぁ", "えーっと", "えーと", "えっと", "ええと", "あのー", "あのう", "そのー"},
            {"えーっと", "えーと", "えっと", "ええと", "あのー", "あのう", "んー", "うーん", "そのー"},
        };
        std::vector<text::RegexRule> rules;
        for (std::size_t i = 0; i < fillerPatternSources().size(); ++i) {
            rules.push_back({fillerPatternSources()[i], "", words[i]});
        }
        return RegexRuleTable(std::move(rules), RegexOptions::anchorsMatchLines);
    }();
    return table;
}

const RegexRuleTable& thinkingPauseRepairRules() {
    static const RegexRuleTable rules({
        {"たまにはきかに", "たまに明らかに", {"たまにはきかに"}},
        {"(?<![ァ-ヶー])はきかに", "明らかに", {"はきかに"}},
        {"(?<![ァ-ヶー])あきかに", "明らかに", {"あきかに"}},
        {"(?<![ァ-ヶー])あきらに(?=[変お違無理難異欠落抜入出])", "明らかに", {"あきらに"}},
        {"変換が変換が", "変換が", {"変換が変換が"}},
        {"認識が認識が", "認識が", {"認識が認識が"}},
        {"([一-龠々ァ-ヶーA-Za-z0-9]{1,10})が変換が(ミス|おかし|変[なにだで]|間違|うまくいか|ダメ)", "$1の変換が$2",
         {"が変換が"}},
        {"([一-龠々ァ-ヶーA-Za-z0-9]{1,10})が認識が(ミス|おかし|変[なにだで]|間違|うまくいか|ダメ)", "$1の認識が$2",
         {"が認識が"}},
        {R"(([はがをにへでと])[、。，．,\s]+\1(?=[一-龠々ァ-ヶーこのそのあのどのこうそうどう]))", "$1", {}},
        {"([をへ])\\1(?=[一-龠々ァ-ヶー])", "$1", {"をを", "へへ"}},
    });
    return rules;
}

constexpr std::array<std::pair<std::string_view, std::string_view>, 11> spokenToWrittenReplacements{{
    {"なんですけれども", "なのですが"},
    {"なんですけども", "なのですが"},
    {"なんですけど", "なのですが"},
    {"っていうのは", "というのは"},
    {"っていう", "という"},
    {"しちゃった", "してしまった"},
    {"しちゃいました", "してしまいました"},
    {"じゃないですか", "ではないでしょうか"},
    {"見れる", "見られる"},
    {"出れる", "出られる"},
    {"食べれる", "食べられる"},
}};

// ＃ ＄ ％ ＆ ＋ － ／ ＠
constexpr std::array<char32_t, 8> fullWidthSymbolsToNarrow{U'\uFF03', U'\uFF04', U'\uFF05', U'\uFF06',
                                                           U'\uFF0B', U'\uFF0D', U'\uFF0F', U'\uFF20'};

const RegexRuleTable& japaneseLatinSpacingRules() {
    static const RegexRuleTable rules({
        {R"(([\p{Hiragana}\p{Katakana}\p{Han}])[ \t]+(?=[\p{Hiragana}\p{Katakana}\p{Han}]))", "$1", {" ", "\t"}},
        {R"(([A-Za-z0-9%])[ \t]+([\p{Hiragana}\p{Katakana}\p{Han}]))", "$1$2", {" ", "\t"}},
        {R"(([\p{Hiragana}\p{Katakana}\p{Han}])[ \t]+([A-Za-z0-9%]))", "$1$2", {" ", "\t"}},
    });
    return rules;
}

char32_t narrowed(char32_t c) {
    const bool wideAlphanumeric = (c >= 0xFF10 && c <= 0xFF19) || (c >= 0xFF21 && c <= 0xFF3A) ||
                                  (c >= 0xFF41 && c <= 0xFF5A);
    bool wideSymbol = false;
    for (const char32_t symbol : fullWidthSymbolsToNarrow) wideSymbol = wideSymbol || c == symbol;
    if (wideAlphanumeric || wideSymbol) return c - 0xFEE0;
    if (c == 0x3000) return U' ';
    return c;
}

// Records `label` when the step changed the text (compared under canonical equivalence).
void runStep(std::string& text, std::vector<std::string>& labels, std::string_view label, std::string next) {
    if (!text::canonicallyEqual(text, next)) labels.emplace_back(label);
    text = std::move(next);
}

}  // namespace

const std::vector<std::string>& JapaneseInputProcessor::japaneseFillerPatterns() { return fillerPatternSources(); }

std::string JapaneseInputProcessor::removeJapaneseFillers(std::string_view input) {
    const std::string text = text::repairedUTF8(input);
    return text::trimSpaces(fillerDeletions().apply(text));
}

std::string JapaneseInputProcessor::repairThinkingPauseSlipsAndStutters(std::string_view input) {
    const std::string text = text::repairedUTF8(input);
    if (text.empty()) return {};
    return thinkingPauseRepairRules().apply(text);
}

std::string JapaneseInputProcessor::applySpokenToWritten(std::string_view input) {
    const std::string text = text::repairedUTF8(input);
    std::string out(text);
    for (const auto& [spoken, written] : spokenToWrittenReplacements) {
        out = text::replaceAllLiteral(out, spoken, written);
    }
    return out;
}

std::string JapaneseInputProcessor::normalizeWidthAndSpacing(std::string_view input) {
    const std::string text = text::repairedUTF8(input);
    std::u32string scalars = text::toScalars(text);
    for (char32_t& c : scalars) c = narrowed(c);
    return japaneseLatinSpacingRules().apply(text::fromScalars(scalars));
}

std::string JapaneseInputProcessor::repairBrokenSentenceCoherence(std::string_view input,
                                                                  JapanesePunctuationDensity density) {
    const std::string text = text::repairedUTF8(input);
    if (text.empty()) return {};
    const std::string cleaned = repairThinkingPauseSlipsAndStutters(removeJapaneseFillers(text));
    return balancePunctuationRhythm(cleaned, density);
}

CorrectedText JapaneseInputProcessor::process(std::string_view input, const JapaneseInputOptions& options,
                                              int /*pauseCount*/) const {
    if (input.empty()) return {};
    std::string text = text::repairedUTF8(input);
    std::vector<std::string> labels;

    if (options.removeFillers) {
        runStep(text, labels, "フィラー・言い淀み除去", repairThinkingPauseSlipsAndStutters(removeJapaneseFillers(text)));
    } else {
        runStep(text, labels, "言い淀み・助詞補正", repairThinkingPauseSlipsAndStutters(text));
    }
    if (options.enableVoiceCommands) runStep(text, labels, "音声コマンド変換", applyVoiceCommands(text));
    if (options.spokenToWrittenPolish) runStep(text, labels, "話し言葉→書き言葉整形", applySpokenToWritten(text));
    if (options.normalizeNumbers) runStep(text, labels, "漢数字→算用数字変換", normalizeKanjiNumbers(text));
    if (options.normalizeAlphanumerics) runStep(text, labels, "英数字・文字幅正規化", normalizeWidthAndSpacing(text));

    const JapanesePunctuationDensity density = options.punctuationDensity;
    if (options.autoPunctuate) {
        runStep(text, labels, "句読点バランス整形", applyAutoPunctuation(text, 0, density));
    } else if (density != JapanesePunctuationDensity::dense) {
        runStep(text, labels, "句読点間引き調整", balancePunctuationRhythm(text, density));
    }

    if (options.punctuationStyle != JapanesePunctuationStyle::standard) {
        const std::string label =
            "句読点スタイル(" + std::string(punctuation_style::displayName(options.punctuationStyle)) + ")";
        runStep(text, labels, label, applyPunctuationStyle(text, options.punctuationStyle));
    }
    return {std::move(text), std::move(labels)};
}

}  // namespace pelora
