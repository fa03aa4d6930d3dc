#include "engine/japanese/JapaneseEmbeddingReranker.h"

#include <algorithm>
#include <unordered_set>

#include "engine/japanese/DefaultVocabulary.h"
#include "engine/japanese/GuardedSpanCorrector.h"
#include "engine/japanese/JapaneseInputProcessor.h"
#include "engine/japanese/SoundAlikeTermCorrector.h"
#include "engine/japanese/VocabularyAliasReplacement.h"
#include "platform/reading/JapaneseReading.h"
#include "platform/text/PunctuationCharacters.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {

constexpr std::string_view kKaigyou = "開業";
constexpr std::string_view kKaigyouReplacement = "改行";

bool contains(std::string_view haystack, std::string_view needle) {
    return haystack.find(needle) != std::string_view::npos;
}

// A form with protected phrases (保管, 設定, ...) inside a rule's pattern, at its byte offset.
struct GuardedForm {
    std::size_t offset;
    std::string form;
};

// For each contextual rule, the protected forms its pattern holds; built with the rules.
const std::vector<std::vector<GuardedForm>>& guardedFormsByRule() {
    static const std::vector<std::vector<GuardedForm>> guarded = [] {
        std::vector<std::vector<GuardedForm>> all;
        for (const auto& rule : JapaneseEmbeddingReranker::contextualHomophoneRules()) {
            std::vector<GuardedForm> forms;
            for (const auto& [form, phrases] : GuardedSpanCorrector::protectedPhrases()) {
                for (std::size_t at = rule.wrongPattern.find(form); at != std::string::npos;
                     at = rule.wrongPattern.find(form, at + 1)) {
                    forms.push_back({at, form});
                }
            }
            all.push_back(std::move(forms));
        }
        return all;
    }();
    return guarded;
}

// Every occurrence of the rule's pattern is replaced, except where a protected form inside
// it stands in one of its protected phrases (倉庫に保管して stays, whatever the context).
std::string applyRule(std::string_view text, const JapaneseEmbeddingReranker::ContextualHomophoneRule& rule,
                      const std::vector<GuardedForm>& guarded) {
    std::string out;
    std::size_t start = 0;
    for (std::size_t at = text.find(rule.wrongPattern); at != std::string_view::npos;
         at = text.find(rule.wrongPattern, at + rule.wrongPattern.size())) {
        const bool isProtected = std::any_of(guarded.begin(), guarded.end(), [&](const GuardedForm& g) {
            const std::size_t begin = at + g.offset;
            return GuardedSpanCorrector::isProtectedOccurrence(text, {begin, begin + g.form.size()}, g.form);
        });
        out.append(text.substr(start, at - start));
        out.append(isProtected ? rule.wrongPattern : rule.replacement);
        start = at + rule.wrongPattern.size();
    }
    out.append(text.substr(start));
    return out;
}

std::string replaceAll(std::string_view text, std::string_view target, std::string_view replacement) {
    std::string out;
    std::size_t start = 0;
    for (std::size_t at = text.find(target); at != std::string_view::npos; at = text.find(target, start)) {
        out.append(text.substr(start, at - start));
        out.append(replacement);
        start = at + target.size();
    }
    out.append(text.substr(start));
    return out;
}

}  // namespace

const std::vector<CustomVocabularyEntry>& JapaneseEmbeddingReranker::defaultVocabulary() {
    return pelora::defaultVocabulary();
}

std::string JapaneseEmbeddingReranker::replaceAliasWithBoundary(std::string_view text, std::string_view alias,
                                                                std::string_view surface) {
    return pelora::replaceAliasWithBoundary(text, alias, surface);
}

std::string JapaneseEmbeddingReranker::toHiragana(std::string_view text) { return reading::katakanaToHiragana(text); }

std::string JapaneseEmbeddingReranker::hiraganaReading(std::string_view text) {
    if (text.empty()) return {};
    const reading::JapaneseTokenizer* tokenizer = reading::JapaneseTokenizer::shared();
    if (tokenizer == nullptr) return toHiragana(text);
    std::string out;
    for (const reading::ReadingToken& token : tokenizer->tokenize(text)) {
        if (token.skipped) continue;  // text between words is not carried over
        out += toHiragana(token.reading.empty() ? token.text : token.reading);
    }
    return out;
}

