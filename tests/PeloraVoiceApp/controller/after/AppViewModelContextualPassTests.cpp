// The contextual correction pass: outcomes against the history, the current result, the
// summary, the clipboard and the pill; cancellation at each of its two waits; and the real
// shared auto-replacer against the scripted decision service on 127.0.0.1.
#include "tests/PeloraVoiceApp/controller/ControllerFakes.h"

#include "tests/support/RerunTest.h"
#include "tests/support/ScriptedDecisionService.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

using namespace pelora;
using namespace pelora::controller_testing;
using namespace std::chrono_literals;

namespace {

// An auto-replacer that answers what the test sets, whenever the test runs its worker;
// it notes what it was given and whether its stop had been requested by then.
struct ScriptedAutoReplacer : ContextualAutoReplacer {
    struct Call {
        std::string text;
        std::string rawText;
        std::optional<FocusedTextContext> context;
        bool network;
        bool stopRequested;
    };
    mutable std::mutex mutex;
    mutable std::vector<Call> calls;
    MirkContextualAutoReplacer::Replacement answer;
    MirkContextualAutoReplacer::Replacement autoReplaceHighConfidence(
        std::string_view text, std::string_view rawText, const std::vector<CustomVocabularyEntry>&,
        const std::optional<FocusedTextContext>& context, bool network, const JapaneseInputOptions&,
        std::stop_token stop) const override {
        std::lock_guard lock(mutex);
        calls.push_back({std::string(text), std::string(rawText), context, network, stop.stop_requested()});
        return answer;
    }
};

const std::string original = "思考錯誤しながら進めます。";
const std::string corrected = "試行錯誤しながら進めます。";
const ActiveApplicationSnapshot memo{900, std::string("org.example.Memo"), std::string("メモ")};

TranscriptionResult dictated(double processingMs = 500) {
    TranscriptionResult result;
    result.text = original;
    result.rawText = "思考錯誤しながら進めますまる";
    result.telemetry.audioDurationSeconds = 2;
    result.telemetry.totalProcessingMs = processingMs;
    result.telemetry.appliedRuleAnnotations = {"句読点", "同音異義語補正: 思考錯誤→試行錯誤"};
    TranscribedWord word;
    word.text = original;
    word.start = 0;
    word.end = 2;
    result.words = {word};
    return result;
}

MirkContextualAutoReplacer::Replacement replacement(std::string text,
                                                    std::vector<std::string> annotations = {"同音異義語補正: 思考錯誤→試行錯誤",
                                                                                            "MIRK: 試行錯誤"}) {
    MirkContextualAutoReplacer::Replacement r;
    r.text = text;
    r.annotations = std::move(annotations);
    if (!text.empty() && text != original) r.correction = InsertedTextCorrection{13, "試行錯誤しながら進めます。"};
    return r;
}

class ContextualPass : public ControllerFixture {
public:
    std::shared_ptr<ScriptedAutoReplacer> replacer = std::make_shared<ScriptedAutoReplacer>();

