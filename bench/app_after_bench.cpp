// Speed of the controller's later flows: one permission tick on the main thread (the
// permission layer's kept state and the earlier-edition search over the real /proc), and
// the time from turning the decision service off to the contextual pass's worker
// returning while the service hangs.
//   bench/bench_app_after_bench
// Figures to read: median_ms and max_ms of each case.
#include "tests/PeloraVoiceApp/controller/ControllerFakes.h"

#include "PeloraVoiceApp/controller/DesktopPermissionAccess.h"
#include "tests/support/ScriptedDecisionService.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

using namespace pelora;
using Clock = std::chrono::steady_clock;

namespace {

struct Controller : controller_testing::ControllerFixture {
    void TestBody() override {}
    using ControllerFixture::keyStore;
    using ControllerFixture::make;
    using ControllerFixture::model;
    using ControllerFixture::realPermissions;
    using ControllerFixture::scheduler;
    using ControllerFixture::workers;
};

void report(benchmark::State& state, std::vector<double>& milliseconds) {
    std::sort(milliseconds.begin(), milliseconds.end());
    if (milliseconds.empty()) return;
    state.counters["median_ms"] = milliseconds[milliseconds.size() / 2];
    state.counters["max_ms"] = milliseconds.back();
}

double since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void BM_PermissionTick(benchmark::State& state) {
    PasterPermissions::Sources sources;
    sources.accessibilityTrusted = [] { return true; };
    sources.syntheticEventsReach = [] { return true; };
    sources.rawKeyEventsReach = [] { return true; };
    sources.microphoneAuthorized = [] { return true; };
    PasterPermissions permissions(std::move(sources));
    Controller controller;
    DesktopPermissionAccess access(permissions, controller.scheduler);
    controller.realPermissions = &access;
    AppViewModel& vm = controller.make();
    std::vector<double> ms;
    for (auto _ : state) {
        const auto start = Clock::now();
        vm.refreshPermissions();
        ms.push_back(since(start));
    }
    report(state, ms);
}
BENCHMARK(BM_PermissionTick)->Iterations(500)->Unit(benchmark::kMicrosecond);

void BM_ToggleStopsAPassOnAHangingService(benchmark::State& state) {
    pelora::testing::ScriptedDecisionService service;
    std::mutex mutex;
    std::condition_variable wake;
    bool release = false;
    service.answerWith([&](const nlohmann::json&) {
        std::unique_lock lock(mutex);
        wake.wait_for(lock, std::chrono::seconds(30), [&] { return release; });
        return pelora::testing::ScriptedDecisionService::json({{"answers", nlohmann::json::object()}});
    });
    ::setenv("PELORAVOICE_MIRK_HOST", service.server().baseURL().c_str(), 1);
    Controller controller;
    controller.keyStore.key = pelora::testing::ScriptedDecisionService::apiKey;
    AppViewModel& vm = controller.make();
    std::vector<double> ms;
    for (auto _ : state) {
        vm.setAllowExternalMirkTransmission(true);
        TranscriptionResult result;
        result.text = "文章の保管が変です。ご変換が多いです。";
        result.rawText = result.text;
        vm.completeTranscription(result, "bench", std::nullopt, std::nullopt, false);
        controller.scheduler.runPosted();
        auto job = std::move(controller.workers.jobs.front());
        controller.workers.jobs.clear();
        const std::size_t before = service.requestCount();
        std::thread worker(std::move(job));
        // (The client's health gate may keep later passes off the network: those are not timed.)
        const auto asked = Clock::now();
        while (service.requestCount() == before && since(asked) < 3000)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const bool hanging = service.requestCount() > before;
        const auto start = Clock::now();
        vm.setAllowExternalMirkTransmission(false);
        worker.join();
        if (hanging) ms.push_back(since(start));
        controller.scheduler.runPosted();
    }
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    wake.notify_all();
    state.counters["timed"] = static_cast<double>(ms.size());
    report(state, ms);
}
BENCHMARK(BM_ToggleStopsAPassOnAHangingService)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
