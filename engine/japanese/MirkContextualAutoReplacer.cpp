#include "engine/japanese/MirkContextualAutoReplacer.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "engine/japanese/FaithfulFormattingGuard.h"
#include "engine/japanese/HTTPMirkDecisionProvider.h"
#include "engine/japanese/JapaneseGroundedCandidate.h"
#include "engine/japanese/JapaneseInputProcessor.h"
#include "engine/japanese/MirkInputSecretStore.h"
#include "engine/japanese/SoundAlikeTermCorrector.h"
#include "engine/japanese/SpanCorrectionOutcome.h"
#include "engine/japanese/VocabularyAliasReplacement.h"
#include "platform/text/CharacterWindow.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {

constexpr const char* cleanUpAnnotation = "⚡ 文脈・句読点整合補正";
constexpr const char* remoteAnnotationPrefix = "🌐 MIRK API(mirk-latest): ";
constexpr const char* localAnnotationPrefix = "⚡ MIRK自動置換: ";
constexpr const char* localReason = "MIRK文脈意図一致";
constexpr const char* arrow = " → ";
constexpr double localSuspicionConfidence = 0.94;
constexpr float minimumEG2Similarity = 0.48f;
constexpr int minimumBudgetMs = 50;
constexpr int decisionNeedsMs = 60;
constexpr int decisionMaxMs = 650;
constexpr int detectionNeedsMs = 80;
constexpr int onDeviceModelNeedsMs = 60;
constexpr std::size_t contextCharacters = 5;
constexpr std::size_t maxDecisionCandidates = 14;

std::string fullContextOf(std::string_view text, const std::optional<FocusedTextContext>& context) {
    std::string full(text);
    full += " ";
    if (context) full += context->combinedContextText();
    return full;
}

bool containsAny(std::string_view haystack, const std::vector<std::string>& needles) {
    return std::any_of(needles.begin(), needles.end(),
                       [&](const std::string& needle) { return haystack.find(needle) != std::string_view::npos; });
}

// The last `count` user-perceived characters of `s`, found by walking back from its end
// (not by splitting the whole text, which would make every occurrence cost the text).
std::string lastCharacters(std::string_view s, std::size_t count) {
    const text::TextRange window = text::surroundingCharacters(s, {s.size(), s.size()}, count, 0);
    return std::string(s.substr(window.begin));
}

std::string firstCharacters(std::string_view s, std::size_t count) {
    const text::TextRange window = text::surroundingCharacters(s, {0, 0}, 0, count);
    return std::string(s.substr(0, window.end));
}

// Byte offsets of every occurrence of `form`, left to right, each search starting
// after the previous match.
std::vector<std::size_t> occurrencesOf(std::string_view text, std::string_view form) {
    std::vector<std::size_t> found;
    if (form.empty()) return found;
    for (std::size_t at = text.find(form); at != std::string_view::npos; at = text.find(form, at + form.size()))
        found.push_back(at);
    return found;
}

// Whether the protected-phrase and required-phrase tables let `wrong` at `range`
// become `candidate`.
bool occurrenceMayBecome(std::string_view text, text::TextRange range, const std::string& wrong,
                         const std::string& candidate) {
    if (GuardedSpanCorrector::isProtectedOccurrence(text, range, wrong)) return false;
    const auto& required = GuardedSpanCorrector::requiredPhrases();
    if (auto entry = required.find(wrong + "->" + candidate); entry != required.end()) {
        return containsAny(GuardedSpanCorrector::occurrenceWindow(text, range), entry->second);
    }
    return true;
}

// The decision service's choice, written only at the occurrences that keep the word
// boundaries and that the protected-phrase and required-phrase tables allow.
std::string applyDecision(std::string_view text, const std::string& original, const std::string& replacement) {
    std::string out;
    std::size_t copied = 0;
    for (std::size_t at : occurrencesOf(text, original)) {
        const text::TextRange range{at, at + original.size()};
        if (!occurrenceMayBecome(text, range, original, replacement)) continue;
        // The boundary rule looks only at the characters touching the occurrence.
        const std::string before = lastCharacters(text.substr(0, at), 1);
        const std::string after = firstCharacters(text.substr(range.end), 1);
        const std::string probe = before + original + after;
        if (replaceAliasWithBoundary(probe, original, replacement) != before + replacement + after) continue;
        out.append(text.substr(copied, at - copied));
        out += replacement;
        copied = range.end;
    }
    out.append(text.substr(copied));
    return out;
}

