// Time of the Japanese post-processor per 200-character utterance with every switch on.
// The utterances are strung together from raw dictation-like fragments
// (bench/data/japanese_dictation_fragments.txt) that touch every rule of the pipeline.
// Goal: under 1 ms per utterance on one core, with every pattern compiled once.
// The length benchmarks run the post-processor, comma thinning and kanji numerals over
// 200, 2,000 and 20,000 characters; the report at the end compares 20,000 with 2,000.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "LengthScaling.h"
#include "engine/japanese/JapaneseInputProcessor.h"
#include "platform/text/UnicodeText.h"

namespace {

using pelora::JapaneseInputOptions;
using pelora::JapaneseInputProcessor;

constexpr std::size_t kUtteranceCount = 300;
constexpr std::size_t kUtteranceLength = 200;  // user-perceived characters

std::vector<std::string> loadFragments() {
    const std::string path = std::string(PELORA_SOURCE_DIR) + "/bench/data/japanese_dictation_fragments.txt";
    std::ifstream file(path);
    if (!file) throw std::runtime_error("cannot read " + path);
    std::vector<std::string> fragments;
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.front() != '#') fragments.push_back(line);
    }
    if (fragments.empty()) throw std::runtime_error("no fragments in " + path);
    return fragments;
}

// Each utterance strings fragments together with a different start and stride (and
// now and then a space, as between two recogniser runs), cut to 200 characters.
const std::vector<std::string>& utterances() {
    static const std::vector<std::string> corpus = [] {
        const std::vector<std::string> fragments = loadFragments();
        std::vector<std::string> out;
        for (std::size_t u = 0; u < kUtteranceCount; ++u) {
            std::string text;
            std::size_t index = (u * 7) % fragments.size();
            const std::size_t stride = 1 + u % 5;
            while (pelora::text::graphemeCount(text) < kUtteranceLength) {
                text += fragments[index];
                if ((index + u) % 3 == 0) text += ' ';
                index = (index + stride) % fragments.size();
            }
            const std::vector<std::string> characters = pelora::text::graphemes(text);
            std::string cut;
            for (std::size_t i = 0; i < kUtteranceLength; ++i) cut += characters[i];
            out.push_back(cut);
        }
        return out;
    }();
    return corpus;
}

JapaneseInputOptions everySwitchOn() {
    JapaneseInputOptions options;
    options.removeFillers = true;
    options.enableVoiceCommands = true;
    options.normalizeNumbers = true;
    options.normalizeAlphanumerics = true;
    options.autoPunctuate = true;
    options.spokenToWrittenPolish = true;
    options.punctuationStyle = pelora::JapanesePunctuationStyle::academic;
    options.punctuationDensity = pelora::JapanesePunctuationDensity::balanced;
    return options;
}

// One utterance per iteration, cycling through the corpus: the reported time is per utterance.
void BM_ProcessUtterance(benchmark::State& state) {
    const auto& corpus = utterances();
    const JapaneseInputProcessor processor;
    const JapaneseInputOptions options = everySwitchOn();
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(processor.process(corpus[next], options, 3));
        next = (next + 1) % corpus.size();
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["chars_per_utterance"] = static_cast<double>(kUtteranceLength);
}
BENCHMARK(BM_ProcessUtterance)->Unit(benchmark::kMicrosecond);

// One long dictation: every fragment in turn, as a recogniser would string a long file together.
const std::string& longDictation() {
    static const std::string text = [] {
        std::string out;
        for (const std::string& fragment : loadFragments()) out += fragment;
        return out;
    }();
    return text;
}

void BM_ProcessLength(benchmark::State& state) {
    const JapaneseInputProcessor processor;
    const JapaneseInputOptions options = everySwitchOn();
    const std::string text = pelora::bench::textOfLength(longDictation(), static_cast<std::size_t>(state.range(0)));
    pelora::bench::timeByLength(state, "post-processor (dictation)",
                                [&] { benchmark::DoNotOptimize(processor.process(text, options, 0)); });
}
BENCHMARK(BM_ProcessLength)->Arg(200)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

// Every clause followed by a comma: the thinning weighs each comma against the whole sentence.
void BM_CommaThinningLength(benchmark::State& state) {
    const std::string text = pelora::bench::textOfLength("今日は、", static_cast<std::size_t>(state.range(0)));
    pelora::bench::timeByLength(state, "comma thinning (今日は、…)", [&] {
        benchmark::DoNotOptimize(
            JapaneseInputProcessor::balancePunctuationRhythm(text, pelora::JapanesePunctuationDensity::balanced));
    });
}
BENCHMARK(BM_CommaThinningLength)->Arg(200)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

// One run of numeral kanji without a decimal point.
void BM_KanjiNumbersLength(benchmark::State& state) {
    const std::string text = pelora::bench::textOfLength("一", static_cast<std::size_t>(state.range(0)));
    pelora::bench::timeByLength(state, "kanji numerals (一…)", [&] {
        benchmark::DoNotOptimize(JapaneseInputProcessor::normalizeKanjiNumbers(text));
    });
}
BENCHMARK(BM_KanjiNumbersLength)->Arg(200)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

// Prints how often each rule label fires over the corpus, so that a corpus change that
// stops exercising a step shows up; also compiles every pattern before timing starts.
void reportRuleCoverage() {
    const JapaneseInputProcessor processor;
    std::map<std::string, int> counts;
    for (const std::string& text : utterances()) {
        for (const std::string& label : processor.process(text, everySwitchOn(), 0).second) ++counts[label];
    }
    std::fprintf(stderr, "%zu utterances of %zu characters; steps that changed them:\n", utterances().size(),
                 kUtteranceLength);
    for (const auto& [label, count] : counts) std::fprintf(stderr, "  %4d  %s\n", count, label.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    reportRuleCoverage();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    pelora::bench::reportScaling();
    benchmark::Shutdown();
    return 0;
}
