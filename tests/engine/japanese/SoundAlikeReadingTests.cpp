#include "engine/japanese/SoundAlikeReading.h"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace pelora {
namespace {

std::vector<std::string> words(const std::string& spaced) {
    std::istringstream in(spaced);
    std::vector<std::string> out;
    for (std::string word; in >> word;) out.push_back(word);
    return out;
}

// Every group of same-sounding forms that the correction tables pair up (homophone
// cohorts, the replacement table, the contextual rules): each group must read the same,
// or the guard that only lets same-sounding forms replace each other blocks the rule.
TEST(SoundAlikeReadingTest, SameReadingFormsOfTheCorrectionTablesReadAlike) {
    const char* const cohortGroups[] = {
        "改行 開業", "補完 保管", "誤変換 ご変換 御変換", "誤認識 ご認識 御認識", "誤作動 ご作動", "誤動作 ご動作",
        "誤検知 ご検知", "誤検出 ご検出", "誤判定 ご判定", "誤入力 ご入力", "誤操作 ご操作", "誤送信 ご送信",
        "誤字 五時 護持", "整形 成形 生計", "過少 過小", "指摘 私的", "推敲 遂行", "効く 聞く 利く",
        "効かない 聞かない 利かない", "効かなかった 聞かなかった", "効いてない 聞いてない",
        "効いていない 聞いていない", "効いてる 聞いてる", "効いている 聞いている", "効けば 聞けば",
        "見る 診る 看る 視る", "見て 診て 看て", "書く 描く 欠く", "書いて 描いて 欠いて", "変える 換える 代える",
        "変えて 換えて 代えて", "変わる 替わる 代わる", "合う 会う 遭う", "合わない 会わない", "早い 速い", "早く 速く",
        "熱い 厚い 暑い", "直す 治す", "直して 治して", "直る 治る", "取る 撮る 採る 捕る 執る", "取って 撮って 採って",
        "測る 計る 量る 図る 謀る 諮る", "開ける 空ける 明ける", "開いてる 空いてる", "閉じる 綴じる",
        "納める 収める 治める 修める", "務める 勤める 努める", "進める 勧める 薦める", "止める 留める 泊める",
        "上げる 挙げる 揚げる", "立つ 建つ 経つ 断つ 絶つ", "付く 着く 就く 突く 点く", "引く 弾く 惹く", "科学 化学",
        "機能 昨日", "解凍 回答 解答", "試行 思考 施行 志向 嗜好", "試行錯誤 思考錯誤", "遷移 繊維 戦意", "検知 見地",
        "推論 水論", "実装 実相", "語彙 語位", "精度 制度", "高速 拘束 校則", "前身 全身 前進 漸進", "確度 角度",
        "決済 決裁", "医師 意思 意志 遺志", "対象 対照 対称", "構成 校正 公正 攻勢 更生", "変換 返還",
        "使用 仕様 試用 私用", "作成 作製", "改訂 改定", "以上 異常 委譲", "解放 開放 快方", "簡潔 完結",
        "過程 仮定 課程 家庭", "確率 確立", "規定 既定 基底", "効率 高率 公立", "制作 製作 政策", "選択 洗濯",
        "調整 調製", "定義 提議", "展開 転回", "統合 投合", "反映 繁栄", "表示 標示", "並列 弊列", "変更 偏向",
        "優先 有線", "要件 用件", "改修 回収 会衆", "起動 軌道 機動", "並行 平行 平衡", "追及 追求 追究",
        "保証 保障 補償", "競合 強豪", "強調 協調", "脅威 驚異", "検討 見当 健闘", "効果 高価 硬貨 降下 硬化",
        "公開 更改 航海 後悔", "故障 呼称", "交渉 高尚", "更新 交信 行進 後進", "工程 肯定 行程 公定",
        "口頭 高騰 高等", "勾配 購買", "以降 移行 意向 遺構", "移管 遺憾", "依存 異存", "一貫 一環", "移動 異動",
        "期間 機関 基幹 帰還", "形式 型式", "形態 携帯", "健在 顕在", "現象 減少", "実行 実効", "収束 終息",
        "修正 修整 集成", "習得 修得 収得", "承認 証人 商人", "審査 診査", "進行 振興 信仰 新興", "推移 水位",
        "生成 精製", "正規 世紀 生起", "静止 制止 生死", "占有 専有", "中断 中段", "提示 呈示", "同期 動機 動悸",
        "特性 特製", "発行 発効 発酵", "負荷 付加 不可", "複製 副生", "保守 捕手", "補足 捕捉", "例外 冷害",
    };
    const char* const rulePairs[] = {
        "ご変換 誤変換", "御変換 誤変換", "ご認識 誤認識", "御認識 誤認識", "ご作動 誤作動", "ご動作 誤動作",
        "ご検知 誤検知", "ご検出 誤検出", "ご判定 誤判定", "ご送信 誤送信", "ご操作 誤操作",
        "コマンドも聞か コマンドも効か", "コマンドが聞か コマンドが効か", "うまく聞か うまく効か",
        "ちゃんと聞か ちゃんと効か", "拘束な 高速な", "拘束化 高速化", "機能はありがとう 昨日はありがとう",
        "昨日の実装 機能の実装", "昨日の追加 機能の追加", "制度を高め 精度を高め", "制度が上が 精度が上が",
        "制度を上げ 精度を上げ", "認識の制度 認識の精度", "全身の音声 前身の音声", "全身のアプリ 前身のアプリ",
        "全身のツール 前身のツール", "角度が高い 確度が高い", "角度の高い 確度の高い",
        "ショートカットが聞か ショートカットが効か", "再挿入も聞か 再挿入も効か", "キーが聞か キーが効か",
        "キャッシュが聞い キャッシュが効い", "稟議の決済 稟議の決裁", "決済が下り 決裁が下り",
        "社長の決済 社長の決裁", "文書を構成 文書を校正", "文章の構成を行 文章の校正を行", "漢字の返還 漢字の変換",
        "音声の返還 音声の変換", "メモリの開放 メモリの解放", "リソースの開放 リソースの解放", "既定値 規定値",
        "規定の動作 既定の動作", "自動保管 自動補完", "予測保管 予測補完", "入力保管 入力補完",
        "コード保管 コード補完", "文脈保管 文脈補完", "文章を保管 文章を補完", "テキストを保管 テキストを補完",
        "文脈から保管 文脈から補完", "文脈で保管 文脈で補完", "前後から保管 前後から補完", "保管候補 補完候補",
        "保管機能 補完機能", "保管して 補完して", "保管す 補完す", "保管でき 補完でき", "保管され 補完され",
        "保管の変換 補完の変換", "保管が誤変換 補完が誤変換", "五時脱字 誤字脱字", "護持脱字 誤字脱字",
        "文章を成形 文章を整形", "テキストを成形 テキストを整形", "自動成形 自動整形", "文脈を捕捉 文脈を補足",
        "説明を捕捉 説明を補足", "文章を遂行 文章を推敲",
    };
    std::vector<const char*> groups(std::begin(cohortGroups), std::end(cohortGroups));
    groups.insert(groups.end(), std::begin(rulePairs), std::end(rulePairs));
    for (const char* group : groups) {
        const std::vector<std::string> forms = words(group);
        const std::string first = SoundAlikeReading::hiragana(forms.front());
        EXPECT_FALSE(first.empty()) << group;
        for (const std::string& form : forms) {
            EXPECT_EQ(SoundAlikeReading::hiragana(form), first) << group << ": " << form;
        }
    }
}

TEST(SoundAlikeReadingTest, HiraganaReadsKanjiFoldsKanaAndKeepsLatin) {
    struct Case {
        const char* input;
        const char* hiragana;
    };
    const Case cases[] = {
        {"", ""},
        {"  \n ", ""},
        {"誤変換", "ごへんかん"},
        {"誤判定", "ごはんてい"},
        {"コアエムエル", "こあえむえる"},
        {"  ペロラボイス 2 ", "ぺろらぼいす2"},
        {"Core ML　で推論", "CoreMLですいろん"},
        {"ヴァイオリンとヴ", "ばいおりんとぶ"},
        {"ゔぁゔ", "ばぶ"},
        {"ー・ヷ", "ー・ヷ"},  // ー, ・ and U+30F7 are outside the folded range
        {"日本語音声にゅうりょく", "にほんごおんせいにゅうりょく"},
    };
    for (const Case& c : cases) EXPECT_EQ(SoundAlikeReading::hiragana(c.input), c.hiragana) << c.input;
}

TEST(SoundAlikeReadingTest, ReadingIsANormalisedLatinPhoneticString) {
    struct Case {
        const char* input;
        const char* reading;
    };
    const Case cases[] = {
        {"", ""},
        {"コアエムエル", "koaemueru"},
        {"こあえむえる", "koaemueru"},
        {"ペロラボイス2", "peroraboisu2"},
        {"ぺろらぼいすつー", "peroraboisutsu"},  // the long-vowel mark leaves no letter behind
        {"改行", "keigyo"},
        {"開業", "keigyo"},
        {"github", "gisub"},
        {"Core ML", "koremr"},
    };
    for (const Case& c : cases) EXPECT_EQ(SoundAlikeReading::reading(c.input), c.reading) << c.input;
}

TEST(SoundAlikeReadingTest, NormalizePhoneticLatinFollowsTheSpellingRules) {
    struct Case {
        const char* input;
        const char* output;
    };
    const Case cases[] = {
        {"knowledge", "noredg"},  // kn→n, ow→o, final e dropped, l→r
        {"axe", "akse"},          // too short for the final-e rule; x gives k then s
        {"Phone", "fon"},
        {"table", "tabre"},       // a final "le" keeps its e
        {"free", "fri"},          // ee→i before the final-e rule
        {"round", "rond"},        // ou→au→o
        {"vacuum", "bakum"},      // runs collapse
        {"boxx", "boksks"},       // the k of x is appended without the run check
        {"R2-D2!", "r2d2"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(SoundAlikeReading::normalizePhoneticLatin(c.input), c.output) << c.input;
}

TEST(SoundAlikeReadingTest, DistancesCountCharacters) {
    struct Case {
        const char* a;
        const char* b;
        std::size_t levenshtein;
        double weighted;
    };
    const Case cases[] = {
        {"", "", 0, 0},
        {"abc", "", 3, 3},
        {"", "abcd", 4, 4},
        {"ka", "kua", 1, 0.22},   // an inner u is cheap to insert
        {"ka", "uka", 1, 1.0},    // a leading insertion costs 1.0 even for a vowel
        {"kaku", "gaku", 1, 0.3}, // voiced / unvoiced pair
        {"sato", "seto", 1, 0.32},
        {"kan", "ka", 1, 0.55},
        {"abc", "xyz", 3, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        EXPECT_EQ(SoundAlikeReading::levenshtein(c.a, c.b), c.levenshtein);
        EXPECT_NEAR(SoundAlikeReading::weightedDistance(c.a, c.b), c.weighted, 1e-9);
    }
}

TEST(SoundAlikeReadingTest, SkeletonsAndSoundGroups) {
    EXPECT_EQ(SoundAlikeReading::consonantSkeleton("peroraboisu"), "prbs");
    EXPECT_EQ(SoundAlikeReading::consonantSkeleton("kyatto"), "kt");
    EXPECT_EQ(SoundAlikeReading::consonantSkeleton("aiueoyw"), "");

    EXPECT_TRUE(SoundAlikeReading::firstSoundGroupMatches("gemu", "kemu"));
    EXPECT_TRUE(SoundAlikeReading::firstSoundGroupMatches("wa", "ei"));
    EXPECT_FALSE(SoundAlikeReading::firstSoundGroupMatches("ma", "na"));  // m/n is not a first-sound group
    EXPECT_FALSE(SoundAlikeReading::firstSoundGroupMatches("", "a"));
    EXPECT_TRUE(SoundAlikeReading::sameConsonantGroup('m', 'n'));
    EXPECT_TRUE(SoundAlikeReading::sameConsonantGroup('f', 'p'));
    EXPECT_FALSE(SoundAlikeReading::sameConsonantGroup('a', 'e'));
    EXPECT_FALSE(SoundAlikeReading::sameConsonantGroup('k', 't'));

    struct Case {
        const char* a;
        const char* b;
        bool nearMiss;
    };
    const Case cases[] = {
        {"kt", "kt", true},           // equal, however short
        {"prrbs", "brrbs", true},     // one substitution inside the first-sound group
        {"prrbs", "prrbsk", false},   // last characters in different groups
        {"prbs", "prbz", false},      // shorter than 5
        {"prrbs", "prrbsss", false},  // lengths differ by 2
        {"prrbs", "pkkbs", false},    // two edits
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SoundAlikeReading::isSkeletonNearMiss(c.a, c.b), c.nearMiss) << c.a << " / " << c.b;
    }
}

TEST(SoundAlikeReadingTest, ScriptTests) {
    EXPECT_TRUE(SoundAlikeReading::containsJapaneseScript("abcの"));
    EXPECT_TRUE(SoundAlikeReading::containsJapaneseScript("x漢"));
    EXPECT_FALSE(SoundAlikeReading::containsJapaneseScript("Core ML 2"));
    EXPECT_FALSE(SoundAlikeReading::containsJapaneseScript("ｺｱ"));  // half-width katakana is outside the kana block
    EXPECT_EQ(SoundAlikeReading::katakanaLetterCount("ペロラ・ボイスー2"), 6u);
}

}  // namespace
}  // namespace pelora