std::vector<std::string> withCues(std::initializer_list<const char*> cues) {
    return std::vector<std::string>(cues.begin(), cues.end());
}

std::vector<MirkContextualAutoReplacer::LocalHomophoneRule> buildLocalRules() {
    using Rule = MirkContextualAutoReplacer::LocalHomophoneRule;
    const std::vector<std::string> kaigyou = withCues(
        {"音声", "入力", "文字", "文章", "テキスト", "コマンド", "キー", "エディタ", "行", "段落", "変換", "誤変換", "句読点",
         "スペース", "カーソル", "バックスラッシュ", "開業したい", "開業って", "開業でき", "開業の", "開業が", "開業を",
         "開業も", "開業コード"});
    const std::vector<std::string> hokan = withCues(
        {"文章", "文字", "テキスト", "文脈", "言葉", "自動", "入力", "音声", "変換", "誤変換", "直せ", "直す", "直し", "修正",
         "句読点", "区切り", "おかしい", "正しい", "自然", "コード", "予測", "候補", "エディタ", "Pelora", "MIRK", "ミス",
         "保管して", "保管が変換", "保管の変換"});
    auto misconversion = [](const char* form, bool withError) {
        std::vector<std::string> cues{form, "音声", "入力", "変換", "文字", "文章", "直され", "補正"};
        if (withError) cues.emplace_back("エラー");
        return cues;
    };
    // The ご/御 forms of the 誤 words that are not about conversion: the device or rule misbehaving.
    auto malfunction = [](const char* form) {
        return std::vector<std::string>{form, "音声", "入力", "認識", "判定", "検出", "検知", "センサー", "動作",
                                        "挙動", "バグ", "不具合", "エラー", "設定", "補正", "直され"};
    };
    auto brand = [](const char* form, bool withList) {
        std::vector<std::string> cues{form, "音声", "入力", "変換", "誤変換", "ご変換", "補正", "直され", "モデル", "文脈", "候補"};
        if (withList) cues.emplace_back("リスト");
        return cues;
    };
    const std::vector<std::string> kikanai = withCues(
        {"ショートカット", "キー", "設定", "機能", "コマンド", "ボタン", "再挿入", "改行", "バックスラッシュ", "うまく", "全然",
         "なんか", "辞書", "変換"});
    auto yesterday = [](const char* timeWord) {
        return std::vector<std::string>{timeWord, "リリース", "ビルド", "会議", "ミーティング", "作業", "時点"};
    };
    const std::vector<std::string> unzip =
        withCues({"圧縮", "ZIP", "zip", "アーカイブ", "ファイル", "フォルダ", "展開", "ダウンロード", "ビルド"});
    const std::vector<std::string> price =
        withCues({"プラン", "サブスク", "料金", "改定", "月額", "年額", "販売", "設定", "コスト", "課金"});
    std::vector<std::string> priceHighLow = price;
    priceHighLow.emplace_back("高い");
    priceHighLow.emplace_back("安い");
    const std::vector<std::string> small = withCues(
        {"変な", "おかしい", "修正", "変更", "問題", "エラー", "バグ", "句読点", "文章", "コード", "該当", "指摘"});

    return {
        Rule{"開業", "改行", kaigyou},
        Rule{"保管", "補完", hokan},
        Rule{"ご変換", "誤変換", misconversion("ご変換", false)},
        Rule{"御変換", "誤変換", misconversion("御変換", false)},
        Rule{"ご認識", "誤認識", misconversion("ご認識", true)},
        Rule{"御認識", "誤認識", misconversion("御認識", true)},
        Rule{"ご作動", "誤作動", malfunction("ご作動")},
        Rule{"ご動作", "誤動作", malfunction("ご動作")},
        Rule{"ご検知", "誤検知", malfunction("ご検知")},
        Rule{"ご検出", "誤検出", malfunction("ご検出")},
        Rule{"ご判定", "誤判定", malfunction("ご判定")},
        Rule{"ミルコ", "MIRK", brand("ミルコ", false)},
        Rule{"ミルカ", "MIRK", brand("ミルカ", false)},
        Rule{"ミルパ", "MIRK", brand("ミルパ", true)},
        Rule{"ミルポ", "MIRK", brand("ミルポ", true)},
        Rule{"ミルップ", "MIRK", brand("ミルップ", true)},
        Rule{"ミロップ", "MIRK", brand("ミロップ", true)},
        Rule{"ミルクブ", "MIRK", brand("ミルクブ", false)},
        Rule{"ミルクヴ", "MIRK", brand("ミルクヴ", false)},
        Rule{"うまく聞か", "うまく効か", withCues({"うまく聞か"})},
        Rule{"ちゃんと聞か", "ちゃんと効か", withCues({"ちゃんと聞か"})},
        Rule{"コマンドも聞か", "コマンドも効か", withCues({"コマンドも聞か"})},
        Rule{"コマンドが聞か", "コマンドが効か", withCues({"コマンドが聞か"})},
        Rule{"機能の夜", "昨日の夜", yesterday("夜")},
        Rule{"機能の朝", "昨日の朝", yesterday("朝")},
        Rule{"機能の夕方", "昨日の夕方", yesterday("夕方")},
        Rule{"機能の段階", "昨日の段階", yesterday("段階")},
        Rule{"回答して", "解凍して", unzip},
        Rule{"回答する", "解凍する", unzip},
        Rule{"サブスクの科学", "サブスクの価格", withCues({"サブスク", "科学"})},
        Rule{"プランの科学", "プランの価格", withCues({"プラン", "科学"})},
        Rule{"科学を", "価格を", price},
        Rule{"科学が", "価格が", priceHighLow},
        Rule{"科学は", "価格は", priceHighLow},
        Rule{"科学の", "価格の", price},
        Rule{"という過程で", "という仮定で", withCues({"仮に", "もし", "前提", "想定", "場合", "仮定", "シナリオ"})},
        Rule{"思考錯誤", "試行錯誤", withCues({"思考錯誤"})},
        Rule{"思考回数", "試行回数", withCues({"試行", "回数", "テスト", "実験", "リトライ", "計測", "平均", "ベンチマーク"})},
        Rule{"画面の繊維", "画面の遷移", withCues({"画面", "繊維"})},
        Rule{"ページ繊維", "ページ遷移", withCues({"ページ", "繊維"})},
        Rule{"現地", "検知", withCues({"誤検知", "異常", "アラート", "監視", "センサー", "自動", "ログ", "侵入", "ウイルス"})},
        Rule{"聞かない", "効かない", kikanai},
        Rule{"聞かなかった", "効かなかった", kikanai},
        Rule{"聞いてない", "効いてない", kikanai},
        Rule{"聞く", "効く", kikanai},
        Rule{"水論", "推論", withCues({"モデル", "推論", "精度", "速度", "学習", "AI", "処理", "GPU", "実行", "データ"})},
        Rule{"実相", "実装", withCues({"機能", "コード", "実装", "設計", "テスト", "API", "仕様", "リリース", "プログラム", "アプリ"})},
        Rule{"取り合わせ", "問い合わせ",
             withCues({"問い合わせ", "メール", "窓口", "サポート", "返信", "連絡", "回答", "お客様", "フォーム"})},
        Rule{"語位", "語彙", withCues({"辞書", "単語", "語彙", "登録", "言葉", "変換", "用語", "表現"})},
        Rule{"制度", "精度",
             withCues({"認識", "変換", "推論", "モデル", "予測", "判定", "向上", "音声", "入力", "測定", "パーセント", "%"})},
        Rule{"拘束", "高速",
             withCues({"処理", "速度", "動作", "レスポンス", "変換", "起動", "実行", "パフォーマンス", "推論", "通信"})},
        Rule{"全身", "前身", withCues({"後継", "旧", "名称", "以前", "元々", "バージョン", "サービス", "会社", "団体", "プロジェクト"})},
        Rule{"角度", "確度", withCues({"候補", "高い", "自動", "置き換", "推論", "精度", "判定"})},
        Rule{"成形", "整形",
             withCues({"テキスト", "文章", "コード", "フォーマット", "書式", "データ", "出力", "Markdown", "句読点", "自動"})},
        Rule{"捕捉", "補足", withCues({"説明", "追記", "情報", "資料", "一言", "付け加", "コメント", "メモ", "注意"})},
        Rule{"過少", "箇所", small},
        Rule{"過小", "箇所", small},
        Rule{"破談", "破綻", withCues({"計画", "論理", "設計", "財政", "経営", "崩壊", "矛盾", "システム", "仕様", "前提"})},
        Rule{"遂行", "推敲", withCues({"文章", "原稿", "文面", "下書き", "修正", "見直", "校正", "テキスト", "表現"})},
    };
}

}  // namespace