const std::vector<JapaneseEmbeddingReranker::ContextualHomophoneRule>&
JapaneseEmbeddingReranker::contextualHomophoneRules() {
    static const std::vector<ContextualHomophoneRule> rules = {
        {"ご変換", "誤変換", {}, "同音異義語補正: ご変換 → 誤変換"},  // 1
        {"御変換", "誤変換", {}, "同音異義語補正: 御変換 → 誤変換"},  // 2
        {"ご認識", "誤認識", {"音声", "文字", "変換", "入力", "認識", "モデル", "補正", "直され", "エラー", "バグ"}, "同音異義語補正: ご認識 → 誤認識"},  // 3
        {"御認識", "誤認識", {"音声", "文字", "変換", "入力", "認識", "モデル", "補正", "直され", "エラー", "バグ"}, "同音異義語補正: 御認識 → 誤認識"},  // 4
        {"ご作動", "誤作動", {}, "同音異義語補正: ご作動 → 誤作動"},  // 5
        {"ご動作", "誤動作", {}, "同音異義語補正: ご動作 → 誤動作"},  // 6
        {"ご検知", "誤検知", {}, "同音異義語補正: ご検知 → 誤検知"},  // 7
        {"ご検出", "誤検出", {}, "同音異義語補正: ご検出 → 誤検出"},  // 8
        {"ご判定", "誤判定", {}, "同音異義語補正: ご判定 → 誤判定"},  // 9
        {"ご送信", "誤送信", {}, "同音異義語補正: ご送信 → 誤送信"},  // 10
        {"ご操作", "誤操作", {}, "同音異義語補正: ご操作 → 誤操作"},  // 11
        {"コマンドも聞か", "コマンドも効か", {}, "同音異義語補正: コマンドも聞か → コマンドも効か"},  // 12
        {"コマンドが聞か", "コマンドが効か", {}, "同音異義語補正: コマンドが聞か → コマンドが効か"},  // 13
        {"うまく聞か", "うまく効か", {"キー", "ショートカット", "設定", "機能", "コマンド", "改行", "バックスラッシュ", "ボタン", "ルール", "辞書", "変換", "補正", "フィルタ"}, "同音異義語補正: うまく聞か → うまく効か"},  // 14
        {"ちゃんと聞か", "ちゃんと効か", {"キー", "ショートカット", "設定", "機能", "コマンド", "改行", "バックスラッシュ", "ボタン", "ルール", "辞書", "変換", "補正"}, "同音異義語補正: ちゃんと聞か → ちゃんと効か"},  // 15
        {"ツールの設定について", "ツールの設計について", {"新しい", "音声入力", "アーキテクチャ", "モデル", "実装", "開発", "システム", "思想"}, "同音・近音補正: 設定 → 設計 (文脈: ツール/アーキテクチャ)"},  // 16
        {"システムの設定について", "システムの設計について", {"新しい", "アーキテクチャ", "モデル", "実装", "構造", "思想"}, "同音・近音補正: 設定 → 設計 (文脈: システム構造)"},  // 17
        {"設定思想", "設計思想", {}, "近音異義語補正: 設定思想 → 設計思想"},  // 18
        {"日本音声入力", "日本語音声入力", {"ツール", "アプリ", "新しい", "高速", "文字起こし"}, "複合語補正: 日本音声入力 → 日本語音声入力"},  // 19
        {"拘束な", "高速な", {"音声", "処理", "推論", "入力", "動作", "変換", "モデル", "認識"}, "同音異義語補正: 拘束な → 高速な"},  // 20
        {"拘束化", "高速化", {}, "同音異義語補正: 拘束化 → 高速化"},  // 21
        {"水論", "推論", {}, "同音異義語補正: 水論 → 推論"},  // 22
        {"実相", "実装", {"コード", "機能", "ルール", "アプリ", "ツール", "開発", "設計", "テスト", "モデル", "API", "UI"}, "同音異義語補正: 実相 → 実装"},  // 23
        {"取り合わせ", "問い合わせ", {"顧客", "対応", "サポート", "件数", "ユーザー", "お客様", "フォーム", "窓口"}, "近音異義語補正: 取り合わせ → 問い合わせ"},  // 24
        {"機能はありがとう", "昨日はありがとう", {}, "同音異義語補正: 機能はありがとう → 昨日はありがとう"},  // 25
        {"昨日の実装", "機能の実装", {"新しい", "追加", "開発", "設計", "仕様", "テスト", "コード", "UI"}, "同音異義語補正: 昨日の実装 → 機能の実装"},  // 26
        {"昨日の追加", "機能の追加", {"新しい", "開発", "設計", "仕様", "アプリ", "UI"}, "同音異義語補正: 昨日の追加 → 機能の追加"},  // 27
        {"制度を高め", "精度を高め", {"認識", "文字起こし", "モデル", "推論", "音声", "変換", "補正"}, "同音異義語補正: 制度 → 精度"},  // 28
        {"制度が上が", "精度が上が", {}, "同音異義語補正: 制度が上が → 精度が上が"},  // 29
        {"制度を上げ", "精度を上げ", {}, "同音異義語補正: 制度を上げ → 精度を上げ"},  // 30
        {"認識の制度", "認識の精度", {}, "同音異義語補正: 認識の制度 → 認識の精度"},  // 31
        {"語位", "語彙", {}, "同音異義語補正: 語位 → 語彙"},  // 32
        {"全身の音声", "前身の音声", {}, "同音異義語補正: 全身の音声 → 前身の音声"},  // 33
        {"全身のアプリ", "前身のアプリ", {}, "同音異義語補正: 全身のアプリ → 前身のアプリ"},  // 34
        {"全身のツール", "前身のツール", {}, "同音異義語補正: 全身のツール → 前身のツール"},  // 35
        {"角度が高い", "確度が高い", {"候補", "変換", "予測", "推論", "判定", "判断", "補正", "置き換", "自動", "スコア", "案件"}, "同音異義語補正: 角度が高い → 確度が高い"},  // 36
        {"角度の高い", "確度の高い", {"候補", "変換", "予測", "推論", "判定", "判断", "補正", "置き換", "自動", "スコア", "案件"}, "同音異義語補正: 角度の高い → 確度の高い"},  // 37
        {"現地した", "検知した", {"エラー", "バグ", "異常", "ポーズ", "音声", "入力", "無音", "自動", "センサー"}, "同音異義語補正: 現地した → 検知した"},  // 38
        {"現地する", "検知する", {"エラー", "バグ", "異常", "ポーズ", "音声", "入力", "無音", "自動", "センサー"}, "同音異義語補正: 現地する → 検知する"},  // 39
        {"ショートカットが聞か", "ショートカットが効か", {}, "同音異義語補正: ショートカットが聞か → ショートカットが効か"},  // 40
        {"再挿入も聞か", "再挿入も効か", {}, "同音異義語補正: 再挿入も聞か → 再挿入も効か"},  // 41
        {"キーが聞か", "キーが効か", {}, "同音異義語補正: キーが聞か → キーが効か"},  // 42
        {"キャッシュが聞い", "キャッシュが効い", {}, "同音異義語補正: キャッシュが聞い → キャッシュが効い"},  // 43
        {"稟議の決済", "稟議の決裁", {}, "同音異義語補正: 稟議の決済 → 稟議の決裁"},  // 44
        {"決済が下り", "決裁が下り", {}, "同音異義語補正: 決済が下り → 決裁が下り"},  // 45
        {"社長の決済", "社長の決裁", {}, "同音異義語補正: 社長の決済 → 社長の決裁"},  // 46
        {"文書を構成", "文書を校正", {"誤字", "脱字", "文章", "テキスト", "チェック", "原稿"}, "同音異義語補正: 文書を構成 → 文書を校正"},  // 47
        {"文章の構成を行", "文章の校正を行", {"誤字", "脱字", "チェック", "修正"}, "同音異義語補正: 文章の構成 → 文章の校正"},  // 48
        {"漢字の返還", "漢字の変換", {}, "同音異義語補正: 漢字の返還 → 漢字の変換"},  // 49
        {"音声の返還", "音声の変換", {}, "同音異義語補正: 音声の返還 → 音声の変換"},  // 50
        {"メモリの開放", "メモリの解放", {}, "同音異義語補正: メモリの開放 → メモリの解放"},  // 51
        {"リソースの開放", "リソースの解放", {}, "同音異義語補正: リソースの開放 → リソースの解放"},  // 52
        {"既定値", "規定値", {"上限", "基準", "超え", "満た"}, "同音異義語補正: 既定値 → 規定値"},  // 53
        {"規定の動作", "既定の動作", {"デフォルト", "初期", "標準", "設定"}, "同音異義語補正: 規定の動作 → 既定の動作"},  // 54
        {"弊列", "並列", {}, "同音異義語補正: 弊列 → 並列"},  // 55
        {"氷河指標", "評価指標", {}, "同音異義語補正: 氷河指標 → 評価指標"},  // 56
        {"拙速エラー", "接続エラー", {}, "同音異義語補正: 拙速エラー → 接続エラー"},  // 57
        {"自動保管", "自動補完", {}, "同音異義語補正: 自動保管 → 自動補完"},  // 58
        {"予測保管", "予測補完", {}, "同音異義語補正: 予測保管 → 予測補完"},  // 59
        {"入力保管", "入力補完", {}, "同音異義語補正: 入力保管 → 入力補完"},  // 60
        {"コード保管", "コード補完", {}, "同音異義語補正: コード保管 → コード補完"},  // 61
        {"文脈保管", "文脈補完", {}, "同音異義語補正: 文脈保管 → 文脈補完"},  // 62
        {"文章を保管", "文章を補完", {}, "同音異義語補正: 文章を保管 → 文章を補完"},  // 63
        {"テキストを保管", "テキストを補完", {}, "同音異義語補正: テキストを保管 → テキストを補完"},  // 64
        {"文脈から保管", "文脈から補完", {}, "同音異義語補正: 文脈から保管 → 文脈から補完"},  // 65
        {"文脈で保管", "文脈で補完", {}, "同音異義語補正: 文脈で保管 → 文脈で補完"},  // 66
        {"前後から保管", "前後から補完", {}, "同音異義語補正: 前後から保管 → 前後から補完"},  // 67
        {"保管候補", "補完候補", {}, "同音異義語補正: 保管候補 → 補完候補"},  // 68
        {"保管機能", "補完機能", {"文章", "文字", "テキスト", "文脈", "自動", "入力", "音声", "変換", "コード", "予測", "候補", "エディタ"}, "同音異義語補正: 保管機能 → 補完機能"},  // 69
        {"保管して", "補完して", {"文章", "文字", "テキスト", "文脈", "言葉", "自動", "入力", "音声", "変換", "直せ", "直す", "直し", "修正", "句読点", "区切り", "おかしい", "正しい", "自然", "コード", "予測", "候補"}, "同音異義語補正: 保管して → 補完して"},  // 70
        {"保管す", "補完す", {"文章", "文字", "テキスト", "文脈", "言葉", "自動", "入力", "音声", "変換", "直せ", "直す", "直し", "修正", "句読点", "区切り", "おかしい", "正しい", "自然", "コード", "予測", "候補"}, "同音異義語補正: 保管す → 補完す"},  // 71
        {"保管でき", "補完でき", {"文章", "文字", "テキスト", "文脈", "言葉", "自動", "入力", "音声", "変換", "直せ", "直す", "直し", "修正", "句読点", "区切り", "おかしい", "正しい", "自然", "コード", "予測", "候補"}, "同音異義語補正: 保管でき → 補完でき"},  // 72
        {"保管され", "補完され", {"文章", "文字", "テキスト", "文脈", "言葉", "自動", "入力", "音声", "変換", "直せ", "直す", "直し", "修正", "句読点", "区切り", "おかしい", "正しい", "自然", "コード", "予測", "候補"}, "同音異義語補正: 保管され → 補完され"},  // 73
        {"保管が変換", "補完の変換", {}, "同音異義語・助詞補正: 保管が変換 → 補完の変換"},  // 74
        {"保管の変換", "補完の変換", {}, "同音異義語補正: 保管の変換 → 補完の変換"},  // 75
        {"保管が誤変換", "補完が誤変換", {}, "同音異義語補正: 保管が誤変換 → 補完が誤変換"},  // 76
        {"たまにはきかに", "たまに明らかに", {}, "発話崩れ補正: たまにはきかに → たまに明らかに"},  // 77
        {"五時脱字", "誤字脱字", {}, "同音異義語補正: 五時脱字 → 誤字脱字"},  // 78
        {"護持脱字", "誤字脱字", {}, "同音異義語補正: 護持脱字 → 誤字脱字"},  // 79
        {"文章を成形", "文章を整形", {}, "同音異義語補正: 文章を成形 → 文章を整形"},  // 80
        {"テキストを成形", "テキストを整形", {}, "同音異義語補正: テキストを成形 → テキストを整形"},  // 81
        {"自動成形", "自動整形", {"文章", "テキスト", "句読点", "音声", "入力", "コード", "改行"}, "同音異義語補正: 自動成形 → 自動整形"},  // 82
        {"文脈を捕捉", "文脈を補足", {}, "同音異義語補正: 文脈を捕捉 → 文脈を補足"},  // 83
        {"説明を捕捉", "説明を補足", {}, "同音異義語補正: 説明を捕捉 → 説明を補足"},  // 84
        {"文章が破談", "文章が破綻", {}, "同音異義語補正: 文章が破談 → 文章が破綻"},  // 85
        {"文脈が破談", "文脈が破綻", {}, "同音異義語補正: 文脈が破談 → 文脈が破綻"},  // 86
        {"日本語が破談", "日本語が破綻", {}, "同音異義語補正: 日本語が破談 → 日本語が破綻"},  // 87
        {"文章を遂行", "文章を推敲", {}, "同音異義語補正: 文章を遂行 → 文章を推敲"},  // 88
    };
    return rules;
}

