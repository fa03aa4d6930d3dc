// Spoken commands of the post-processor: words such as かいぎょう, まる or かぎかっこ
// become the characters they name, but only where the surrounding words show that
// they cannot be ordinary words.

#include <array>
#include <string>
#include <string_view>

#include "engine/japanese/JapaneseInputProcessor.h"
#include "engine/japanese/JapaneseTextLines.h"
#include "platform/text/RegexRuleTable.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {

using text::RegexRuleTable;

constexpr std::array<std::string_view, 11> lineBreakCommandWords{
    "かいぎょう", "カイギョウ", "改行", "開業", "会議夜", "海業",
    "まるかいぎょう", "マルカイギョウ", "まる。かいぎょう", "まる。改行", "まる。開業",
};

constexpr std::array<std::string_view, 4> paragraphCommandWords{"新しい段落", "改段落", "だんらく", "ダンラク"};

constexpr std::array<std::pair<std::string_view, std::string_view>, 15> lineBreakLiteralReplacements{{
    {"。会議夜。", "。\n"},
    {"。会議夜", "。\n"},
    {"。海業。", "。\n"},
    {"。海業", "。\n"},
    {"。かいぎょう。", "。\n"},
    {"。かいぎょう", "。\n"},
    {"。カイギョウ。", "。\n"},
    {"。カイギョウ", "。\n"},
    {"、かいぎょう、", "\n"},
    {"、カイギョウ、", "\n"},
    {"まる。かいぎょう。", "。\n"},
    {"まる。改行。", "。\n"},
    {"まる。開業。", "。\n"},
    {"まるかいぎょう", "。\n"},
    {"マルカイギョウ", "。\n"},
}};

// Continuations that make a preceding かいぎょう-like word an ordinary word (開業した, 改行コード, 開業資金).
constexpr std::string_view kaigyouFollowerPattern =
    R"((?:し(?:た|て|な|ま|よ|ろ|ちゃ|ち|つつ|ながら|そう|やす|にく)|する|すれ|しろ|せよ|せ(?:ず|ぬ|よ|られ|させ)|さ(?:れ|せ)|でき|いたし|致し|が|を|に|へ|と|で|から|より|まで|の|は|も|や|か(?:[、。！？\s]|$|な|も|どう|と言|しら)|って|とか|など|だけ|ばかり|くらい|ぐらい|ほど|こそ|さえ|でも|しか|ずつ|なり|だ(?:[、。！？\s]|$|けど|から|し|った|ろう|と|な|ね|よ)|です|でした|なら|じゃ|では|コード|文字|位置|幅|処理|設定|機能|コマンド|キー|マーク|ルール|ボタン|入力|変換|誤変換|ご変換|判定|認識|時|後|前|中|間|届|医|資金|準備|祝い|予定|日|年|月|費|率|数|者|所|業|なし|あり|無し|有り))";

constexpr std::string_view lineBreakWordsWithKaigyou = "(?:かいぎょう|カイギョウ|改行|開業|会議夜|海業)";
constexpr std::string_view lineBreakWordsWithoutKaigyou = "(?:かいぎょう|カイギョウ|改行|会議夜|海業)";

// まる glued to a kana or kanji with which it forms a verb (始まる, 決まる, しまる, つまる) is
// text, not the full-stop command. Kanji of such verbs, written before the okurigana まる:
constexpr std::string_view maruVerbKanji = "始決閉締絞止停泊留集高広弘固詰溜貯捕掴収納治修温暖深強弱早速狭縮静鎮改革絡休埋挟嵌丸極窮定染薄清纏包務勤";
// Kana beginnings of such verbs, when they start a word (after a particle, a mark or at the start):
// しまる, とまる, つまる, たまる, はまる, こまる, あまる, せまる, きまる, だまる, うまる, あつまる, ...
constexpr std::string_view maruVerbKanaStems =
    "し|と|つ|た|は|こ|あ|せ|き|だ|う|そ|あつ|かた|おさ|から|つか|あや|ちぢ|とど|まと|さだ|くる|しず|はさ|ひろ|"
    "たか|ふか|つよ|よわ|やす|うす|つと|きわ|あたた|あらた|かしこ|うずく|あては";

std::string maruWordGuard() {
    return "(?<![" + std::string(maruVerbKanji) + "])(?<!(?:^|[、。，．,.！？!?\\s「」『』（）()がはをにでともへやの])(?:" +
           std::string(maruVerbKanaStems) + "))";
}

