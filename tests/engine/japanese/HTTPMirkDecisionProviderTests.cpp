#include "engine/japanese/HTTPMirkDecisionProvider.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "engine/japanese/MirkHealthGate.h"
#include "engine/japanese/SoundAlikeReading.h"
#include "tests/support/ScriptedDecisionService.h"

namespace pelora {
namespace {

using nlohmann::json;
using testing::LocalHttpServer;
using testing::ScriptedDecisionService;
using Clock = std::chrono::steady_clock;

JapaneseGroundedCandidate candidate(int index, std::string original, std::string replacement) {
    return JapaneseGroundedCandidate{"candidate_" + std::to_string(index), original, replacement,
                                     "rewritten " + std::to_string(index), "MIRK", 0, 0.94};
}

std::vector<JapaneseGroundedCandidate> twoCandidates() {
    return {candidate(0, "開業", "改行"), candidate(1, "保管", "補完")};
}

json correctionAnswer(json correction) { return json{{"answers", {{"correction", std::move(correction)}}}}; }

json noulAnswers(std::vector<std::pair<std::string, double>> nouls, json mostSuspicious) {
    json answers = json::object();
    for (const auto& [id, noul] : nouls) answers[id] = {{"noul", noul}};
    if (!mostSuspicious.is_null()) answers["most_suspicious"] = std::move(mostSuspicious);
    return json{{"answers", std::move(answers)}};
}

// `reply` (a JSON object) with a padding field that makes it `size` bytes long.
std::string paddedTo(const std::string& reply, std::size_t size) {
    json padded = json::parse(reply);
    padded["padding"] = "";
    const std::size_t bare = padded.dump().size();
    padded["padding"] = std::string(size > bare ? size - bare : 0, ' ');
    return padded.dump();
}

long long millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class DecisionProviderTest : public ::testing::Test {
protected:
    ScriptedDecisionService service;
    HTTPMirkDecisionProvider provider{service.endpoint()};
};

TEST_F(DecisionProviderTest, SendsTheChoiceQuestionWithKeyAndCandidates) {
    service.answer(ScriptedDecisionService::json(correctionAnswer({{"choice", "candidate_1"}, {"confidence", 0.91}})));
    FocusedTextContext context{.windowTitle = "メモ", .preText = "  音声入力のテスト  "};

    const auto chosen = provider.decideJapanese("開業して保管する", twoCandidates(), context, 500);

    ASSERT_TRUE(chosen.has_value());
    JapaneseGroundedCandidate expected = twoCandidates()[1];
    expected.confidence = 0.91;
    EXPECT_EQ(*chosen, expected);

    ASSERT_EQ(service.requestCount(), 1u);
    const LocalHttpServer::Request request = service.requests().back();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.header("Authorization"), std::string("Bearer ") + ScriptedDecisionService::apiKey);
    EXPECT_EQ(request.header("Content-Type"), "application/json");

    const json body = json::parse(request.body);
    EXPECT_EQ(body["model"], "mirk-latest");
    const json& state = body["state"];
    EXPECT_EQ(state["utterance"], "開業して保管する");
    EXPECT_EQ(state["candidate_id"], "candidate_0");
    EXPECT_EQ(state["source_text"], "開業");
    EXPECT_EQ(state["candidate_text"], "改行");
    EXPECT_EQ(state["focused_context"], "メモ   音声入力のテスト");
    ASSERT_EQ(state["candidates"].size(), 2u);
    EXPECT_EQ(state["candidates"][1], (json{{"id", "candidate_1"},
                                            {"source_text", "保管"},
                                            {"candidate_text", "補完"},
                                            {"rewritten_transcript", "rewritten 1"}}));