const std::vector<std::pair<std::string, JapaneseEmbeddingReranker::EnglishTerm>>&
JapaneseEmbeddingReranker::englishTermTable() {
    static const std::vector<std::pair<std::string, EnglishTerm>> table = {
        {"gemma", {{"ジェマ", "ジェンマ", "ゲマ"}, "Gemma"}},
        {"embedding", {{"エンベディング", "エンベッディング", "エンベッド"}, "Embedding"}},
        {"whisper", {{"ウィスパー", "ウイスパー"}, "Whisper"}},
        {"swift", {{"スウィフト", "スイフト"}, "Swift"}},
        {"apple", {{"アップル"}, "Apple"}},
        {"neural", {{"ニューラル"}, "Neural"}},
        {"latency", {{"レイテンシ", "レイテンシー"}, "レイテンシ"}},
        {"token", {{"トークン"}, "トークン"}},
        {"vector", {{"ベクトル", "ベクター"}, "ベクトル"}},
        {"matrix", {{"マトリックス", "マトリクス"}, "マトリックス"}},
        {"github", {{"ギットハブ", "ギット"}, "GitHub"}},
        {"api", {{"エーピーアイ"}, "API"}},
        {"json", {{"ジェイソン", "ジェーソン"}, "JSON"}},
        {"coreml", {{"コアエムエル", "コアML"}, "Core ML"}},
        {"keychain", {{"キーチェーン"}, "Keychain"}},
        {"accessibility", {{"アクセシビリティ", "アクセシビリティー"}, "アクセシビリティ"}},
    };
    return table;
}

