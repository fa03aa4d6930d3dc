#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "engine/japanese/GuardedSpanCorrector.h"

namespace pelora {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A language model that answers by script, after an optional delay that a stop request cuts short.
class ScriptedLanguageModel final : public OnDeviceLanguageModel {
public:
    Availability available = Availability::available;
    std::string answer;
    std::chrono::milliseconds delay{0};
    bool fails = false;

    Availability availability() const override { return available; }

    std::string respond(const std::string& prompt, std::stop_token stop) const override {
        ++calls;
        {
            std::lock_guard lock(mutex_);
            lastPrompt_ = prompt;
        }
        if (delay.count() > 0) {
            std::mutex waitMutex;
            std::condition_variable_any wake;
            std::unique_lock lock(waitMutex);
            wake.wait_for(lock, stop, delay, [] { return false; });
            if (stop.stop_requested()) {
                sawStop = true;
                throw std::runtime_error("stopped");
            }
        }
        if (fails) throw std::runtime_error("generation failed");
        return answer;
    }

    std::string lastPrompt() const {
        std::lock_guard lock(mutex_);
        return lastPrompt_;
    }

    mutable std::atomic<int> calls{0};
    mutable std::atomic<bool> sawStop{false};

private:
    mutable std::mutex mutex_;
    mutable std::string lastPrompt_;
};

// Equal outcomes, with confidences computed by sums compared to the last bits.
void expectOutcome(const SpanCorrectionOutcome& actual, const SpanCorrectionOutcome& expected) {
    ASSERT_EQ(actual.isFixed(), expected.isFixed());
    if (!actual.isFixed()) return;
    EXPECT_EQ(actual.fixedValue()->correctedText, expected.fixedValue()->correctedText);
    EXPECT_EQ(actual.fixedValue()->replacement, expected.fixedValue()->replacement);
    EXPECT_NEAR(actual.fixedValue()->confidence, expected.fixedValue()->confidence, 1e-9);
}

MirkSpanSuspicion suspicionOf(std::string span, std::optional<std::string> suggestion, double confidence) {
    return MirkSpanSuspicion(std::move(span), std::nullopt, std::nullopt, "MIRK文脈意図一致", std::move(suggestion),
                             confidence);
}

// ---- deterministic paths (the device's own model is unavailable) ----

TEST(SpanCorrectionTest, SuggestionThenTableUnderTheGuards) {
    struct Case {
        const char* name;
        std::string text;
        MirkSpanSuspicion suspicion;
        SpanCorrectionOutcome expected;
    };
    const Case cases[] = {
        {"suggestion with a supporting keyword", "文章の保管が変です", suspicionOf("保管", "補完", 0.94),
         SpanCorrectionOutcome::fixed("文章の補完が変です", "補完", 0.94)},
        {"suggestion below 0.82 falls to the table: one keyword gives 0.88", "文章の保管が変です",
         suspicionOf("保管", "補完", 0.81), SpanCorrectionOutcome::fixed("文章の補完が変です", "補完", 0.88)},
        {"table keeps a higher own confidence", "文章の保管が変です", suspicionOf("保管", std::nullopt, 0.95),
         SpanCorrectionOutcome::fixed("文章の補完が変です", "補完", 0.95)},
        {"two keywords give 0.92", "文章の保管で文字が変です", suspicionOf("保管", std::nullopt, 0.5),
         SpanCorrectionOutcome::fixed("文章の補完で文字が変です", "補完", 0.92)},
        {"table confidence never exceeds 0.99", "文章と文字とテキストの文脈と言葉を保管", suspicionOf("保管", std::nullopt, 0.5),
         SpanCorrectionOutcome::fixed("文章と文字とテキストの文脈と言葉を補完", "補完", 0.99)},
        {"no keyword anywhere: nothing", "保管が変です", suspicionOf("保管", "補完", 0.94),
         SpanCorrectionOutcome::unchanged()},
        {"fewer kanji never on the suggestion path", "音声の誤変換が多い文章", suspicionOf("誤変換", "ご変換", 0.94),
         SpanCorrectionOutcome::unchanged()},
        {"a suggestion that does not sound alike", "文章の保管が変です", suspicionOf("保管", "文書", 0.94),
         SpanCorrectionOutcome::fixed("文章の補完が変です", "補完", 0.94)},  // the table still finds 補完
        {"protected occurrence", "倉庫に保管する文章", suspicionOf("保管", "補完", 0.94),
         SpanCorrectionOutcome::unchanged()},
        {"span not in the text", "文章の補完が変です", suspicionOf("保管", "補完", 0.94),
         SpanCorrectionOutcome::unchanged()},
        {"開業 in a business context", "来月カフェを開業する文章", suspicionOf("開業", "改行", 0.94),
         SpanCorrectionOutcome::unchanged()},
        {"開業 in a text about editing", "文章の途中で開業したい", suspicionOf("開業", "改行", 0.94),
         SpanCorrectionOutcome::fixed("文章の途中で改行したい", "改行", 0.94)},
        {"required phrase present", "この変換候補の角度を見る", suspicionOf("角度", "確度", 0.94),
         SpanCorrectionOutcome::fixed("この変換候補の確度を見る", "確度", 0.94)},
        {"required phrase missing", "候補は別として角度を見る", suspicionOf("角度", "確度", 0.94),
         SpanCorrectionOutcome::unchanged()},
        {"suggestion equal to the span", "文章の保管が変です", suspicionOf("保管", "保管", 0.94),
         SpanCorrectionOutcome::fixed("文章の補完が変です", "補完", 0.94)},
    };
    const GuardedSpanCorrector corrector;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ": " + c.text);
        expectOutcome(corrector.correctSpan(c.text, c.suspicion, std::nullopt, true, 500), c.expected);
    }
}

