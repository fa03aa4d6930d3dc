#include "engine/japanese/MirkContextualAutoReplacer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "engine/japanese/HTTPMirkDecisionProvider.h"
#include "tests/support/ScriptedDecisionService.h"

namespace pelora {
namespace {

using nlohmann::json;
using testing::LocalHttpServer;
using testing::ScriptedDecisionService;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

const JapaneseInputOptions defaults{};

// ---- local detection ----

TEST(LocalHomophoneRulesTest, FiftyNineRowsEachWithCues) {
    const auto& rules = MirkContextualAutoReplacer::localHomophoneRules();
    ASSERT_EQ(rules.size(), 59u);
    EXPECT_EQ(rules.front().wrongForm, "開業");
    EXPECT_EQ(rules.front().replacement, "改行");
    EXPECT_EQ(rules.back().wrongForm, "遂行");
    EXPECT_EQ(rules.back().replacement, "推敲");
    for (const auto& rule : rules) {
        SCOPED_TRACE(rule.wrongForm);
        EXPECT_FALSE(rule.cues.empty());
        EXPECT_NE(rule.wrongForm, rule.replacement);
    }
}

TEST(LocalHomophoneRulesTest, DetectsGuardedOccurrences) {
    struct Case {
        const char* name;
        std::string text;
        std::optional<FocusedTextContext> context;
        std::vector<MirkSpanSuspicion> expected;
    };
    const auto local = [](const char* span, const char* left, const char* right, const char* replacement) {
        return MirkSpanSuspicion(span, left, right, "MIRK文脈意図一致", replacement, 0.94);
    };
    const Case cases[] = {
        {"保管 about text", "文章の保管が変です", std::nullopt, {local("保管", "文章の", "が変です", "補完")}},
        {"cue in the focused context", "保管が変です", FocusedTextContext{.preText = "テキスト"},
         {local("保管", "", "が変です", "補完")}},
        {"no cue", "保管が変です", std::nullopt, {}},
        {"protected 倉庫に保管", "文章を倉庫に保管する", std::nullopt, {}},
        {"business opening", "カフェを開業したい文章", std::nullopt, {}},
        {"開業 while editing", "ここで開業したい文章", std::nullopt, {local("開業", "ここで", "したい文章", "改行")}},
        {"required phrase missing", "カメラの向きと角度を候補から", std::nullopt, {}},
        {"twice, each with its own contexts", "文章の保管と、あとテキストの保管も",
         std::nullopt,
         {local("保管", "文章の", "と、あとテ", "補完"), local("保管", "テキストの", "も", "補完")}},
        {"table order then occurrence order", "ご変換の保管が多い音声", std::nullopt,
         {local("保管", "ご変換の", "が多い音声", "補完"), local("ご変換", "", "の保管が多", "誤変換")}},
        {"empty text", "", std::nullopt, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ": " + c.text);
        EXPECT_EQ(MirkContextualAutoReplacer::detectLocalSuspiciousHomophoneSpans(c.text, c.context), c.expected);
    }
}

TEST(LocalHomophoneRulesTest, LongTextsAreScannedOccurrenceByOccurrence) {
    std::string text;
    for (int i = 0; i < 2000; ++i) text += "文章の保管が変です。";
    const auto found = MirkContextualAutoReplacer::detectLocalSuspiciousHomophoneSpans(text, std::nullopt);
    ASSERT_EQ(found.size(), 2000u);
    const auto local = [](const char* left, const char* right) {
        return MirkSpanSuspicion("保管", left, right, "MIRK文脈意図一致", "補完", 0.94);
    };
    EXPECT_EQ(found.front(), local("文章の", "が変です。"));
    EXPECT_EQ(found[1], local("す。文章の", "が変です。"));
    EXPECT_EQ(found.back(), local("す。文章の", "が変です。"));
}

// ---- the pass ----

// A monotonic clock that tests move by hand.
struct ManualClock {
    Clock::time_point base = Clock::now();
    std::shared_ptr<std::atomic<long long>> offsetMs = std::make_shared<std::atomic<long long>>(0);
    MirkContextualAutoReplacer::Now now() const {
        return [base = base, offset = offsetMs] { return base + std::chrono::milliseconds(offset->load()); };
    }
    void advance(std::chrono::milliseconds by) const { *offsetMs += by.count(); }
};

bool isDecisionRequest(const json& body) { return body.contains("questions") && body["questions"].contains("correction"); }

json choose(const std::string& id, double confidence) {
    return json{{"answers", {{"correction", {{"choice", id}, {"confidence", confidence}}}}}};
}

// The noul answer naming every phrase whose text is `text`.
json flagPhrase(const json& body, const std::string& text, double noul) {
    json answers = json::object();
    for (const auto& phrase : body["state"]["phrases"])
        if (phrase["text"] == text) answers[phrase["id"].get<std::string>()] = {{"noul", noul}};
    return json{{"answers", answers}};
}

class AutoReplacerTest : public ::testing::Test {
protected:
    ScriptedDecisionService service;
    HTTPMirkDecisionProvider provider{service.endpoint()};
    ManualClock clock;
    MirkContextualAutoReplacer replacer{provider, GuardedSpanCorrector(), clock.now()};