    ASSERT_EQ(body["questions"].size(), 1u);
    const json& question = body["questions"]["correction"];
    EXPECT_EQ(question.size(), 3u);
    EXPECT_EQ(question["type"], "choice");
    EXPECT_EQ(question["instructions"],
              "Decide whether to replace the source phrase with a same-reading or similar-reading candidate based on "
              "the utterance context.");
    EXPECT_EQ(question["criteria"],
              (json{{"KEEP", "Preserve the original transcription because it fits the utterance naturally"},
                    {"NONE", "Candidate does not fit the utterance"},
                    {"REVIEW", "Meaning is ambiguous"},
                    {"candidate_0", "Use the registered-reading candidate 「改行」 instead of 「開業」"},
                    {"candidate_1", "Use the registered-reading candidate 「補完」 instead of 「保管」"}}));
}

TEST_F(DecisionProviderTest, ReadsTheAnswerByItsThresholds) {
    struct Case {
        const char* name;
        std::string reply;
        std::optional<double> confidence;  // of candidate_0 when chosen
    };
    const auto reply = [](json correction) { return correctionAnswer(std::move(correction)).dump(); };
    const Case cases[] = {
        {"confidence", reply({{"choice", "candidate_0"}, {"confidence", 0.9}}), 0.9},
        {"probability only", reply({{"choice", "candidate_0"}, {"probabilities", {{"candidate_0", 0.9}}}}), 0.9},
        {"confidence wins over probability", reply({{"choice", "candidate_0"}, {"confidence", 0.5},
                                                    {"probabilities", {{"candidate_0", 0.9}}}}), std::nullopt},
        {"0.82 accepted", reply({{"choice", "candidate_0"}, {"confidence", 0.82}}), 0.82},
        {"0.8199 rejected", reply({{"choice", "candidate_0"}, {"confidence", 0.8199}}), std::nullopt},
        {"confidence not a number", reply({{"choice", "candidate_0"}, {"confidence", "high"}}), std::nullopt},
        {"no confidence at all", reply({{"choice", "candidate_0"}}), std::nullopt},
        {"KEEP", reply({{"choice", "KEEP"}, {"confidence", 0.99}}), std::nullopt},
        {"NONE", reply({{"choice", "NONE"}, {"confidence", 0.99}}), std::nullopt},
        {"REVIEW", reply({{"choice", "REVIEW"}, {"confidence", 0.99}}), std::nullopt},
        {"unknown id", reply({{"choice", "candidate_9"}, {"confidence", 0.99}}), std::nullopt},
        {"choice not a string", reply({{"choice", 0}, {"confidence", 0.99}}), std::nullopt},
        {"empty answer", reply(json::object()), std::nullopt},
        {"answer not an object", reply("candidate_0"), std::nullopt},
        {"no correction answer", R"({"answers":{"other":{"choice":"candidate_0","confidence":0.9}}})", std::nullopt},
        {"answers missing", R"({"result":{}})", std::nullopt},
        {"answers not an object", R"({"answers":[1,2]})", std::nullopt},
        {"top level not an object", R"([{"answers":{}}])", std::nullopt},
        {"garbage", "<html>oops", std::nullopt},
        {"empty body", "", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service.answer(LocalHttpServer::Reply::ok(c.reply, "application/json"));
        const auto chosen = provider.decideJapanese("開業して保管する", twoCandidates(), std::nullopt, 500);
        ASSERT_EQ(chosen.has_value(), c.confidence.has_value());
        if (chosen) {
            EXPECT_EQ(chosen->id, "candidate_0");
            EXPECT_DOUBLE_EQ(chosen->confidence, *c.confidence);
        }
        // A 2xx reply is healthy whatever its content.
        EXPECT_EQ(MirkHealthGate::shared().consecutiveFailures(), 0);
    }
}

TEST_F(DecisionProviderTest, KeepsOnlyTheFirstFourteenCandidates) {
    std::vector<JapaneseGroundedCandidate> many;
    for (int i = 0; i < 20; ++i) many.push_back(candidate(i, "開業", "改行"));
    service.answer(ScriptedDecisionService::json(correctionAnswer({{"choice", "candidate_14"}, {"confidence", 0.99}})));

    EXPECT_FALSE(provider.decideJapanese("開業したい", many, std::nullopt, 500).has_value());
    const json body = service.lastBody();
    EXPECT_EQ(body["state"]["candidates"].size(), 14u);
    EXPECT_EQ(body["state"]["candidates"].back()["id"], "candidate_13");
    EXPECT_EQ(body["questions"]["correction"]["criteria"].size(), 14u + 3u);
}

TEST_F(DecisionProviderTest, CutsTheFocusedContextAndLeavesABlankOneOut) {
    std::string longText;
    for (int i = 0; i < 300; ++i) longText += "あ";
    provider.decideJapanese("開業したい", twoCandidates(), FocusedTextContext{.preText = longText}, 500);
    EXPECT_EQ(service.lastBody()["state"]["focused_context"], longText.substr(0, 240 * 3));

    provider.decideJapanese("開業したい", twoCandidates(), FocusedTextContext{.preText = " \n\u3000"}, 500);
    EXPECT_FALSE(service.lastBody()["state"].contains("focused_context"));
    provider.decideJapanese("開業したい", twoCandidates(), std::nullopt, 500);
    EXPECT_FALSE(service.lastBody()["state"].contains("focused_context"));
}

TEST_F(DecisionProviderTest, MakesNoRequestWhenItMayNot) {
    struct Case {
        const char* name;
        std::function<void(ScriptedDecisionService&)> arrange;
        std::vector<JapaneseGroundedCandidate> candidates;
        int timeoutMs;
    };
    const Case cases[] = {
        {"no key", [](auto& s) { s.setKey(nullptr); }, twoCandidates(), 500},
        {"blank key", [](auto& s) { s.setKey("  \n"); }, twoCandidates(), 500},
        {"key with a line break inside", [](auto& s) { s.setKey("abc\r\nX-Injected: 1"); }, twoCandidates(), 500},
        {"key with a tab inside", [](auto& s) { s.setKey("abc\tdef"); }, twoCandidates(), 500},
        {"gate open",
         [](auto&) {
             MirkHealthGate::shared().recordFailure();
             MirkHealthGate::shared().recordFailure();
         },
         twoCandidates(), 500},
        {"budget under 1 ms", [](auto&) {}, twoCandidates(), 0},
        {"negative budget", [](auto&) {}, twoCandidates(), -5},
        {"no candidates", [](auto&) {}, {}, 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service.setKey(ScriptedDecisionService::apiKey);
        MirkHealthGate::shared().recordSuccess();
        c.arrange(service);
        EXPECT_FALSE(provider.decideJapanese("開業したい", c.candidates, std::nullopt, c.timeoutMs).has_value());
        if (!c.candidates.empty()) {  // span detection needs no candidates
            EXPECT_TRUE(provider.detectSuspiciousSpans("開業したい文章", std::nullopt, c.timeoutMs).empty());
        }
        EXPECT_EQ(service.requestCount(), 0u);
    }
}

TEST_F(DecisionProviderTest, WithoutAConfiguredEndpointNothingIsSent) {
    HTTPMirkDecisionProvider unconfigured{std::nullopt};
    EXPECT_FALSE(unconfigured.decideJapanese("開業したい", twoCandidates(), std::nullopt, 500).has_value());
    EXPECT_EQ(service.requestCount(), 0u);
}

TEST_F(DecisionProviderTest, TransportOutcomesFeedTheHealthGate) {
    struct Case {
        const char* name;
        LocalHttpServer::Reply reply;
        int timeoutMs;
        int failuresAfter;
    };
    const std::string good = correctionAnswer({{"choice", "candidate_0"}, {"confidence", 0.9}}).dump();
    const Case cases[] = {
        {"503", LocalHttpServer::Reply::withStatus(503, "down"), 500, 1},
        // A good answer padded to 7 MB: the transfer ends at the cap, the answer is never read.
        {"7 MB reply", LocalHttpServer::Reply::ok(paddedTo(good, 7 * 1024 * 1024)), 400, 1},
        {"404", LocalHttpServer::Reply::withStatus(404), 500, 1},
        {"reply after the budget", LocalHttpServer::Reply::ok(good).after(std::chrono::milliseconds(600)), 100, 1},
        {"connection dropped mid-body", LocalHttpServer::Reply::ok(good).droppedAfter(5), 500, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MirkHealthGate::shared().recordSuccess();
        service.answer(c.reply);
        EXPECT_FALSE(provider.decideJapanese("開業したい", twoCandidates(), std::nullopt, c.timeoutMs).has_value());
        EXPECT_EQ(MirkHealthGate::shared().consecutiveFailures(), c.failuresAfter);
    }
}

TEST_F(DecisionProviderTest, AReplyUpToTheCapIsRead) {
    const std::string good = correctionAnswer({{"choice", "candidate_1"}, {"confidence", 0.9}}).dump();
    service.answer(
        ScriptedDecisionService::json(json::parse(paddedTo(good, HTTPMirkDecisionProvider::maxReplyBytes))));
    const auto chosen = provider.decideJapanese("開業して保管する", twoCandidates(), std::nullopt, 2000);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(chosen->id, "candidate_1");

    service.answer(
        ScriptedDecisionService::json(json::parse(paddedTo(good, HTTPMirkDecisionProvider::maxReplyBytes + 1))));
    EXPECT_FALSE(provider.decideJapanese("開業して保管する", twoCandidates(), std::nullopt, 2000).has_value());
    EXPECT_EQ(MirkHealthGate::shared().consecutiveFailures(), 1);
}

TEST_F(DecisionProviderTest, AnAnswerReadyAfterTheBudgetIsDiscarded) {
    // The service's clock: every reply costs a second of it, so each answer is read late.
    auto elapsedMs = std::make_shared<std::atomic<long long>>(0);
    const Clock::time_point base = Clock::now();
    const HTTPMirkDecisionProvider late{service.endpoint(),
                                        [=] { return base + std::chrono::milliseconds(elapsedMs->load()); }};
    const std::string transcript = "開業したいのでテキストを保管する";
    const std::string firstPhrase = HTTPMirkDecisionProvider::segmentPhrases(transcript).at(0).id;
    service.answerWith([&](const json& body) {
        *elapsedMs += 1000;
        if (body["questions"].contains("correction"))
            return ScriptedDecisionService::json(correctionAnswer({{"choice", "candidate_1"}, {"confidence", 0.95}}));
        return ScriptedDecisionService::json(noulAnswers({{firstPhrase, 0.9}}, nullptr));
    });

    EXPECT_FALSE(late.decideJapanese(transcript, twoCandidates(), std::nullopt, 400).has_value());
    EXPECT_TRUE(late.detectSuspiciousSpans(transcript, std::nullopt, 400).empty());
    EXPECT_EQ(service.requestCount(), 2u);
    // The service did answer: late is not a failure of its health.
    EXPECT_EQ(MirkHealthGate::shared().consecutiveFailures(), 0);

    // The same answers within the budget are used.
    EXPECT_TRUE(late.decideJapanese(transcript, twoCandidates(), std::nullopt, 1500).has_value());
    EXPECT_FALSE(late.detectSuspiciousSpans(transcript, std::nullopt, 1500).empty());
}

TEST_F(DecisionProviderTest, TwoFailuresInARowStopFurtherCalls) {
    service.answer(LocalHttpServer::Reply::withStatus(503));
    provider.decideJapanese("開業したい", twoCandidates(), std::nullopt, 500);
    provider.decideJapanese("開業したい", twoCandidates(), std::nullopt, 500);
    EXPECT_EQ(service.requestCount(), 2u);
    EXPECT_FALSE(MirkHealthGate::shared().canAttempt());
    provider.decideJapanese("開業したい", twoCandidates(), std::nullopt, 500);
    provider.detectSuspiciousSpans("開業したいです", std::nullopt, 500);
    EXPECT_EQ(service.requestCount(), 2u);
}

TEST_F(DecisionProviderTest, ABudgetUnderFiftyMillisecondsWaitsFifty) {
    service.answer(LocalHttpServer::Reply::ok("{}").after(std::chrono::milliseconds(1500)));
    const auto start = Clock::now();
    EXPECT_FALSE(provider.decideJapanese("開業したい", twoCandidates(), std::nullopt, 10).has_value());
    const auto elapsed = millisecondsSince(start);
    EXPECT_GE(elapsed, 45);
    EXPECT_LT(elapsed, 1000);
    // On a busy machine the client may give up before its request reaches the server;
    // what matters is the wait above and that no second request follows.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_LE(service.requestCount(), 1u);
}

TEST_F(DecisionProviderTest, ACancelledCallStopsAtOnceAndIsNoFailure) {
    service.answer(LocalHttpServer::Reply::ok("{}").after(std::chrono::milliseconds(3000)));
    std::stop_source stop;
    std::jthread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        stop.request_stop();
    });
    const auto start = Clock::now();
    EXPECT_FALSE(
        provider.decideJapanese("開業したい", twoCandidates(), std::nullopt, 2000, stop.get_token()).has_value());
    EXPECT_LT(millisecondsSince(start), 1500);
    EXPECT_EQ(MirkHealthGate::shared().consecutiveFailures(), 0);

    // Already cancelled: nothing is sent.
    const std::size_t sent = service.requestCount();
    EXPECT_FALSE(
        provider.decideJapanese("開業したい", twoCandidates(), std::nullopt, 2000, stop.get_token()).has_value());
    EXPECT_EQ(service.requestCount(), sent);
}

// ---- span detection ----


TEST_F(DecisionProviderTest, AsksOneQuestionPerPhraseAndOneForTheMostSuspicious) {
    const std::string transcript = "開業したいのでテキストを保管する";
    const auto phrases = HTTPMirkDecisionProvider::segmentPhrases(transcript);
    ASSERT_GE(phrases.size(), 2u);
    provider.detectSuspiciousSpans(transcript, std::nullopt, 500);

    const json body = service.lastBody();
    EXPECT_EQ(body["state"]["utterance"], transcript);
    ASSERT_EQ(body["state"]["phrases"].size(), phrases.size());
    EXPECT_EQ(body["questions"].size(), phrases.size() + 1);
    for (std::size_t i = 0; i < phrases.size(); ++i) {
        const auto& phrase = phrases[i];
        SCOPED_TRACE(phrase.text);
        EXPECT_EQ(phrase.id, "span_" + std::to_string(i));
        EXPECT_EQ(body["state"]["phrases"][i],
                  (json{{"id", phrase.id}, {"text", phrase.text}, {"reading", phrase.reading}}));
        const json& question = body["questions"][phrase.id];
        EXPECT_EQ(question["type"], "noul");
        EXPECT_EQ(question["instructions"], "Evaluate whether phrase '" + phrase.text + "' (reading: " +
                                                phrase.reading +
                                                ") in the Japanese utterance is a same-sound or similar-sound speech "
                                                "recognition error.");
        EXPECT_EQ(question["criteria"].size(), 2u);
        EXPECT_EQ(body["questions"]["most_suspicious"]["criteria"][phrase.id],
                  "Phrase '" + phrase.text + "' (" + phrase.reading + ") is the most likely same-sound misrecognition");
    }
    const json& most = body["questions"]["most_suspicious"];
    EXPECT_EQ(most["type"], "choice");
    EXPECT_EQ(most["criteria"]["NONE"], "No phrase contains a misrecognized word");
}

TEST_F(DecisionProviderTest, ReportsPhrasesByNoulAndTheMostSuspiciousChoice) {
    const std::string transcript = "開業したいのでテキストを保管する";
    const auto phrases = HTTPMirkDecisionProvider::segmentPhrases(transcript);
    ASSERT_GE(phrases.size(), 3u);
    const std::string a = phrases[0].id, b = phrases[1].id, c = phrases[2].id;

    struct Case {
        const char* name;
        json reply;
        std::vector<std::pair<std::size_t, double>> expected;  // phrase index, confidence, in order
    };
    const Case cases[] = {
        {"noul threshold", noulAnswers({{a, 0.52}, {b, 0.5199}, {c, 0.9}}, nullptr), {{2, 0.9}, {0, 0.52}}},
        {"a confident choice reports a low-noul phrase", noulAnswers({{a, 0.1}}, {{"choice", a}, {"confidence", 0.6}}),
         {{0, 0.6}}},
        {"an unsure choice alone reports nothing", noulAnswers({{a, 0.1}}, {{"choice", a}, {"confidence", 0.54}}), {}},
        {"an unsure choice does not lift a noul", noulAnswers({{a, 0.7}}, {{"choice", a}, {"confidence", 0.54}}),
         {{0, 0.7}}},
        {"the larger of noul and choice", noulAnswers({{a, 0.8}}, {{"choice", a}, {"confidence", 0.6}}), {{0, 0.8}}},
        {"NONE reports only high nouls", noulAnswers({{a, 0.3}, {b, 0.6}}, {{"choice", "NONE"}, {"confidence", 0.9}}),
         {{1, 0.6}}},
        {"equal scores keep phrase order", noulAnswers({{a, 0.7}, {b, 0.9}, {c, 0.7}}, nullptr),
         {{1, 0.9}, {0, 0.7}, {2, 0.7}}},
        {"non-number noul counts as 0", json::parse(R"({"answers":{")" + a + R"(":{"noul":"yes"}}})"), {}},
        {"no answers", json{{"result", 1}}, {}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        service.answer(ScriptedDecisionService::json(k.reply));
        const auto found = provider.detectSuspiciousSpans(transcript, std::nullopt, 500);
        ASSERT_EQ(found.size(), k.expected.size());
        for (std::size_t i = 0; i < found.size(); ++i) {
            const auto& phrase = phrases[k.expected[i].first];
            EXPECT_EQ(found[i].span, phrase.text);
            EXPECT_EQ(found[i].leftContext, phrase.leftContext);
            EXPECT_EQ(found[i].rightContext, phrase.rightContext);
            EXPECT_FALSE(found[i].suggestedReplacement.has_value());
            EXPECT_DOUBLE_EQ(found[i].confidence, k.expected[i].second);
        }
    }
    service.answer(ScriptedDecisionService::json(noulAnswers({{a, 0.666}}, nullptr)));
    const auto found = provider.detectSuspiciousSpans(transcript, std::nullopt, 500);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].reason, "MIRK noul=0.67");
}

TEST_F(DecisionProviderTest, ShortOrPhraselessTranscriptsSendNothing) {
    for (const char* transcript : {"開業し", "ひらがなだけのぶんしょうです", "abc def ghi"}) {
        SCOPED_TRACE(transcript);
        EXPECT_TRUE(provider.detectSuspiciousSpans(transcript, std::nullopt, 500).empty());
    }
    EXPECT_EQ(service.requestCount(), 0u);
}

// ---- phrases ----

TEST(DecisionProviderPhrasesTest, SegmentsKanjiAndKatakanaPhrases) {
    const auto phrases = HTTPMirkDecisionProvider::segmentPhrases("開業したいのでテキストを保管する");
    std::vector<std::string> texts;
    for (const auto& phrase : phrases) texts.push_back(phrase.text);
    // ので is not one of the particles that end an extension.
    const std::vector<std::string> expected{"開業", "開業し", "開業したい", "開業したいので", "テキスト", "保管", "保管する"};
    EXPECT_EQ(texts, expected);
    ASSERT_FALSE(phrases.empty());
    EXPECT_EQ(phrases[0].leftContext, "");
    EXPECT_EQ(phrases[0].rightContext, "したいので");
    EXPECT_EQ(phrases[4].leftContext, "したいので");
    EXPECT_EQ(phrases[4].rightContext, "を保管する");
    EXPECT_EQ(phrases[0].reading, SoundAlikeReading::reading("開業"));
}

TEST(DecisionProviderPhrasesTest, JoinsPrefixAndNoPhrases) {
    const auto phrases = HTTPMirkDecisionProvider::segmentPhrases("ご変換と音声の入力");
    std::vector<std::string> texts;
    for (const auto& phrase : phrases) texts.push_back(phrase.text);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "ご変換"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "音声の入力"), texts.end());
}

