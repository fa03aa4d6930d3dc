#pragma once

// Shared by the text benchmarks: texts of a given length in user-perceived characters,
// and the report of how a stage's time grows from 2,000 to 20,000 characters.
// Goal: the 20,000-character time at most 12 times the 2,000-character time (linear
// work gives about 10).
//
// In a small benchmark process glibc hands the freed top of the heap back to the kernel
// after each call once the call's temporaries pass its trim threshold (128 KiB), so a
// 20,000-character call pays page faults for every temporary that a 2,000-character call
// never does: a step in cost, not growth, that a long-running application with a large
// heap rarely meets. Running with
//   GLIBC_TUNABLES=glibc.malloc.trim_threshold=268435456:glibc.malloc.mmap_threshold=268435456
// keeps the memory and shows the algorithm's own scaling; both figures are worth reading.

#include <benchmark/benchmark.h>

#include <ctime>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>
#include <cstdint>

#include "platform/text/UnicodeText.h"

namespace pelora::bench {

inline constexpr double kScalingGoal = 12.0;

// `pattern` repeated and cut to exactly `characters` user-perceived characters.
inline std::string textOfLength(const std::string& pattern, std::size_t characters) {
    const std::vector<std::string> unit = text::graphemes(pattern);
    std::string out;
    for (std::size_t i = 0; i < characters; ++i) out += unit[i % unit.size()];
    return out;
}

// Mean CPU time per iteration, by stage name and text length.
inline std::map<std::string, std::map<std::int64_t, double>>& recordedSeconds() {
    static std::map<std::string, std::map<std::int64_t, double>> seconds;
    return seconds;
}

// CPU time of the calling thread: on a busy machine wall time mostly measures the others.
inline double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Runs `body` once per iteration and records its mean CPU time for the scaling report.
template <typename Body>
void timeByLength(benchmark::State& state, const std::string& stage, Body body) {
    const double start = threadSeconds();
    std::int64_t iterations = 0;
    for (auto _ : state) {
        body();
        ++iterations;
    }
    const double seconds = threadSeconds() - start;
    if (iterations > 0) recordedSeconds()[stage][state.range(0)] = seconds / static_cast<double>(iterations);
    state.counters["characters"] = static_cast<double>(state.range(0));
}

// Prints, per stage, the time at each length and the 20,000/2,000 ratio against the goal.
inline void reportScaling() {
    for (const auto& [stage, byLength] : recordedSeconds()) {
        std::fprintf(stderr, "%s:", stage.c_str());
        for (const auto& [length, seconds] : byLength) std::fprintf(stderr, "  %lld chars %.3f ms", static_cast<long long>(length), seconds * 1000);
        const auto small = byLength.find(2000);
        const auto large = byLength.find(20000);
        if (small != byLength.end() && large != byLength.end() && small->second > 0) {
            const double ratio = large->second / small->second;
            std::fprintf(stderr, "  → 20000/2000 = %.1f× (goal ≤ %.0f×: %s)", ratio, kScalingGoal,
                         ratio <= kScalingGoal ? "met" : "NOT met");
        }
        std::fprintf(stderr, "\n");
    }
}

}  // namespace pelora::bench