const RegexRuleTable& voiceCommandRules() {
    static const std::string maruGuard = maruWordGuard();
    static const std::string rule10 =
        // まるで, まるい, まるく, まるめる, まるみ, まるまる after a separator are words too.
        R"((?:[、,\s]+(?:まる|マル|句点)(?!か|カ|括|ご|ゴ|っ|ッ|で|い|く|め|み|ま)[。、,\s]*|)" + maruGuard +
        R"((?:まる|マル)[。]+|句点[。]+))";
    static const std::string rule11 = R"((?<=[ます|です|した|だ|る|い|う|く|す|つ|ぬ|む|ぐ|ぶ])[、,\s]*(?:)" + maruGuard +
                                      R"((?:まる|マル)|句点)(?=$|[。、\s\n]|よろしく|次|また|そして|ただ|しかし))";
    static const RegexRuleTable rules({
        {R"((?<![をのなでへにがはも])[、。,\s]*(?:新しい段落|改段落|(?<![\p{Hiragana}\p{Katakana}\p{Han}])(?:だんらく|ダンラク)(?!(?:の|を|が|は|も|で|に|へ|と|や|から|まで|って|とは|など|構成|分け|目)))[、。,\s]*)",
         "\n\n", {"新しい段落", "改段落", "だんらく", "ダンラク"}},
        {R"([、。,\s]*(?:(?:はてなマーク|クエスチョンマーク)(?!(?:の|を|が|は|も|で|に|へ|から|まで|って|とは|など|使い|入力|変換|コマンド|記号|を付|をつ))|(?<![にはでとがをのへも])(?:はてな|クエスチョン|疑問符)(?=$|[。、，．,\s\n]))[。、,\s]*)",
         "？", {"はてな", "クエスチョン", "疑問符"}},
        {R"([、。,\s]*(?:(?:びっくりマーク|エクスクラメーションマーク)(?!(?:の|を|が|は|も|で|に|へ|から|まで|って|とは|など|使い|入力|変換|コマンド|記号|を付|をつ))|(?<![にはでとがをのへも])(?:びっくり|感嘆符)(?=$|[。、，．,\s\n]))[。、,\s]*)",
         "！", {"びっくり", "エクスクラメーションマーク", "感嘆符"}},
        {R"([、,\s]*(?:かぎかっことじ|カギカッコトジ|鉤括弧閉じ|かぎかっこ閉じ)[、,\s]*)", "」", {"かぎかっことじ", "カギカッコトジ", "鉤括弧閉じ", "かぎかっこ閉じ"}},
        {R"([、,\s]*(?:まるかっことじ|マルカッコトジ|丸括弧閉じ|まるかっこ閉じ)[、,\s]*)", "）", {"まるかっことじ", "マルカッコトジ", "丸括弧閉じ", "まるかっこ閉じ"}},
        {R"((?<![かぎカギ鉤まるマル丸])[、,\s]*(?:かっことじ|カッコトジ|括弧閉じ|閉じ括弧)[、,\s]*)", "」", {"かっことじ", "カッコトジ", "括弧閉じ", "閉じ括弧"}},
        {R"([、,\s]*(?:かぎかっこひらき|カギカッコヒラキ|鉤括弧開き|かぎかっこ開き|(?:かぎかっこ|カギカッコ|鉤括弧)(?!とじ|トジ|閉じ|ひらき|ヒラキ|開き))(?!(?:の|を|が|は|も|で|に|へ|から|まで|って|とは|など|使い|入力|変換|コマンド|記号|を付|をつ))[、,\s]*)",
         "「", {"かぎかっこ", "カギカッコ", "鉤括弧"}},
        {R"([、,\s]*(?:まるかっこひらき|マルカッコヒラキ|丸括弧開き|まるかっこ開き|(?:まるかっこ|マルカッコ|丸括弧)(?!とじ|トジ|閉じ|ひらき|ヒラキ|開き))(?!(?:の|を|が|は|も|で|に|へ|から|まで|って|とは|など|使い|入力|変換|コマンド|記号|を付|をつ))[、,\s]*)",
         "（", {"まるかっこ", "マルカッコ", "丸括弧"}},
        {R"((?<![をのなでへにがはも])[、,\s]*(?:なかぐろ|ナカグロ|中黒)(?!(?:の|を|が|は|も|で|に|へ|から|まで|って|とは|など|使い|入力|変換|コマンド|記号|を付|をつ))[、,\s]*)",
         "・", {"なかぐろ", "ナカグロ", "中黒"}},
        {rule10, "。", {"まる", "マル", "句点"}},
        {rule11, "。", {"まる", "マル", "句点"}},
        {R"([、,\s]+(?:てん|テン|読点)[、,\s]+)", "、", {"てん", "テン", "読点"}},
        // し counts as the listing particle only after a predicate (寒いし, 雨だし); after a verb
        // stem it is する (何してんの, 勉強してんだ), and してん is a word.
        {R"((?:(?<=[は|が|を|に|で|と|て|ば|ら])|(?<=(?<=[だすいた])し))(?:てん|読点)[、]*)", "、", {"てん", "読点"}},
    });
    return rules;
}