    MirkAutoReplacementResult run(std::string_view text, bool network, int timeoutMs = 950,
                                  const JapaneseInputOptions& options = {}, std::stop_token stop = {},
                                  std::optional<FocusedTextContext> context = std::nullopt) {
        return replacer.autoReplaceHighConfidence(text, context, 0.82, network, true, timeoutMs, options, stop);
    }
};

TEST_F(AutoReplacerTest, EmptyOrCancelledReturnsAtOnce) {
    EXPECT_EQ(run("", true), (MirkAutoReplacementResult{"", "", {}, std::nullopt}));
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(run("えーと、文章の保管が変です", true, 950, defaults, stop.get_token()),
              (MirkAutoReplacementResult{"えーと、文章の保管が変です", "えーと、文章の保管が変です", {}, std::nullopt}));
    EXPECT_EQ(service.requestCount(), 0u);
}

TEST_F(AutoReplacerTest, LocalCorrectionWithCleanUpBeforeAndAfter) {
    const auto result = run("えーと、音声入力はまあ、ご変換が多い", false);
    EXPECT_EQ(result.correctedText, "音声入力は誤変換が多い");
    EXPECT_EQ(result.appliedAnnotations,
              (Strings{"⚡ 文脈・句読点整合補正", "⚡ MIRK自動置換: ご変換 → 誤変換", "⚡ 文脈・句読点整合補正"}));
    EXPECT_TRUE(result.didReplace());
    ASSERT_TRUE(result.inPlaceCorrection.has_value());
    EXPECT_EQ(*result.inPlaceCorrection, *InsertedTextCorrection::compute(result.originalText, result.correctedText));
}

TEST_F(AutoReplacerTest, TheCleanUpFollowsTheUsersOptions) {
    struct Case {
        const char* name;
        std::string text;
        JapaneseInputOptions options;
        std::string expected;
        Strings annotations;
    };
    JapaneseInputOptions keepFillers;
    keepFillers.removeFillers = false;
    JapaneseInputOptions dense;
    dense.punctuationDensity = JapanesePunctuationDensity::dense;
    JapaneseInputOptions keepFillersDense = keepFillers;
    keepFillersDense.punctuationDensity = JapanesePunctuationDensity::dense;
    JapaneseInputOptions denseManual = dense;
    denseManual.autoPunctuate = false;
    const Case cases[] = {
        {"defaults remove fillers", "えーと、文章の保管が変です", defaults, "文章の補完が変です",
         {"⚡ 文脈・句読点整合補正", "⚡ MIRK自動置換: 保管 → 補完"}},
        {"fillers and commas kept when the user keeps them", "えーと、文章の保管が変です", keepFillersDense,
         "えーと、文章の補完が変です", {"⚡ MIRK自動置換: 保管 → 補完"}},
        {"fillers kept, commas thinned at balanced", "えーと、文章の保管が変です", keepFillers,
         "えーと文章の補完が変です", {"⚡ 文脈・句読点整合補正", "⚡ MIRK自動置換: 保管 → 補完"}},
        {"stutters are repaired either way", "変換が変換が変です", keepFillers, "変換が変です",
         {"⚡ 文脈・句読点整合補正"}},
        {"balanced thins a trailing comma", "今日は晴れ、", defaults, "今日は晴れ", {"⚡ 文脈・句読点整合補正"}},
        {"dense keeps commas", "今日は晴れ、", dense, "今日は晴れ、", {}},
        {"dense without automatic punctuation leaves punctuation alone", "今日は晴れ、", denseManual, "今日は晴れ、", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ": " + c.text);
        const auto result = run(c.text, false, 950, c.options);
        EXPECT_EQ(result.correctedText, c.expected);
        EXPECT_EQ(result.appliedAnnotations, c.annotations);
        EXPECT_EQ(result.inPlaceCorrection.has_value(), c.expected != c.text);
    }
}

TEST_F(AutoReplacerTest, WithoutAKeyTheNetworkStagesDoNotRun) {
    service.setKey(nullptr);
    const auto withNetwork = run("文章の保管が変です", true);
    const auto without = run("文章の保管が変です", false);
    EXPECT_EQ(withNetwork, without);
    EXPECT_EQ(withNetwork.correctedText, "文章の補完が変です");
    EXPECT_EQ(service.requestCount(), 0u);
}

TEST_F(AutoReplacerTest, ATinyBudgetSkipsTheServiceButStillCorrectsLocally) {
    const auto result = run("文章の保管が変です", true, 0);
    EXPECT_EQ(result.correctedText, "文章の補完が変です");
    EXPECT_EQ(service.requestCount(), 0u);
}

TEST_F(AutoReplacerTest, TheServicesChoiceIsAppliedOnceAndNotCorrectedAgain) {
    service.answerWith([](const json& body) {
        return ScriptedDecisionService::json(isDecisionRequest(body) ? choose("candidate_0", 0.9)
                                                                     : json{{"answers", json::object()}});
    });
    const auto result = run("文章の保管が変です", true);
    EXPECT_EQ(result.correctedText, "文章の補完が変です");
    EXPECT_EQ(result.appliedAnnotations, (Strings{"🌐 MIRK API(mirk-latest): 保管 → 補完"}));
    ASSERT_EQ(service.requestCount(), 2u);  // the decision, then span detection on the new text

    const json decision = json::parse(service.requests()[0].body);
    EXPECT_EQ(decision["state"]["candidates"][0]["id"], "candidate_0");
    EXPECT_EQ(decision["state"]["candidates"][0]["rewritten_transcript"], "文章の補完が変です");
    EXPECT_EQ(json::parse(service.requests()[1].body)["state"]["utterance"], "文章の補完が変です");
}

TEST_F(AutoReplacerTest, TheServicesChoiceSkipsGuardedOccurrences) {
    struct Case {
        const char* text;
        const char* expected;
        const char* annotation;
    };
    const Case cases[] = {
        // The first 保管 stands in a protected phrase.
        {"倉庫に保管した文章の保管が変", "倉庫に保管した文章の補完が変", "🌐 MIRK API(mirk-latest): 保管 → 補完"},
        // Only the first 角度 has the phrase that 角度 → 確度 requires.
        {"候補の角度を見て別の角度も", "候補の確度を見て別の角度も", "🌐 MIRK API(mirk-latest): 角度 → 確度"},
    };
    service.answerWith([](const json& body) {
        return ScriptedDecisionService::json(isDecisionRequest(body) ? choose("candidate_0", 0.95)
                                                                     : json{{"answers", json::object()}});
    });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto result = run(c.text, true);
        EXPECT_EQ(result.correctedText, c.expected);
        EXPECT_EQ(result.appliedAnnotations, (Strings{c.annotation}));
    }
}

TEST_F(AutoReplacerTest, LowOrUnsafeDecisionsAreDropped) {
    struct Case {
        const char* name;
        json reply;
    };
    const Case cases[] = {
        {"service keeps the text", choose("KEEP", 0.99)},
        {"below the minimum confidence", choose("candidate_0", 0.81)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service.answerWith([&](const json& body) {
            return ScriptedDecisionService::json(isDecisionRequest(body) ? c.reply : json{{"answers", json::object()}});
        });
        const auto result = run("文章の保管が変です", true);
        // The local stage still fixes the span.
        EXPECT_EQ(result.correctedText, "文章の補完が変です");
        EXPECT_EQ(result.appliedAnnotations, (Strings{"⚡ MIRK自動置換: 保管 → 補完"}));
    }
}

TEST_F(AutoReplacerTest, RemotelyDetectedSpansAreFixedWithTheLocalSuggestion) {
    service.answerWith([](const json& body) {
        return ScriptedDecisionService::json(isDecisionRequest(body) ? choose("KEEP", 0.99)
                                                                     : flagPhrase(body, "保管", 0.9));
    });
    const auto result = run("文章の保管が変です", true);
    EXPECT_EQ(result.correctedText, "文章の補完が変です");
    EXPECT_EQ(result.appliedAnnotations, (Strings{"🌐 MIRK API(mirk-latest): 保管 → 補完"}));
}

TEST_F(AutoReplacerTest, FailingServiceLeavesTheLocalResult) {
    for (auto reply : {LocalHttpServer::Reply::withStatus(503), LocalHttpServer::Reply::ok("garbage"),
                       LocalHttpServer::Reply::ok("{}").droppedAfter(1)}) {
        service.answer(reply);
        const auto result = run("文章の保管が変です", true);
        EXPECT_EQ(result.correctedText, "文章の補完が変です");
        EXPECT_EQ(result.appliedAnnotations, (Strings{"⚡ MIRK自動置換: 保管 → 補完"}));
    }
}

TEST_F(AutoReplacerTest, StagesNeedTheirTimeOnTheMonotonicClock) {
    // The decision takes 900 ms of the 950 ms budget: detection (needs 80 ms) is skipped.
    service.answerWith([this](const json& body) {
        clock.advance(900ms);
        return ScriptedDecisionService::json(isDecisionRequest(body) ? choose("KEEP", 0.99)
                                                                     : flagPhrase(body, "保管", 0.9));
    });
    const auto result = run("文章の保管が変です", true);
    EXPECT_EQ(service.requestCount(), 1u);
    EXPECT_EQ(result.appliedAnnotations, (Strings{"⚡ MIRK自動置換: 保管 → 補完"}));

    // With the whole budget gone before the pass starts its network stages, none runs.
    service.server().clearRequests();
    service.answerWith([](const json&) { return ScriptedDecisionService::json(choose("candidate_0", 0.99)); });
    MirkContextualAutoReplacer late{provider, GuardedSpanCorrector(), [this] {
                                        clock.advance(1000ms);  // each reading of the clock costs a second
                                        return clock.now()();
                                    }};
    const auto lateResult = late.autoReplaceHighConfidence("文章の保管が変です", std::nullopt, 0.82, true, true, 950,
                                                           defaults);
    EXPECT_EQ(service.requestCount(), 0u);
    EXPECT_EQ(lateResult.correctedText, "文章の補完が変です");
}

TEST_F(AutoReplacerTest, LocalFixesStopOnceTheBudgetIsSpent) {
    std::string text;
    for (int i = 0; i < 20; ++i) text += "文章の保管が変です。";
    const auto fixes = [](const MirkAutoReplacementResult& result) {
        return std::count(result.appliedAnnotations.begin(), result.appliedAnnotations.end(),
                          std::string("⚡ MIRK自動置換: 保管 → 補完"));
    };
    // Within the budget every suspicious span is fixed.
    EXPECT_EQ(fixes(run(text, false)), 20);

    // Each reading of this clock costs a second: the budget is gone before the first fix,
    // which is still made; the others are left.
    MirkContextualAutoReplacer slow{provider, GuardedSpanCorrector(), [this] {
                                        clock.advance(1000ms);
                                        return clock.now()();
                                    }};
    const auto result = slow.autoReplaceHighConfidence(text, std::nullopt, 0.82, false, false, 950, defaults);
    EXPECT_EQ(fixes(result), 1);
    EXPECT_EQ(result.correctedText, "文章の補完が変です。" + text.substr(std::string("文章の保管が変です。").size()));
}

TEST_F(AutoReplacerTest, CancellationDuringTheServiceCallStillCleansUp) {
    service.answer(LocalHttpServer::Reply::ok("{}").after(3000ms));
    std::stop_source stop;
    std::jthread canceller([&] {
        std::this_thread::sleep_for(100ms);
        stop.request_stop();
    });
    const auto start = Clock::now();
    const auto result = run("えーと、文章の保管が変です", true, 950, defaults, stop.get_token());
    EXPECT_LT(Clock::now() - start, 900ms);
    EXPECT_EQ(result.correctedText, "文章の保管が変です");  // clean-up yes, corrections no
    EXPECT_EQ(result.appliedAnnotations, (Strings{"⚡ 文脈・句読点整合補正"}));
}

// ---- the application's entry ----

TEST_F(AutoReplacerTest, ApplicationEntryPatchesTheInsertedText) {
    struct Case {
        const char* name;
        std::string text;
        float similarity;
        std::string expected;
        Strings annotations;
    };
    const Case cases[] = {
        {"EG2 term at 0.48 is used", "github を使う", 0.48f, "GitHub を使う",
         {"音韻距離補正(EG2音韻一致): github → GitHub"}},
        {"EG2 term at 0.4799 is not", "github を使う", 0.4799f, "github を使う", {}},
        {"sound-alike then local", "github の文章の保管が変", 0.9f, "GitHub の文章の補完が変",
         {"音韻距離補正(EG2音韻一致): github → GitHub", "⚡ MIRK自動置換: 保管 → 補完"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = replacer.autoReplaceHighConfidence(c.text, "raw", {{"github", c.similarity}}, {},
                                                               std::nullopt, false, defaults);
        EXPECT_EQ(result.text, c.expected);
        EXPECT_EQ(result.annotations, c.annotations);
        EXPECT_EQ(result.correction, InsertedTextCorrection::compute(c.text, c.expected));
    }
    EXPECT_EQ(service.requestCount(), 0u);
}

TEST(AutoReplacerSharedTest, TheSharedPassRunsWithoutAServiceOrModel) {
    const auto result = MirkContextualAutoReplacer::shared().autoReplaceHighConfidence(
        "文章の保管が変です", "", {}, {}, std::nullopt, false, defaults);
    EXPECT_EQ(result.text, "文章の補完が変です");
    ASSERT_TRUE(result.correction.has_value());
    EXPECT_EQ(result.correction->selectionLength, 6u);
    EXPECT_EQ(result.correction->replacementSuffix, "補完が変です");
}

}  // namespace
}  // namespace pelora