TEST(DecisionProviderPhrasesTest, AWordTwiceIsOnePhraseAndThePhrasesStopAtTwentyEight) {
    const auto twice = HTTPMirkDecisionProvider::segmentPhrases("保管と保管");
    ASSERT_EQ(twice.size(), 1u);
    EXPECT_EQ(twice[0].text, "保管");

    std::string many;
    const char* words[] = {"東京", "大阪", "京都", "札幌", "仙台", "横浜", "名古屋", "神戸", "福岡", "広島",
                           "長崎", "熊本", "那覇", "金沢", "新潟", "静岡", "岡山", "高松", "松山", "高知",
                           "青森", "秋田", "盛岡", "山形", "福島", "水戸", "宇都宮", "前橋", "浦和", "千葉"};
    for (const char* word : words) many += std::string(word) + "、";
    const auto phrases = HTTPMirkDecisionProvider::segmentPhrases(many);
    ASSERT_EQ(phrases.size(), 28u);
    EXPECT_EQ(phrases.back().id, "span_27");
}

TEST(DecisionProviderPhrasesTest, ContextCutsNeverHalveACharacter) {
    // 😀 is two UTF-16 units: five units on either side of 保管 would end inside the outer ones.
    const auto phrases = HTTPMirkDecisionProvider::segmentPhrases("😀😀あい保管えお😀😀");
    ASSERT_FALSE(phrases.empty());
    EXPECT_EQ(phrases[0].text, "保管");
    EXPECT_EQ(phrases[0].leftContext, "😀あい");
    EXPECT_EQ(phrases[0].rightContext, "えお😀");

    const auto whole = HTTPMirkDecisionProvider::segmentPhrases("😀あいう保管えおか😀");
    ASSERT_FALSE(whole.empty());
    EXPECT_EQ(whole[0].leftContext, "😀あいう");
    EXPECT_EQ(whole[0].rightContext, "えおか😀");
}