TEST(SpanCorrectionTest, UsesTheContextsToFindTheRightOccurrenceAndTheFocusedTextAsEvidence) {
    const GuardedSpanCorrector corrector;
    MirkSpanSuspicion second("保管", "の", "が", "MIRK文脈意図一致", "補完", 0.94);
    EXPECT_EQ(corrector.correctSpan("保管する文章の保管が変", second, std::nullopt, false, 0),
              SpanCorrectionOutcome::fixed("保管する文章の補完が変", "補完", 0.94));

    const FocusedTextContext context{.preText = "テキスト入力"};
    EXPECT_EQ(corrector.correctSpan("保管が変です", suspicionOf("保管", "補完", 0.94), context, false, 0),
              SpanCorrectionOutcome::fixed("補完が変です", "補完", 0.94));
}

TEST(SpanCorrectionTest, TheUnavailableDefaultModelReturnsAtOnce) {
    EXPECT_FALSE(GuardedSpanCorrector::isOnDeviceFoundationModelAvailable());
    const GuardedSpanCorrector corrector;
    const auto start = Clock::now();
    EXPECT_EQ(corrector.correctSpan("この効果な時計", suspicionOf("効果", std::nullopt, 0.9), std::nullopt, true, 5000),
              SpanCorrectionOutcome::unchanged());
    EXPECT_LT(Clock::now() - start, 1000ms);
}

// ---- the language model ----

class ModelSpanCorrectionTest : public ::testing::Test {
protected:
    std::shared_ptr<ScriptedLanguageModel> model = std::make_shared<ScriptedLanguageModel>();
    GuardedSpanCorrector corrector{model};
    const std::string text = "この効果な時計を買った";
};

TEST_F(ModelSpanCorrectionTest, AcceptsAFittingAnswer) {
    struct Case {
        const char* answer;
        double suspicionConfidence;
        SpanCorrectionOutcome expected;
    };
    const Case cases[] = {
        {"高価", 0.7, SpanCorrectionOutcome::fixed("この高価な時計を買った", "高価", 0.86)},
        {"「高価」", 0.7, SpanCorrectionOutcome::fixed("この高価な時計を買った", "高価", 0.86)},
        {"  高価\n", 0.7, SpanCorrectionOutcome::fixed("この高価な時計を買った", "高価", 0.86)},
        {"高価", 0.9, SpanCorrectionOutcome::fixed("この高価な時計を買った", "高価", 0.9)},
        {"効果", 0.7, SpanCorrectionOutcome::unchanged()},          // the span itself
        {"「効果」", 0.7, SpanCorrectionOutcome::unchanged()},
        {"", 0.7, SpanCorrectionOutcome::unchanged()},
        {"「」", 0.7, SpanCorrectionOutcome::unchanged()},
        {"こうか", 0.7, SpanCorrectionOutcome::unchanged()},        // fewer kanji
        {"時計", 0.7, SpanCorrectionOutcome::unchanged()},          // does not sound alike
        {"高価な品物です", 0.7, SpanCorrectionOutcome::unchanged()},  // 5 characters longer than the span
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        model->answer = c.answer;
        expectOutcome(corrector.correctSpan(text, suspicionOf("効果", std::nullopt, c.suspicionConfidence),
                                            std::nullopt, true, 500),
                      c.expected);
    }
}