const std::vector<MirkContextualAutoReplacer::LocalHomophoneRule>& MirkContextualAutoReplacer::localHomophoneRules() {
    static const std::vector<LocalHomophoneRule> rules = buildLocalRules();
    return rules;
}

const MirkContextualAutoReplacer& MirkContextualAutoReplacer::shared() {
    static const MirkContextualAutoReplacer instance;
    return instance;
}

MirkContextualAutoReplacer::MirkContextualAutoReplacer()
    : MirkContextualAutoReplacer(HTTPMirkDecisionProvider::shared(), GuardedSpanCorrector()) {}

MirkContextualAutoReplacer::MirkContextualAutoReplacer(const HTTPMirkDecisionProvider& decisionProvider,
                                                       GuardedSpanCorrector spanCorrector, Now now)
    : decisionProvider_(&decisionProvider), spanCorrector_(std::move(spanCorrector)), now_(std::move(now)) {}

std::string MirkContextualAutoReplacer::cleanUp(std::string_view text, const JapaneseInputOptions& options) {
    if (text.empty()) return {};
    std::string out = options.removeFillers ? JapaneseInputProcessor::removeJapaneseFillers(text) : std::string(text);
    out = JapaneseInputProcessor::repairThinkingPauseSlipsAndStutters(out);
    // As the post-processor does: punctuation is balanced at the user's density, and
    // left alone when automatic punctuation is off and the density is dense.
    if (options.autoPunctuate || options.punctuationDensity != JapanesePunctuationDensity::dense)
        out = JapaneseInputProcessor::balancePunctuationRhythm(out, options.punctuationDensity);
    return out;
}