const std::vector<std::string>& JapaneseEmbeddingReranker::kaigyouContextWords() {
    static const std::vector<std::string> words = {
        "開業したい", "開業して", "開業した", "開業する", "開業され", "開業でき", "開業って", "開業と",
        "開業の", "開業が", "開業を", "開業も", "開業は", "開業で", "開業に", "開業コード",
        "開業文字", "開業キー", "自動開業", "手動開業", "音声", "入力", "文字", "文章",
        "テキスト", "コマンド", "キー", "エディタ", "行", "段落", "変換", "誤変換",
        "句読点", "スペース", "カーソル",
    };
    return words;
}

CorrectedText JapaneseEmbeddingReranker::rerank(std::string_view input,
                                                const std::vector<TranscribedWord>& eg2HighConfidenceTerms,
                                                const std::vector<CustomVocabularyEntry>& customVocabulary,
                                                const std::optional<FocusedTextContext>& focusedContext) const {
    const std::string text = text::repairedUTF8(input);
    CorrectedText result{text, {}};
    if (text.empty()) return result;
    std::string& current = result.first;
    std::vector<std::string>& annotations = result.second;

    // Evidence for the context-dependent stages: the text as it came in plus the focused field.
    const std::string focusedText = focusedContext ? focusedContext->combinedContextText() : std::string();
    const std::string contextHaystack =
        focusedText.empty() ? std::string(text) : std::string(text) + " " + focusedText;
    std::vector<CustomVocabularyEntry> active;
    for (const CustomVocabularyEntry& entry : customVocabulary) {
        if (entry.enabled) active.push_back(entry);
    }

    // 1. Vocabulary aliases; an entry stops once its surface stands in the text. Aliases
    // are looked for case-insensitively in the case-folded text, folded again only when
    // it changes.
    std::string foldedCurrent = text::foldCase(current);
    for (const CustomVocabularyEntry& entry : active) {
        for (const std::string& alias : entry.aliases) {
            if (alias.empty() || contains(current, entry.surface) || !contains(foldedCurrent, text::foldCase(alias))) {
                continue;
            }
            std::string replaced = replaceAliasWithBoundary(current, alias, entry.surface);
            if (replaced == current) continue;
            current = std::move(replaced);
            foldedCurrent = text::foldCase(current);
            annotations.push_back("語彙辞書補正: " + alias + " → " + entry.surface);
        }
    }

    // 2. Sound-alike terms.
    {
        auto [corrected, soundAlikeAnnotations] = SoundAlikeTermCorrector::correct(
            current, active, eg2HighConfidenceTerms,
            focusedContext ? focusedContext->extractedContextTerms() : std::vector<std::string>{});
        if (corrected != current) {
            current = std::move(corrected);
            annotations.insert(annotations.end(), soundAlikeAnnotations.begin(), soundAlikeAnnotations.end());
        }
    }

    // 3. Contextual rules, in order, each on the output of the ones before.
    const auto& rules = contextualHomophoneRules();
    const auto& guarded = guardedFormsByRule();
    for (std::size_t i = 0; i < rules.size(); ++i) {
        const ContextualHomophoneRule& rule = rules[i];
        if (!contains(current, rule.wrongPattern)) continue;
        if (!rule.requiredContextAny.empty() &&
            !GuardedSpanCorrector::hasContextEvidence(contextHaystack, rule.wrongPattern, rule.requiredContextAny)) {
            continue;
        }
        std::string rewritten = applyRule(current, rule, guarded[i]);
        if (rewritten == current) continue;
        current = std::move(rewritten);
        if (!rule.note.empty()) annotations.push_back(rule.note);
    }

    // 4. 開業 heard for 改行 where the context is about editing text, not about businesses.
    if (contains(current, kKaigyou) && !JapaneseInputProcessor::isBusinessKaigyouContext(contextHaystack) &&
        GuardedSpanCorrector::hasContextEvidence(contextHaystack, kKaigyou, kaigyouContextWords())) {
        current = replaceAll(current, kKaigyou, kKaigyouReplacement);
        annotations.push_back("同音異義語補正: 開業 → 改行");
    }

    // 5. Deterministic homophones; their labels are not repeated.
    {
        auto solution = GuardedSpanCorrector::solveDeterministicHomophones(current, contextHaystack);
        if (solution.text != current) {
            current = std::move(solution.text);
            for (std::string& annotation : solution.annotations) {
                if (std::find(annotations.begin(), annotations.end(), annotation) == annotations.end()) {
                    annotations.push_back(std::move(annotation));
                }
            }
        }
    }

    // 6. Stutters and slips of a thinking pause.
    {
        std::string repaired = JapaneseInputProcessor::repairThinkingPauseSlipsAndStutters(current);
        if (repaired != current) {
            current = std::move(repaired);
            annotations.push_back("発話崩れ・助詞整合補正");
        }
    }

    // 7. English terms the EG2 pipeline heard where the Japanese recogniser wrote katakana.
    std::vector<std::string> keys;
    for (const TranscribedWord& word : eg2HighConfidenceTerms) {
        std::string key = text::trimPunctuation(text::toLower(word.rawText));
        if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(std::move(key));
    }
    const auto& terms = englishTermTable();
    for (const std::string& key : keys) {
        const auto term = std::find_if(terms.begin(), terms.end(), [&](const auto& row) { return row.first == key; });
        if (term == terms.end()) continue;
        const EnglishTerm& english = term->second;
        for (const std::string& alias : english.aliases) {
            if (!contains(current, alias) || contains(current, english.canonical)) continue;
            current = replaceAll(current, alias, english.canonical);
            annotations.push_back("EG2ベクトル融合: " + alias + " → " + english.canonical);
        }
    }
    return result;
}

}  // namespace pelora
