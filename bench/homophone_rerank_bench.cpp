// Reranking time of one dictated utterance of about 200 characters, with the built-in
// vocabulary, EG2 terms and a focused text field. The morphological model and every
// table are built before timing starts (once per process), as in a running application.
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "LengthScaling.h"
#include "engine/japanese/JapaneseEmbeddingReranker.h"
#include "platform/text/UnicodeText.h"

namespace {

using pelora::FocusedTextContext;
using pelora::JapaneseEmbeddingReranker;
using pelora::TranscribedWord;

// About 200 characters of raw recogniser output with katakana terms, homophones and a
// stutter, the kind of text every stage has something to look at in.
const std::string kUtterance =
    "今日はコアエムエルで推論する新しいツールの設定について話します。ペロラボイス2で音声入力すると、"
    "たまにご変換が起きて保管が変換されないことがあります。カーソルの位置で開業して、"
    "エンベディングジェマのベクトルを使って候補を並べ替えます。ギットハブにあるコードの実相も確認して、"
    "ミルカに文脈を渡すとレイテンシが下がります。変換が変換がおかしいときはもう一度話してください。"
    "最後に五時脱字を確認します。";

FocusedTextContext focusedContext() {
    FocusedTextContext context;
    context.appName = "Editor";
    context.windowTitle = "notes.md — Editor";
    context.preText = "音声入力ツールの設計メモ。Core MLとSwiftUIで実装する。入力補完と誤変換の扱いを";
    context.postText = "次はテストを書く。README.mdを更新する。";
    return context;
}

std::vector<TranscribedWord> eg2Terms() {
    return {TranscribedWord("GitHub", std::nullopt, 3.1, 3.5, 0.93f, "EG2"),
            TranscribedWord("latency", std::nullopt, 7.2, 7.6, 0.91f, "EG2"),
            TranscribedWord("embedding,", std::nullopt, 5.0, 5.4, 0.9f, "EG2")};
}

void BM_RerankUtterance(benchmark::State& state) {
    const JapaneseEmbeddingReranker reranker;
    const auto vocabulary = JapaneseEmbeddingReranker::defaultVocabulary();
    const auto context = std::make_optional(focusedContext());
    const auto terms = eg2Terms();
    // First use builds the morphological model and the tables; not part of the timing.
    benchmark::DoNotOptimize(reranker.rerank(kUtterance, terms, vocabulary, context));
    for (auto _ : state) {
        auto result = reranker.rerank(kUtterance, terms, vocabulary, context);
        benchmark::DoNotOptimize(result);
    }
    state.counters["characters"] = static_cast<double>(pelora::text::graphemeCount(kUtterance));
}
BENCHMARK(BM_RerankUtterance)->Unit(benchmark::kMillisecond);

// The same dictation strung together to 200, 2,000 and 20,000 characters.
void BM_RerankLength(benchmark::State& state) {
    const JapaneseEmbeddingReranker reranker;
    const auto vocabulary = JapaneseEmbeddingReranker::defaultVocabulary();
    const auto context = std::make_optional(focusedContext());
    const auto terms = eg2Terms();
    const std::string text = pelora::bench::textOfLength(kUtterance, static_cast<std::size_t>(state.range(0)));
    benchmark::DoNotOptimize(reranker.rerank(kUtterance, terms, vocabulary, context));
    pelora::bench::timeByLength(state, "reranker",
                                [&] { benchmark::DoNotOptimize(reranker.rerank(text, terms, vocabulary, context)); });
}
BENCHMARK(BM_RerankLength)->Arg(200)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    pelora::bench::reportScaling();
    benchmark::Shutdown();
    return 0;
}