std::vector<MirkSpanSuspicion> MirkContextualAutoReplacer::detectLocalSuspiciousHomophoneSpans(
    std::string_view input, const std::optional<FocusedTextContext>& context) {
    std::vector<MirkSpanSuspicion> found;
    if (input.empty()) return found;
    const std::string text = text::repairedUTF8(input);
    const std::string fullContext = fullContextOf(text, context);
    const auto& protectedTable = GuardedSpanCorrector::protectedPhrases();
    const auto& requiredTable = GuardedSpanCorrector::requiredPhrases();
    std::optional<bool> businessOpening;  // computed only when 開業 occurs

    for (const LocalHomophoneRule& rule : localHomophoneRules()) {
        if (text.find(rule.wrongForm) == std::string_view::npos) continue;
        if (rule.wrongForm == "開業") {
            if (!businessOpening) businessOpening = JapaneseInputProcessor::isBusinessKaigyouContext(fullContext);
            if (*businessOpening) continue;
        }
        // The cues are looked for in the whole text and context, so once per rule, not per occurrence.
        if (!rule.cues.empty() && !containsAny(fullContext, rule.cues)) continue;
        const auto protectedEntry = protectedTable.find(rule.wrongForm);
        const auto requiredEntry = requiredTable.find(rule.wrongForm + "->" + rule.replacement);
        for (std::size_t at : occurrencesOf(text, rule.wrongForm)) {
            const text::TextRange range{at, at + rule.wrongForm.size()};
            if (protectedEntry != protectedTable.end() || requiredEntry != requiredTable.end()) {
                const std::string window = GuardedSpanCorrector::occurrenceWindow(text, range);
                if (protectedEntry != protectedTable.end() && containsAny(window, protectedEntry->second)) continue;
                if (requiredEntry != requiredTable.end() && !containsAny(window, requiredEntry->second)) continue;
            }
            const std::string_view all = text;
            found.emplace_back(rule.wrongForm, lastCharacters(all.substr(0, at), contextCharacters),
                               firstCharacters(all.substr(range.end), contextCharacters), localReason,
                               rule.replacement, localSuspicionConfidence);
        }
    }
    return found;
}

