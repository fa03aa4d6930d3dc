// EG2 front end and rescoring speed, all in one run:
//   * log-mel features of one 20 s window on one core (goal: at most 10 ms);
//   * word rescoring throughput, in bytes of word-table rows read per second, over a
//     synthetic table of 229,000 rows, against the plain memory-copy bandwidth measured
//     in the same run (goal: at least half of it).
// Run: bench_eg2_bench [Google Benchmark flags]

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "engine/recognition/EG2Constants.h"
#include "engine/recognition/LogMel.h"
#include "engine/recognition/MappedFile.h"
#include "engine/recognition/Rerank.h"
#include "platform/ml/Float16.h"
#include "platform/ml/MultiArray.h"

namespace {

using namespace pelora;

constexpr std::int64_t kTableRows = 229000;
constexpr std::int64_t kDim = EG2Constants::embeddingDim;
constexpr std::int64_t kFrames = EG2Constants::outputFramesPerWindow;
constexpr std::int64_t kRowBytes = kDim * 2;
constexpr std::size_t kCopyBytes = std::size_t{256} << 20;  // far beyond every cache

// The two feature tables, written once into a temporary folder.
const std::filesystem::path& featureTables() {
    static const std::filesystem::path folder = [] {
        auto dir = std::filesystem::temp_directory_path() / ("eg2-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        std::vector<float> hann(320), filters(257 * 128);
        for (int i = 0; i < 320; ++i) hann[i] = static_cast<float>(0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / 320));
        std::mt19937 rng(1);
        std::uniform_real_distribution<float> weight(0.0f, 0.05f);
        for (auto& f : filters) f = weight(rng);
        std::ofstream(dir / "hann_320.f32", std::ios::binary)
            .write(reinterpret_cast<const char*>(hann.data()), static_cast<std::streamsize>(hann.size() * 4));
        std::ofstream(dir / "mel_filters_257x128.f32", std::ios::binary)
            .write(reinterpret_cast<const char*>(filters.data()), static_cast<std::streamsize>(filters.size() * 4));
        return dir;
    }();
    return folder;
}

void BM_LogMelWindow(benchmark::State& state) {
    LogMel logMel(featureTables());
    std::vector<float> window(EG2Constants::windowSamples);
    std::mt19937 rng(2);
    std::normal_distribution<float> noise(0.0f, 0.1f);
    for (std::size_t i = 0; i < window.size(); ++i) {
        window[i] = 0.3f * static_cast<float>(std::sin(2 * std::numbers::pi * 220.0 * static_cast<double>(i) / 16000)) +
                    noise(rng);
    }
    for (auto _ : state) {
        auto features = logMel(window);
        benchmark::DoNotOptimize(features.mel.data());
    }
}
BENCHMARK(BM_LogMelWindow)->Unit(benchmark::kMillisecond);

struct RerankInputs {
    std::shared_ptr<const MappedFile> table;
    ml::MultiArray vec{{1, kFrames, kDim}, ml::ElementType::float16};
    ml::MultiArray bidx{{1, kFrames, EG2Constants::scorerTopKBlocks}, ml::ElementType::int32};

    RerankInputs() {
        std::mt19937 rng(3);
        std::uniform_real_distribution<float> value(-0.1f, 0.1f);
        std::vector<std::uint16_t> halves(1 << 16);
        for (auto& h : halves) h = ml::floatToHalf(value(rng));
        std::vector<std::byte> bytes(static_cast<std::size_t>(kTableRows * kRowBytes));
        auto* rows = reinterpret_cast<std::uint16_t*>(bytes.data());
        for (std::size_t i = 0; i < bytes.size() / 2; ++i) rows[i] = halves[i & 0xFFFF] ^ static_cast<std::uint16_t>(i >> 16 & 1);
        table = MappedFile::fromBytes(std::move(bytes));
        for (std::int64_t i = 0; i < vec.count(); ++i) vec.halves()[i] = ml::floatToHalf(value(rng));
        std::uniform_int_distribution<std::int32_t> block(0, static_cast<std::int32_t>(kTableRows / 4 - 1));
        for (std::int64_t i = 0; i < bidx.count(); ++i) bidx.ints()[i] = block(rng);
    }
    static RerankInputs& shared() {
        static RerankInputs inputs;
        return inputs;
    }
};

void BM_RerankWindow(benchmark::State& state) {
    RerankInputs& in = RerankInputs::shared();
    const auto* table = reinterpret_cast<const std::uint16_t*>(in.table->data());
    for (auto _ : state) {
        auto results = Rerank::run(table, kTableRows, kFrames, in.vec, in.bidx);
        benchmark::DoNotOptimize(results.data());
    }
    // Bytes of word-table rows read: 64 rows of 1536 bytes per frame.
    state.SetBytesProcessed(state.iterations() * kFrames * EG2Constants::rerankCandidatesPerFrame * kRowBytes);
}
BENCHMARK(BM_RerankWindow)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MemoryCopy(benchmark::State& state) {
    std::vector<char> from(kCopyBytes, 1), to(kCopyBytes, 0);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kCopyBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kCopyBytes));
}
BENCHMARK(BM_MemoryCopy)->Unit(benchmark::kMillisecond);

// Prints the usual table and keeps what the summary needs.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            const std::string name = run.benchmark_name();
            milliseconds_[name] = run.GetAdjustedRealTime();
            auto bytes = run.counters.find("bytes_per_second");
            if (bytes != run.counters.end()) bytesPerSecond_[name] = bytes->second.value;
        }
    }

    void printSummary() const {
        auto find = [](const auto& map, const std::string& key) {
            auto it = map.find(key);
            return it == map.end() ? 0.0 : it->second;
        };
        const double logMel = find(milliseconds_, "BM_LogMelWindow");
        const double rerank = find(bytesPerSecond_, "BM_RerankWindow/real_time");
        const double copy = find(bytesPerSecond_, "BM_MemoryCopy");
        std::printf("\nSummary\n");
        std::printf("  log-mel, one 20 s window, one core : %.2f ms (goal <= 10 ms)\n", logMel);
        std::printf("  rescoring, word-table rows read    : %.2f GB/s over %lld rows\n", rerank / 1e9,
                    static_cast<long long>(kTableRows));
        std::printf("  memory copy, same run              : %.2f GB/s\n", copy / 1e9);
        std::printf("  rescoring / memory copy            : %.0f %% (goal >= 50 %%)\n",
                    copy > 0 ? 100.0 * rerank / copy : 0.0);
    }

private:
    std::map<std::string, double> milliseconds_;
    std::map<std::string, double> bytesPerSecond_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printSummary();
    std::error_code ec;
    std::filesystem::remove_all(featureTables(), ec);
    benchmark::Shutdown();
    return 0;
}