TEST(DecisionProviderEndpointTest, AcceptsHttpsAndLocalPlainHttpOnly) {
    struct Case {
        const char* host;
        std::optional<std::string> endpoint;
    };
    const Case cases[] = {
        {"https://decisions.example.net", "https://decisions.example.net/v1/quorvane"},
        {" https://decisions.example.net:8443/ ", "https://decisions.example.net:8443/v1/quorvane"},
        {"HTTPS://Decisions.example.net", "https://Decisions.example.net/v1/quorvane"},
        {"http://127.0.0.1:8080", "http://127.0.0.1:8080/v1/quorvane"},
        {"http://decisions.example.net", std::nullopt},
        {"http://localhost:8080", std::nullopt},
        {"http://127.0.0.1.evil.example", std::nullopt},
        {"ftp://decisions.example.net", std::nullopt},
        {"decisions.example.net", std::nullopt},
        {"https://", std::nullopt},
        {"https://user:pw@decisions.example.net", std::nullopt},
        {"https://decisions.example.net/other", std::nullopt},
        {"https://decisions.example.net:port", std::nullopt},
        {"https://decisions example.net", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        EXPECT_EQ(HTTPMirkDecisionProvider::endpointForHost(c.host), c.endpoint);
    }
}

}  // namespace
}  // namespace pelora