    AppViewModel& makePass() {
        model.reset();
        AppViewModelCollaborators bundle = collaborators();
        bundle.contextualAutoReplacer = replacer;
        model = std::make_unique<AppViewModel>(std::move(bundle));
        // An earlier case may have saved other settings.
        model->setEnableHomophoneReranking(true);
        model->setEnableMirkContextCorrection(true);
        model->setAllowExternalMirkTransmission(false);
        return *model;
    }
    // Completes a dictation meant for `target`; the pass waits on its worker.
    bool complete(AppViewModel& vm, bool triggerAutoPaste,
                  std::optional<ActiveApplicationSnapshot> target = memo, double processingMs = 500) {
        auto ended = std::make_shared<bool>(false);
        vm.completeTranscription(dictated(processingMs), "手動音声入力", target, std::nullopt, triggerAutoPaste,
                                 [ended] { *ended = true; });
        scheduler.runPosted();
        return *ended;
    }
    // The auto-replacer answers (the pass's worker is the oldest job).
    void answerPass() {
        ASSERT_FALSE(workers.jobs.empty());
        auto job = std::move(workers.jobs.front());
        workers.jobs.pop_front();
        job();
        scheduler.runPosted();
    }
};

TEST_F(ContextualPass, OutcomesReachHistoryResultClipboardAndPill) {
    using O = TextInjectionOutcome;
    struct Case {
        const char* name;
        std::string answer;
        bool triggerAutoPaste;
        std::optional<O> insertion;                   // the completion's outcome
        std::optional<bool> inPlaceApplied;           // none: no in-place fix is tried
        std::optional<ActiveApplicationSnapshot> target;
        bool changes;
        std::string summary;
        bool direct;
    };
    const Case cases[] = {
        {"same text", original, true, O::injectedViaAX("メモ"), std::nullopt, memo, false, "", false},
        {"emptied", "", true, O::injectedViaAX("メモ"), std::nullopt, memo, false, "", false},
        {"direct insert, fixed in place", corrected, true, O::injectedViaAX("メモ"), true, memo, true,
         "⚡ メモ へMIRK高確度自動置換完了", true},
        {"direct insert of a nameless target, fixed", corrected, true, O::injectedViaUnicodeTyping("?"), true,
         ActiveApplicationSnapshot{901, std::nullopt, std::nullopt}, true, "⚡ 入力欄 へMIRK高確度自動置換完了", true},
        {"direct insert, fix failed", corrected, true, O::injectedViaCommandV("メモ"), false, memo, true,
         O::injectedViaCommandV("メモ").summaryBadge(), true},
        {"clipboard fallback", corrected, true, O::copiedToClipboardFallback("入力欄が見つかりません"), std::nullopt,
         memo, true, O::copiedToClipboardFallback("入力欄が見つかりません").summaryBadge(), false},
        {"no insertion", corrected, false, std::nullopt, std::nullopt, memo, true, "⚡ MIRK高確度自動補正完了",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppViewModel& vm = makePass();
        paster.outcome = c.insertion.value_or(O::injectedViaAX("x"));
        paster.corrections.clear();
        paster.copied.clear();
        paster.correctionApplied = c.inPlaceApplied.value_or(true);
        replacer->answer = replacement(c.answer);
        ASSERT_FALSE(complete(vm, c.triggerAutoPaste, c.target)) << "the completion waits for its pass";
        const HistoryEntry entryBefore = vm.history().front();
        const auto overlayCalls = overlay.calls.size();
        const auto copiedBefore = paster.copied;

        answerPass();
        EXPECT_EQ(vm.history().size(), 1u);
        EXPECT_EQ(paster.corrections.size(), c.inPlaceApplied ? 1u : 0u);
        if (!c.changes) {
            EXPECT_EQ(vm.history().front(), entryBefore) << "not even the history entry";
            EXPECT_EQ(vm.currentResult()->text, original);
            EXPECT_EQ(vm.lastMirkAutoReplaceSummary(), std::nullopt);
            EXPECT_EQ(overlay.calls.size(), overlayCalls);
            EXPECT_EQ(paster.copied, copiedBefore);
            continue;
        }
        const HistoryEntry& entry = vm.history().front();
        EXPECT_EQ(entry.id, entryBefore.id);
        EXPECT_EQ(entry.createdAt, entryBefore.createdAt);
        EXPECT_EQ(entry.result.text, corrected);
        EXPECT_EQ(entry.result.rawText, entryBefore.result.rawText);
        EXPECT_EQ(entry.result.telemetry.appliedRuleAnnotations,
                  (std::vector<std::string>{"句読点", "同音異義語補正: 思考錯誤→試行錯誤", "MIRK: 試行錯誤"}))
            << "no duplicate annotations";
        ASSERT_FALSE(entry.result.words.empty());
        EXPECT_EQ(entry.result.words.front().source, "EG2+JA");
        EXPECT_EQ(vm.currentResult(), entry.result);
        EXPECT_EQ(vm.lastTranscribedText(), corrected);
        EXPECT_EQ(vm.lastMirkAutoReplaceSummary(), "同音異義語補正: 思考錯誤→試行錯誤 / MIRK: 試行錯誤");
        EXPECT_EQ(paster.copied.back(), corrected);
        if (c.inPlaceApplied) {
            EXPECT_EQ(paster.corrections[0].original, original);
            EXPECT_EQ(paster.corrections[0].corrected, corrected);
            EXPECT_EQ(paster.corrections[0].target, c.target);
            EXPECT_FALSE(paster.corrections[0].restoreClipboard);
        }
        ASSERT_EQ(overlay.calls.size(), overlayCalls + 1);
        const auto& shown = overlay.calls.back();
        EXPECT_EQ(shown.text, corrected);
        EXPECT_EQ(shown.summary, c.summary);
        EXPECT_EQ(shown.directInsert, c.direct);
        EXPECT_DOUBLE_EQ(shown.rtfx, 4.0);
    }
    paster.outcome = TextInjectionOutcome::injectedViaAX("Editor");
    paster.correctionApplied = true;
}

TEST_F(ContextualPass, NoProcessingTimeShowsNoRealTimeFactor) {
    AppViewModel& vm = makePass();
    replacer->answer = replacement(corrected);
    complete(vm, false, memo, 0);
    answerPass();
    EXPECT_EQ(overlay.calls.back().text, corrected);
    EXPECT_EQ(overlay.calls.back().rtfx, 0);
    EXPECT_EQ(vm.history().front().result.text, corrected);
}

// Everything that starts a new session, applied while the pass waits.
struct Interruption {
    const char* name;
    std::function<void(ContextualPass&, AppViewModel&)> act;
};
const Interruption interruptions[] = {
    {"a new recording", [](ContextualPass&, AppViewModel& vm) { vm.toggleManualRecording(); }},
    {"a history selection", [](ContextualPass&, AppViewModel& vm) { vm.selectHistoryEntry(vm.history().front()); }},
    {"a file", [](ContextualPass&, AppViewModel& vm) { vm.transcribeAudioFile("/nonexistent/会議.m4a"); }},
    {"the benchmark", [](ContextualPass&, AppViewModel& vm) { vm.runBuiltInSampleBenchmark(true, false); }},
    {"a reinsertion", [](ContextualPass&, AppViewModel& vm) { vm.performReinsertSpecificText("別の文", false); }},
    {"contextual correction off", [](ContextualPass&, AppViewModel& vm) { vm.setEnableMirkContextCorrection(false); }},
    {"homophone reranking off", [](ContextualPass&, AppViewModel& vm) { vm.setEnableHomophoneReranking(false); }},
    {"the decision service off",
     [](ContextualPass&, AppViewModel& vm) {
         vm.setAllowExternalMirkTransmission(true);
         vm.setAllowExternalMirkTransmission(false);
     }},
};

TEST_F(ContextualPass, CancelledWhileTheAutoReplacerRunsChangesNothing) {
    for (const Interruption& interruption : interruptions) {
        SCOPED_TRACE(interruption.name);
        AppViewModel& vm = makePass();
        replacer->answer = replacement(corrected);
        replacer->calls.clear();
        bool ended = complete(vm, true);
        const HistoryEntry entryBefore = vm.history().front();
        interruption.act(*this, vm);
        const auto current = vm.currentResult();
        const auto overlayCalls = overlay.calls.size();
        paster.corrections.clear();
        answerPass();
        ASSERT_EQ(replacer->calls.size(), 1u);
        EXPECT_TRUE(replacer->calls[0].stopRequested) << "the stop reaches the auto-replacer";
        EXPECT_EQ(vm.history().back(), entryBefore) << "not even the history entry";
        EXPECT_EQ(vm.currentResult(), current);
        EXPECT_TRUE(paster.corrections.empty());
        EXPECT_EQ(overlay.calls.size(), overlayCalls);
        EXPECT_EQ(vm.lastMirkAutoReplaceSummary(), std::nullopt);
        (void)ended;
        workers.jobs.clear();
        scheduler.runPosted();
    }
}

TEST_F(ContextualPass, CancelledDuringTheInPlaceFixKeepsTheFixAndShowsNothing) {
    for (const Interruption& interruption : interruptions) {
        SCOPED_TRACE(interruption.name);
        AppViewModel& vm = makePass();
        paster.correctionApplied.reset();  // the test answers the fix
        paster.corrections.clear();
        replacer->answer = replacement(corrected);
        bool ended = false;
        vm.completeTranscription(dictated(), "手動音声入力", memo, std::nullopt, true, [&] { ended = true; });
        scheduler.runPosted();
        answerPass();
        ASSERT_EQ(paster.corrections.size(), 1u) << "the fix is under way";
        EXPECT_EQ(vm.history().front().result.text, corrected) << "the entry is corrected before the fix";
        interruption.act(*this, vm);
        const auto current = vm.currentResult();
        const auto overlayCalls = overlay.calls.size();
        const auto copied = paster.copied;
        paster.corrections[0].done(true);
        EXPECT_TRUE(ended);
        EXPECT_EQ(vm.currentResult(), current);
        EXPECT_EQ(overlay.calls.size(), overlayCalls);
        EXPECT_EQ(paster.copied, copied);
        workers.jobs.clear();
        scheduler.runPosted();
    }
    paster.correctionApplied = true;
}

TEST_F(ContextualPass, TheCompletionEndsWithThePassAndTheAutoReplacerGetsTheCapturedValues) {
    struct Case {
        const char* name;
        bool allow, key, sendContext;
        bool network;
        bool contextSent;
    };
    const Case cases[] = {
        {"on the device", false, true, false, false, true},
        {"network, no context", true, true, false, true, false},
        {"network with context", true, true, true, true, true},
        {"allowed but no key", true, false, false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        keyStore.key = c.key ? std::optional<std::string>("k") : std::nullopt;
        AppViewModel& vm = makePass();
        vm.setAllowExternalMirkTransmission(c.allow);
        vm.setSendFocusedContextToMirk(c.sendContext);
        replacer->calls.clear();
        replacer->answer = replacement(original);
        FocusedTextContext context;
        context.preText = std::string("前の文");
        bool ended = false;
        vm.completeTranscription(dictated(), "手動音声入力", memo, context, false, [&] { ended = true; });
        scheduler.runPosted();
        EXPECT_FALSE(ended);
        answerPass();
        EXPECT_TRUE(ended);
        ASSERT_EQ(replacer->calls.size(), 1u);
        EXPECT_EQ(replacer->calls[0].text, original);
        EXPECT_EQ(replacer->calls[0].rawText, "思考錯誤しながら進めますまる");
        EXPECT_EQ(replacer->calls[0].network, c.network);
        EXPECT_EQ(replacer->calls[0].context.has_value(), c.contextSent);
        EXPECT_FALSE(replacer->calls[0].stopRequested);
    }
    keyStore.key.reset();
}

TEST_F(ContextualPass, ALateAnswerAfterTheControllerIsGoneDoesNothing) {
    AppViewModel& vm = makePass();
    replacer->answer = replacement(corrected);
    complete(vm, true);
    auto job = std::move(workers.jobs.front());
    workers.jobs.clear();
    model.reset();
    job();
    scheduler.runPosted();
    ASSERT_EQ(replacer->calls.size(), 1u);
    EXPECT_TRUE(replacer->calls[0].stopRequested) << "destruction stops the pass too";
}

// ---- the real shared auto-replacer and the decision service ----

// The decision service answers only when the test lets it.
struct LateService {
    pelora::testing::ScriptedDecisionService service;
    std::mutex mutex;
    std::condition_variable wake;
    bool release = false;
    LateService() {
        service.answerWith([this](const nlohmann::json&) {
            std::unique_lock lock(mutex);
            wake.wait_for(lock, 20s, [this] { return release; });
            return pelora::testing::ScriptedDecisionService::json({{"answers", nlohmann::json::object()}});
        });
    }
    ~LateService() { letAnswer(); }
    void letAnswer() {
        std::lock_guard lock(mutex);
        release = true;
        wake.notify_all();
    }
};

class RealPass : public ControllerFixture {
public:
    // Real worker threads; their posts are taken by the test's loop.
    AppViewModel& makeReal() {
        model.reset();
        keyStore.key = pelora::testing::ScriptedDecisionService::apiKey;
        AppViewModelCollaborators bundle = collaborators();
        model = std::make_unique<AppViewModel>(std::move(bundle));
        return *model;
    }
    // Runs the pass's worker on a thread of its own, so the test can act while it waits.
    std::thread runPassWorker() {
        auto job = std::move(workers.jobs.front());
        workers.jobs.pop_front();
        return std::thread(std::move(job));
    }
    TranscriptionResult homophoneDictation() {
        TranscriptionResult result;
        result.text = "文章の保管が変です。ご変換が多いです。";
        result.rawText = result.text;
        result.telemetry.audioDurationSeconds = 3;
        result.telemetry.totalProcessingMs = 300;
        return result;
    }
};

// The client reads the service's host once per process: each case runs in a fresh one.
TEST_F(RealPass, TurningTheServiceOffMidPassStopsEveryLaterRequest) {
    if (pelora::testing::rerunCurrentTestIn({}, {})) return;
    LateService late;
    ::setenv("PELORAVOICE_MIRK_HOST", late.service.server().baseURL().c_str(), 1);
    AppViewModel& vm = makeReal();
    vm.setAllowExternalMirkTransmission(true);
    bool ended = false;
    vm.completeTranscription(homophoneDictation(), "手動音声入力", memo, std::nullopt, false, [&] { ended = true; });
    scheduler.runPosted();
    std::thread worker = runPassWorker();
    // Wait until the first request is at the service, then switch it off.
    for (int i = 0; i < 1000 && late.service.requestCount() == 0; ++i) std::this_thread::sleep_for(10ms);
    ASSERT_EQ(late.service.requestCount(), 1u);
    const auto toggled = std::chrono::steady_clock::now();
    vm.setAllowExternalMirkTransmission(false);
    // The service still hangs: the stop itself ends the call in flight.
    worker.join();
    const auto returned = std::chrono::steady_clock::now();
    late.letAnswer();
    scheduler.runPosted();
    EXPECT_TRUE(ended);
    EXPECT_EQ(late.service.requestCount(), 1u) << "no request after the toggle";
    EXPECT_EQ(vm.currentResult()->text, "文章の保管が変です。ご変換が多いです。") << "nothing shown";
    EXPECT_LT(returned - toggled, 10s);
}

TEST_F(RealPass, TheFocusedContextIsSentOnlyWhileAllowed) {
    if (pelora::testing::rerunCurrentTestIn({}, {})) return;
    pelora::testing::ScriptedDecisionService service;
    ::setenv("PELORAVOICE_MIRK_HOST", service.server().baseURL().c_str(), 1);
    AppViewModel& vm = makeReal();
    vm.setAllowExternalMirkTransmission(true);
    FocusedTextContext context;
    context.preText = std::string("保存と変換の手順書");
    auto contextSent = [&] {
        for (const auto& request : service.requests()) {
            const auto body = nlohmann::json::parse(request.body, nullptr, false);
            if (body.is_object() && body.contains("state") && body["state"].contains("focused_context")) return true;
        }
        return false;
    };
    for (bool send : {false, true}) {
        SCOPED_TRACE(send ? "allowed" : "not allowed");
        vm.setSendFocusedContextToMirk(send);
        const std::size_t before = service.requestCount();
        vm.completeTranscription(homophoneDictation(), "手動音声入力", memo, context, false);
        scheduler.runPosted();
        runPassWorker().join();
        scheduler.runPosted();
        ASSERT_GT(service.requestCount(), before);
        EXPECT_EQ(contextSent(), send);
    }
}

}  // namespace