MirkContextualAutoReplacer::Replacement MirkContextualAutoReplacer::autoReplaceHighConfidence(
    std::string_view input, std::string_view /*rawText*/, const std::vector<EG2Term>& eg2Terms,
    const std::vector<CustomVocabularyEntry>& customVocabulary,
    const std::optional<FocusedTextContext>& focusedContext, bool enableMirkNetwork,
    const JapaneseInputOptions& options, std::stop_token stop) const {
    const std::string text = text::repairedUTF8(input);
    std::vector<std::string> keptTerms;
    for (const EG2Term& term : eg2Terms)
        if (term.similarity >= minimumEG2Similarity) keptTerms.push_back(term.term);
    const std::vector<std::string> contextTerms =
        focusedContext ? focusedContext->extractedContextTerms() : std::vector<std::string>{};

    std::string stageText(text);
    std::vector<std::string> annotations;
    SoundAlikeTermCorrector::Correction soundAlike =
        SoundAlikeTermCorrector::correct(text, customVocabulary, keptTerms, contextTerms);
    if (soundAlike.text != text) {
        stageText = std::move(soundAlike.text);
        for (const auto& change : soundAlike.replacements)
            annotations.push_back("音韻距離補正(" + change.source + "): " + change.original + arrow + change.replacement);
    }

    MirkAutoReplacementResult inner = autoReplaceHighConfidence(stageText, focusedContext, 0.82, enableMirkNetwork,
                                                                /*allowOnDeviceLLM=*/true, 950, options, stop);
    std::string finalText = stageText;
    if (inner.correctedText != inner.originalText) {
        annotations.insert(annotations.end(), inner.appliedAnnotations.begin(), inner.appliedAnnotations.end());
        finalText = std::move(inner.correctedText);
    }
    // Against what the caller inserted, so that the sound-alike changes are patched too.
    std::optional<InsertedTextCorrection> correction = InsertedTextCorrection::compute(text, finalText);
    return Replacement{std::move(finalText), std::move(annotations), std::move(correction)};
}

