// Typing Japanese through synthetic keys: 240 UTF-16 units with more distinct characters
// than there are spare keycodes, into xterm (which answers no pings: fixed waits before a
// keycode is lent again) and into the Qt target (which does: a round trip instead), each
// on a private desktop. Goal: each call into xterm within 1.5 s. Reports characters per
// second.
#include "engine/injection/AccessibilityTextInjector.h"
#include "platform/text/UnicodeText.h"
#include "tests/support/DesktopTestBed.h"
#include "tests/support/TargetApplication.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>

namespace {

using pelora::AccessibilityTextInjector;
using namespace pelora::testing;

const std::string japanese =
    "国語辞典によれば、音声認識とは人間の話す言葉を計算機が文字に変換する技術である。近年は深層学習の発展により"
    "精度が大幅に向上し、会議の議事録作成や字幕の自動生成、家電の操作など幅広い分野で利用されている。日本語は同"
    "音異義語が多く、文脈に応じた漢字の選択が難しい。例えば「きかい」は機械、機会、奇怪のいずれにもなり得る。そ"
    "こで前後の単語や話題から最も自然な候補を選ぶ仕組みが欠かせない。また句読点の位置や数字の表記、英単語の混在"
    "にも配慮する必要がある。本製品は端末上で処理を完結させる";

// One private desktop for the whole run, with the target of the running benchmark in
// front.
DesktopTestBed& desktop() {
    static DesktopTestBed bed{DesktopTestBed::Options{.windowManager = true, .accessibility = false, .audio = false}};
    static const bool exported = (bed.exportEnvironment(), true);
    (void)exported;
    return bed;
}

std::string typedText() {
    return pelora::text::fromScalars(pelora::text::toScalars(japanese).substr(0, 240));
}

void reportCounters(benchmark::State& state, const std::string& text) {
    const std::u32string scalars = pelora::text::toScalars(text);
    state.counters["utf16_units"] = static_cast<double>(pelora::text::utf16Length(text));
    state.counters["distinct_chars"] = static_cast<double>(std::set<char32_t>(scalars.begin(), scalars.end()).size());
    state.counters["chars_per_second"] =
        benchmark::Counter(static_cast<double>(scalars.size()), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_TypeJapaneseIntoXterm(benchmark::State& state) {
    desktop();
    TargetApplication terminal = TargetApplication::terminal();
    terminal.activate();
    const std::string text = typedText();
    std::string expected;
    for (auto _ : state) {
        const auto started = std::chrono::steady_clock::now();
        AccessibilityTextInjector::simulateUnicodeTyping(text);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        expected += text;
        if (!terminal.waitForReceived(expected, std::chrono::seconds(20))) {
            state.SkipWithError("xterm did not receive exactly the typed text");
            break;
        }
    }
    reportCounters(state, text);
}
BENCHMARK(BM_TypeJapaneseIntoXterm)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_TypeJapaneseIntoQt(benchmark::State& state) {
    desktop();
    TargetApplication qt = TargetApplication::qt();
    qt.activate();
    const std::string text = typedText();
    std::string expected;
    for (auto _ : state) {
        const auto started = std::chrono::steady_clock::now();
        AccessibilityTextInjector::simulateUnicodeTyping(text);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        expected += text;
        if (!qt.waitForField("line", expected, std::chrono::seconds(20))) {
            state.SkipWithError("the Qt target did not show exactly the typed text");
            break;
        }
    }
    reportCounters(state, text);
}
BENCHMARK(BM_TypeJapaneseIntoQt)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
