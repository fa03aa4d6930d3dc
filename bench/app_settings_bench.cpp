// Speed of a settings change and of starting the controller over a large dictionary. The
// controller runs over the tests' fakes, on a manual clock, with its settings document in
// a temporary $XDG_CONFIG_HOME (the real file, saved with fsync).
//   bench/bench_app_settings_bench
// Figures to read: median_ms (and p95_ms) of each case.
#include "tests/PeloraVoiceApp/controller/ControllerFakes.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <fstream>

using namespace pelora;

namespace {

// The tests' controller fixture, used outside the test runner.
struct Controller : controller_testing::ControllerFixture {
    void TestBody() override {}
    using ControllerFixture::configHome;
    using ControllerFixture::make;
    using ControllerFixture::model;
};

void reportPercentiles(benchmark::State& state, std::vector<double>& milliseconds) {
    std::sort(milliseconds.begin(), milliseconds.end());
    if (milliseconds.empty()) return;
    state.counters["median_ms"] = milliseconds[milliseconds.size() / 2];
    state.counters["p95_ms"] = milliseconds[std::min(milliseconds.size() - 1, milliseconds.size() * 95 / 100)];
}

// A current result of 200 characters, as a dictation would leave it.
HistoryEntry currentResultEntry() {
    std::string raw;
    const std::string sentence = "えーと、コアエムエルで三百二十ミリ秒の超低遅延を実現しました。";  // 31 characters
    while (raw.size() < 200 * 3) raw += sentence;
    TranscriptionResult result;
    result.rawText = raw;
    result.text = raw;
    TranscribedWord run;
    run.text = raw;
    run.rawText = raw;
    run.start = 0;
    run.end = 30;
    run.confidence = 0.9f;
    run.source = "JA-ANE";
    result.words = {run};
    result.pauseTimestamps = {5, 10, 15, 20, 25};
    result.telemetry.audioDurationSeconds = 30;
    HistoryEntry entry;
    entry.id = "22222222-3333-4444-8555-666666666666";
    entry.sourceName = "bench";
    entry.result = std::move(result);
    return entry;
}

// One assignment of the options with all its effects: the document saved with fsync, the
// playground recomputed and the 200-character current result reprocessed.
void BM_SettingsAssignment(benchmark::State& state) {
    Controller controller;
    AppViewModel& vm = controller.make();
    vm.selectHistoryEntry(currentResultEntry());  // the 200-character result on screen
    std::vector<double> times;
    bool flip = false;
    for (auto _ : state) {
        JapaneseInputOptions options = vm.inputOptions();
        options.spokenToWrittenPolish = flip = !flip;
        const auto start = std::chrono::steady_clock::now();
        vm.setInputOptions(options);
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    reportPercentiles(state, times);
}
BENCHMARK(BM_SettingsAssignment)->Iterations(200)->Unit(benchmark::kMillisecond);

// The same for the reranking switch turned off, the heaviest row: two saves, two previews
// and two reprocessings.
void BM_RerankingSwitchOff(benchmark::State& state) {
    Controller controller;
    AppViewModel& vm = controller.make();
    vm.selectHistoryEntry(currentResultEntry());  // the 200-character result on screen
    std::vector<double> times;
    for (auto _ : state) {
        state.PauseTiming();
        vm.setEnableHomophoneReranking(true);
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        vm.setEnableHomophoneReranking(false);
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    reportPercentiles(state, times);
}
BENCHMARK(BM_RerankingSwitchOff)->Iterations(100)->Unit(benchmark::kMillisecond);

// Constructing the controller over a document of 500 vocabulary entries: the load with
// every setter's effects, its one write, and the construction's own steps.
void BM_ConstructWith500Entries(benchmark::State& state) {
    Controller controller;
    PersistedSettings settings;
    settings.vocabularySchemaVersion = 2;
    const auto& builtIn = JapaneseEmbeddingReranker::defaultVocabulary();
    for (int i = 0; i < 500; ++i) {
        CustomVocabularyEntry entry = builtIn[static_cast<std::size_t>(i) % builtIn.size()];
        entry.id = CustomVocabularyEntry::newID();
        entry.surface += ' ';
        entry.surface += std::to_string(i);
        settings.customVocabulary.push_back(std::move(entry));
    }
    AppSettingsDocument document(AppSettingsDocument::defaultLocation());
    if (!document.save(settings)) {
        state.SkipWithError("cannot write the settings document");
        return;
    }
    std::vector<double> times;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        controller.make();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        if (controller.model->customVocabulary().size() != 500) state.SkipWithError("the vocabulary did not load");
        state.PauseTiming();
        controller.model.reset();
        state.ResumeTiming();
    }
    reportPercentiles(state, times);
}
BENCHMARK(BM_ConstructWith500Entries)->Iterations(30)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