MirkAutoReplacementResult MirkContextualAutoReplacer::autoReplaceHighConfidence(
    std::string_view input, const std::optional<FocusedTextContext>& context, double minConfidence,
    bool allowNetworkMirk, bool allowOnDeviceLLM, int timeoutMs, const JapaneseInputOptions& options,
    std::stop_token stop) const {
    const std::string text = text::repairedUTF8(input);
    if (text.empty() || stop.stop_requested())
        return MirkAutoReplacementResult{std::string(text), std::string(text), {}, std::nullopt};

    const Clock::time_point deadline = now_() + std::chrono::milliseconds(std::max(timeoutMs, minimumBudgetMs));
    auto remainingMs = [&]() -> int {
        const auto left = std::chrono::floor<std::chrono::milliseconds>(deadline - now_());
        return static_cast<int>(left.count());
    };

    std::string working(text);
    std::vector<std::string> annotations;
    auto runCleanUp = [&] {
        std::string cleaned = cleanUp(working, options);
        if (cleaned != working) {
            working = std::move(cleaned);
            annotations.emplace_back(cleanUpAnnotation);
        }
    };
    runCleanUp();

    const std::vector<MirkSpanSuspicion> local = detectLocalSuspiciousHomophoneSpans(working, context);
    std::set<std::string> handled;

    const bool networkAllowed = allowNetworkMirk && !stop.stop_requested() && [] {
        const std::optional<std::string> key = MirkInputSecretStore::loadAPIKey();
        return key && !key->empty();
    }();
    if (networkAllowed) {
        std::vector<JapaneseGroundedCandidate> candidates;
        std::set<std::string> localSpans;
        for (std::size_t i = 0; i < local.size(); ++i) {
            const MirkSpanSuspicion& suspicion = local[i];
            if (!suspicion.suggestedReplacement || working.find(suspicion.span) == std::string::npos) continue;
            // The decision service is asked about the first candidates only; rewriting the
            // whole text for each of the others would be work for nothing.
            if (candidates.size() >= maxDecisionCandidates) {
                localSpans.insert(suspicion.span);
                continue;
            }
            candidates.push_back(JapaneseGroundedCandidate{
                "candidate_" + std::to_string(i), suspicion.span, *suspicion.suggestedReplacement,
                text::replaceAllLiteral(working, suspicion.span, *suspicion.suggestedReplacement), "MIRK", 0,
                suspicion.confidence});
            localSpans.insert(suspicion.span);
        }
        const int cohortRoom = std::max(static_cast<int>(maxDecisionCandidates) - static_cast<int>(candidates.size()), 0);
        for (auto& cohort : GuardedSpanCorrector::generateCohortCandidates(working, context, localSpans, cohortRoom))
            candidates.push_back(std::move(cohort));

        if (!candidates.empty() && remainingMs() >= decisionNeedsMs) {
            const std::optional<JapaneseGroundedCandidate> decision = decisionProvider_->decideJapanese(
                working, candidates, context, std::min(remainingMs(), decisionMaxMs), stop);
            if (decision && decision->confidence >= minConfidence &&
                FaithfulFormattingGuard::isSafeReplacement(decision->originalSpan, decision->replacementSpan)) {
                std::string replaced = applyDecision(working, decision->originalSpan, decision->replacementSpan);
                if (replaced != working) {
                    handled.insert(decision->originalSpan);
                    annotations.push_back(remoteAnnotationPrefix + decision->originalSpan + arrow +
                                          decision->replacementSpan);
                    working = std::move(replaced);
                }
            }
        }

        if (remainingMs() >= detectionNeedsMs && !stop.stop_requested()) {
            const std::vector<MirkSpanSuspicion> remote =
                decisionProvider_->detectSuspiciousSpans(working, context, remainingMs(), stop);
            for (const MirkSpanSuspicion& found : remote) {
                if (handled.contains(found.span)) continue;
                if (stop.stop_requested()) break;
                MirkSpanSuspicion merged = found;
                const auto localMatch = std::find_if(local.begin(), local.end(),
                                                     [&](const MirkSpanSuspicion& l) { return l.span == found.span; });
                if (!merged.suggestedReplacement && localMatch != local.end())
                    merged.suggestedReplacement = localMatch->suggestedReplacement;
                merged.confidence =
                    std::max(found.confidence, localMatch != local.end() ? localMatch->confidence : 0.0);
                const int remaining = remainingMs();
                const SpanCorrectionOutcome outcome =
                    spanCorrector_.correctSpan(working, merged, context,
                                               allowOnDeviceLLM && remaining >= onDeviceModelNeedsMs,
                                               std::max(remaining, 0), stop);
                if (const auto* fixed = outcome.fixedValue(); fixed && fixed->confidence >= minConfidence) {
                    handled.insert(found.span);
                    annotations.push_back(remoteAnnotationPrefix + found.span + arrow + fixed->replacement);
                    working = fixed->correctedText;
                }
            }
        }
    }

    std::vector<MirkSpanSuspicion> kept;
    for (auto& suspicion : detectLocalSuspiciousHomophoneSpans(working, context))
        if (!handled.contains(suspicion.span) && suspicion.confidence >= minConfidence)
            kept.push_back(std::move(suspicion));
    bool triedLocalFix = false;
    for (const MirkSpanSuspicion& suspicion : kept) {
        if (stop.stop_requested()) break;
        const int remaining = remainingMs();
        // Each fix rewrites the whole text, so a long text with many suspicious spans
        // could take far longer than the budget: once the budget is spent, the first
        // pending fix is still made and the rest are left as they are.
        if (remaining < 0 && triedLocalFix) break;
        triedLocalFix = true;
        const SpanCorrectionOutcome outcome = spanCorrector_.correctSpan(
            working, suspicion, context, allowOnDeviceLLM && remaining >= onDeviceModelNeedsMs,
            std::max(remaining, 0), stop);
        if (const auto* fixed = outcome.fixedValue(); fixed && fixed->confidence >= minConfidence) {
            annotations.push_back(localAnnotationPrefix + suspicion.span + arrow + fixed->replacement);
            working = fixed->correctedText;
        }
    }

    if (!working.empty()) runCleanUp();

    std::optional<InsertedTextCorrection> patch = InsertedTextCorrection::compute(text, working);
    return MirkAutoReplacementResult{std::string(text), std::move(working), std::move(annotations), std::move(patch)};
}

}  // namespace pelora
