// The timeline segmenter over 200, 2,000 and 20,000 characters of final text, with one
// recogniser run per 25 characters and a pause after every fourth run, as a long file
// gives them. The report at the end compares 20,000 characters with 2,000.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "LengthScaling.h"
#include "engine/recognition/JapaneseTimelineSegmenter.h"

namespace {

using pelora::TranscribedWord;

const std::string kDictation =
    "今日は音声入力ツールの設定について話します。文章の補完がうまく効かないことがあり、"
    "誤変換が起きたときは候補の確度を見てから直します。カーソルの位置で改行したいときはコマンドを使い、"
    "テキストの整形も自動で行います。認識の精度を上げるためにモデルの推論を速くして、"
    "GitHubにあるコードをレビューします。明日は3時からページ遷移のテストをします。";

constexpr std::size_t kCharactersPerRun = 25;
constexpr double kSecondsPerCharacter = 0.15;

void BM_SegmentLength(benchmark::State& state) {
    const auto characters = static_cast<std::size_t>(state.range(0));
    const std::string text = pelora::bench::textOfLength(kDictation, characters);
    const std::vector<std::string> pieces = pelora::text::graphemes(text);
    std::vector<TranscribedWord> runs;
    std::vector<double> pauses;
    for (std::size_t start = 0; start < pieces.size(); start += kCharactersPerRun) {
        std::string run;
        for (std::size_t i = start; i < std::min(start + kCharactersPerRun, pieces.size()); ++i) run += pieces[i];
        const double begin = static_cast<double>(start) * kSecondsPerCharacter;
        const double end = begin + static_cast<double>(kCharactersPerRun) * kSecondsPerCharacter * 0.9;
        runs.emplace_back(run, std::nullopt, begin, end, 0.9f, "JA-ANE");
        if (runs.size() % 4 == 0) pauses.push_back(end + 0.05);
    }
    const double duration = static_cast<double>(characters) * kSecondsPerCharacter;
    pelora::bench::timeByLength(state, "timeline segmenter", [&] {
        benchmark::DoNotOptimize(pelora::JapaneseTimelineSegmenter::segment(text, runs, pauses, duration, "JA-ANE"));
    });
}
BENCHMARK(BM_SegmentLength)->Arg(200)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    pelora::bench::reportScaling();
    benchmark::Shutdown();
    return 0;
}