// Line-break words right after a sentence end (step 6) and elsewhere (step 7), with and
// without 開業 among the command words.
RegexRuleTable makeLineBreakRules(std::string_view words, std::vector<std::string> literals) {
    const std::string tail = std::string(words) + "(?!" + std::string(kaigyouFollowerPattern) + ")[。、,\\s]*";
    return RegexRuleTable({{R"(([。．！？!?])[、,\s]*)" + tail, "$1\n", literals},
                           {R"((?<![をのな未無新再自動])[、,\s]*)" + tail, "\n", literals}});
}

const RegexRuleTable& lineBreakRules(bool business) {
    static const RegexRuleTable withKaigyou = makeLineBreakRules(
        lineBreakWordsWithKaigyou, {"かいぎょう", "カイギョウ", "改行", "開業", "会議夜", "海業"});
    static const RegexRuleTable withoutKaigyou =
        makeLineBreakRules(lineBreakWordsWithoutKaigyou, {"かいぎょう", "カイギョウ", "改行", "会議夜", "海業"});
    return business ? withoutKaigyou : withKaigyou;
}

template <std::size_t N>
bool isOneOf(std::string_view text, const std::array<std::string_view, N>& words) {
    for (const std::string_view word : words) {
        if (text == word) return true;
    }
    return false;
}

std::string collapseRepeats(std::string text, std::string_view doubled, std::string_view single) {
    while (japanese_text::contains(text, doubled)) text = text::replaceAllLiteral(text, doubled, single);
    return text;
}

}  // namespace

const std::vector<std::string>& JapaneseInputProcessor::businessKaigyouKeywords() {
    static const std::vector<std::string> keywords{
        "クリニック", "病院", "医院", "歯科", "薬局", "店舗", "お店", "新店", "サロン", "カフェ", "レストラン",
        "ホテル", "旅館", "事務所", "オフィス", "法人", "会社", "独立", "起業", "廃業", "休業", "営業",
        "新駅", "路線", "鉄道", "新幹線", "駅が", "駅の", "届", "資金", "融資", "準備金", "祝い",
        "医師", "医者", "弁護士", "税理士", "行政書士", "社労士", "オーナー", "経営",
    };
    return keywords;
}

bool JapaneseInputProcessor::isBusinessKaigyouContext(std::string_view text) {
    for (const std::string& keyword : businessKaigyouKeywords()) {
        if (japanese_text::contains(text, keyword)) return true;
    }
    return false;
}

std::string JapaneseInputProcessor::applyVoiceCommands(std::string_view rawInput) {
    const std::string input = text::repairedUTF8(rawInput);
    const std::string core = text::trimScalars(input, U" \t。、，．.!?\n");
    if (isOneOf(core, lineBreakCommandWords)) return "\n";
    if (isOneOf(core, paragraphCommandWords)) return "\n\n";

    std::string out(input);
    for (const auto& [spoken, written] : lineBreakLiteralReplacements) {
        out = text::replaceAllLiteral(out, spoken, written);
    }

    out = lineBreakRules(isBusinessKaigyouContext(out)).apply(out);

    out = voiceCommandRules().apply(out);

    out = collapseRepeats(std::move(out), "。。", "。");
    out = collapseRepeats(std::move(out), "、、", "、");
    out = text::replaceAllLiteral(out, "、。", "。");
    out = text::replaceAllLiteral(out, "。？", "？");
    out = text::replaceAllLiteral(out, "。！", "！");
    return out;
}

}  // namespace pelora