TEST_F(ModelSpanCorrectionTest, IsAskedOnlyWhenAllowedWithTimeAndConfidence) {
    struct Case {
        const char* name;
        bool allow;
        int timeoutMs;
        double confidence;
        OnDeviceLanguageModel::Availability availability;
        bool asked;
    };
    const Case cases[] = {
        {"allowed", true, 60, 0.65, OnDeviceLanguageModel::Availability::available, true},
        {"not allowed", false, 500, 0.9, OnDeviceLanguageModel::Availability::available, false},
        {"59 ms", true, 59, 0.9, OnDeviceLanguageModel::Availability::available, false},
        {"confidence 0.64", true, 500, 0.64, OnDeviceLanguageModel::Availability::available, false},
        {"unavailable", true, 500, 0.9, OnDeviceLanguageModel::Availability::unavailable, false},
    };
    model->answer = "高価";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        model->calls = 0;
        model->available = c.availability;
        const auto outcome =
            corrector.correctSpan(text, suspicionOf("効果", std::nullopt, c.confidence), std::nullopt, c.allow, c.timeoutMs);
        EXPECT_EQ(model->calls.load(), c.asked ? 1 : 0);
        EXPECT_EQ(outcome.isFixed(), c.asked);
    }
}

TEST_F(ModelSpanCorrectionTest, AnAnswerAfterTheBudgetHasNoEffect) {
    model->answer = "高価";
    model->delay = 2000ms;
    const auto start = Clock::now();
    EXPECT_EQ(corrector.correctSpan(text, suspicionOf("効果", std::nullopt, 0.9), std::nullopt, true, 100),
              SpanCorrectionOutcome::unchanged());
    EXPECT_LT(Clock::now() - start, 1500ms);
    EXPECT_TRUE(model->sawStop.load());  // the losing model was stopped and awaited

    model->delay = 30ms;  // a model within the budget wins
    EXPECT_TRUE(corrector.correctSpan(text, suspicionOf("効果", std::nullopt, 0.9), std::nullopt, true, 1000).isFixed());
}

TEST_F(ModelSpanCorrectionTest, AFailingModelChangesNothing) {
    model->fails = true;
    EXPECT_EQ(corrector.correctSpan(text, suspicionOf("効果", std::nullopt, 0.9), std::nullopt, true, 500),
              SpanCorrectionOutcome::unchanged());
    EXPECT_EQ(model->calls.load(), 1);
}

TEST_F(ModelSpanCorrectionTest, CancellationIsHonouredBeforeAndDuringTheRace) {
    model->answer = "高価";
    std::stop_source cancelled;
    cancelled.request_stop();
    EXPECT_EQ(corrector.correctSpan(text, suspicionOf("効果", std::nullopt, 0.9), std::nullopt, true, 500,
                                    cancelled.get_token()),
              SpanCorrectionOutcome::unchanged());
    EXPECT_EQ(model->calls.load(), 0);

    model->delay = 3000ms;
    std::stop_source stop;
    std::jthread canceller([&] {
        std::this_thread::sleep_for(50ms);
        stop.request_stop();
    });
    const auto start = Clock::now();
    EXPECT_EQ(corrector.correctSpan(text, suspicionOf("効果", std::nullopt, 0.9), std::nullopt, true, 2500,
                                    stop.get_token()),
              SpanCorrectionOutcome::unchanged());
    EXPECT_LT(Clock::now() - start, 2000ms);
}

TEST_F(ModelSpanCorrectionTest, ThePromptCarriesSpanReadingReasonAndContext) {
    model->answer = "高価";
    std::string longContext;
    for (int i = 0; i < 130; ++i) longContext += "文";
    const FocusedTextContext context{.preText = longContext};
    corrector.correctSpan(text, suspicionOf("効果", std::nullopt, 0.9), context, true, 500);

    std::string first120;
    for (int i = 0; i < 120; ++i) first120 += "文";
    const std::string expected =
        "あなたは日本語音声入力の同音異義語・誤変換補正エンジンです。\n以下の文に含まれる「効果」（読み: こうか）を、"
        "文脈に最も適した同じ読みの漢字表記1語のみに修正してください。\n余計な説明や鉤括弧は一切出力せず、置換後の語句のみを"
        "1行で出力してください。修正不要なら「効果」とだけ出力してください。\n\n全文: この効果な時計を買った\n対象箇所: 効果"
        "\n理由ヒント: MIRK文脈意図一致\n周辺テキスト文脈: " +
        first120;
    EXPECT_EQ(model->lastPrompt(), expected);
}

}  // namespace
}  // namespace pelora
