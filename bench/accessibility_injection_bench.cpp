// Accessibility insertion, capture and menu paste against the Qt test target, in a private
// desktop that the bench starts itself (or the one it was started in under
// pelora-desktop-run). Goals: injectDirectAX and capture on a rich-text field holding 1 KB
// and 1 MB within 20 ms each and flat in the document's size; triggerMenuBarPaste over a
// menu of 300 items within 50 ms.
//
//   build/bench/bench_accessibility_injection_bench
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "engine/injection/AccessibilityTextInjector.h"
#include "engine/injection/FocusedTextContextReader.h"
#include "platform/accessibility/Utf16.h"
#include "tests/support/DesktopTestBed.h"
#include "tests/support/TargetApplication.h"
#include "tests/support/TempDir.h"

namespace {

using pelora::testing::TargetApplication;

std::unique_ptr<pelora::testing::DesktopTestBed> bed;
std::unique_ptr<pelora::testing::TempDir> folder;
std::map<std::string, TargetApplication> targets;

// Japanese prose with ASCII and a non-BMP character, `bytes` of UTF-8 in lines.
std::string document(std::size_t bytes) {
    const std::string line = "今日は晴れています。The build passed 😀 テストは全部通りました。\n";
    std::string text;
    while (text.size() + line.size() <= bytes) text += line;
    return text;
}

// One Qt target per shape, started on first use and kept for every repetition.
TargetApplication& target(const std::string& name, const std::vector<std::string>& arguments) {
    auto it = targets.find(name);
    if (it == targets.end()) {
        auto app = TargetApplication::qt({.arguments = arguments});
        app.activate();
        it = targets.emplace(name, std::move(app)).first;
    }
    return it->second;
}

// A rich-text field holding `bytes` of text, the caret in its middle.
TargetApplication& richTarget(std::size_t bytes) {
    const std::string name = "rich" + std::to_string(bytes);
    const auto path = folder->path() / (name + ".txt");
    std::vector<std::string> arguments;
    if (targets.count(name) == 0) {
        const std::string text = document(bytes);
        std::ofstream(path, std::ios::binary) << text;
        const auto middle = pelora::accessibility::toUtf16(text).size() / 2;
        arguments = {"--focus", "rich", "--rich-file", path.string(), "--cursor", std::to_string(middle),
                     "--no-state-updates"};
    }
    auto& app = target(name, arguments);
    app.activate();
    return app;
}

void BM_InjectDirectAX(benchmark::State& state) {
    auto& app = richTarget(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        try {
            pelora::AccessibilityTextInjector::injectDirectAX("日本語", app.pid(), true);
        } catch (const std::exception& error) {
            state.SkipWithError(error.what());
            break;
        }
    }
}

void BM_Capture(benchmark::State& state) {
    auto& app = richTarget(static_cast<std::size_t>(state.range(0)));
    const pelora::ActiveApplicationSnapshot snapshot{static_cast<std::int32_t>(app.pid()), "bench", "Bench"};
    for (auto _ : state) {
        const auto context = pelora::FocusedTextContextReader::capture(snapshot);
        if (!context.preText || context.preText->empty()) {
            state.SkipWithError("nothing captured");
            break;
        }
        benchmark::DoNotOptimize(context);
    }
}

void BM_TriggerMenuBarPaste(benchmark::State& state) {
    auto& app = target("menu" + std::to_string(state.range(0)),
                       {"--extra-menu-items", std::to_string(state.range(0)), "--no-state-updates"});
    app.activate();
    for (auto _ : state) {
        if (!pelora::AccessibilityTextInjector::triggerMenuBarPaste(app.pid(), std::nullopt)) {
            state.SkipWithError("Paste not found");
            break;
        }
    }
}

BENCHMARK(BM_InjectDirectAX)->Arg(1 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Capture)->Arg(1 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TriggerMenuBarPaste)->Arg(300)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!pelora::testing::insideDesktopTestBed()) {
        bed = std::make_unique<pelora::testing::DesktopTestBed>(
            pelora::testing::DesktopTestBed::Options{.windowManager = true, .accessibility = true, .audio = false});
        bed->exportEnvironment();
    }
    folder = std::make_unique<pelora::testing::TempDir>();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    targets.clear();
    folder.reset();
    bed.reset();
    return 0;
}
