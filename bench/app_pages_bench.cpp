// Speed of the settings pages as the user meets them: a rules-page toggle while a 60-minute
// result is on screen (save, playground, reprocessing about 20,000 characters) until the
// page has painted again (on the page alone, and in the main window whose output card holds
// the result as well); the rules page with 500 dictionary entries built and painted; one
// row switch; the permission sheet's content built and painted. The controller runs over
// the tests' fakes with its real settings document. Needs a display: run it in the tests'
// private desktop,
//   tests/support/programs/pelora-desktop-run -- bench/bench_app_pages_bench
// Figures to read: median_ms (and p95_ms) of each case.
#include "tests/PeloraVoiceApp/controller/ControllerFakes.h"

#include "PeloraVoiceApp/controller/AppViewModelQtAdapter.h"
#include "PeloraVoiceApp/pages/PermissionSheetView.h"
#include "PeloraVoiceApp/pages/RulesPageView.h"
#include "PeloraVoiceApp/pages/VocabularyEditor.h"
#include "PeloraVoiceApp/window/MainWorkspaceView.h"
#include "PeloraVoiceApp/window/PeloraVoiceApplication.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QScrollArea>

#include <algorithm>
#include <chrono>

using namespace pelora;

namespace {

struct Controller : controller_testing::ControllerFixture {
    void TestBody() override {}
    using ControllerFixture::make;
    using ControllerFixture::model;
};

// Kept for the whole run and never destroyed: a QApplication torn down among the exit
// handlers would outlive the toolkit's own statics.
QApplication& application() {
    static QApplication* app = [] {
        static int argc = 1;
        static char name[] = "pages-bench";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Counts the paints of a widget tree's window.
class PaintCounter final : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return QObject::eventFilter(watched, event);
    }
};

// Runs the loop until the watched widget has painted once more.
void untilPainted(PaintCounter& counter, QWidget* watched) {
    const int before = counter.paints;
    watched->update();
    QElapsedTimer clock;
    clock.start();
    while (counter.paints == before && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void reportPercentiles(benchmark::State& state, std::vector<double>& milliseconds) {
    std::sort(milliseconds.begin(), milliseconds.end());
    if (milliseconds.empty()) return;
    state.counters["median_ms"] = milliseconds[milliseconds.size() / 2];
    state.counters["p95_ms"] = milliseconds[std::min(milliseconds.size() - 1, milliseconds.size() * 95 / 100)];
}

double since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// About 20,000 characters of raw recognised text with pauses, as an hour's result.
HistoryEntry hourLongResult() {
    const std::string sentence = "えーと、コアエムエルで三百二十ミリ秒の超低遅延を実現しましたまる";
    std::string raw;
    TranscriptionResult result;
    while (raw.size() < 20000 * 3) raw += sentence;
    result.rawText = raw;
    result.text = raw;
    result.engineMode = EngineMode::appleSpeechJa;
    for (int minute = 0; minute < 60; ++minute) result.pauseTimestamps.push_back(minute * 60.0 + 30.0);
    TranscribedWord run{raw, raw, 0, 3600, 0.9f, "JA"};
    result.words = {run};
    result.telemetry.audioDurationSeconds = 3600;
    HistoryEntry entry;
    entry.id = "22222222-3333-4444-8555-666666666666";
    entry.sourceName = "bench";
    entry.result = std::move(result);
    return entry;
}

std::vector<CustomVocabularyEntry> fiveHundredEntries() {
    std::vector<CustomVocabularyEntry> entries;
    const auto& builtIn = JapaneseEmbeddingReranker::defaultVocabulary();
    for (int i = 0; i < 500; ++i) {
        CustomVocabularyEntry entry = builtIn[static_cast<std::size_t>(i) % builtIn.size()];
        entry.id = CustomVocabularyEntry::newID();
        entry.surface += " " + std::to_string(i);
        entries.push_back(std::move(entry));
    }
    return entries;
}

// A rules page in a shown scroll area, as the window holds it.
struct ShownRulesPage {
    explicit ShownRulesPage(AppViewModelQtAdapter& adapter) {
        page = new pages::RulesPageView(adapter, local);
        window.setWidget(page);
        window.setWidgetResizable(true);
        window.resize(1000, 700);
        window.viewport()->installEventFilter(&counter);
        page->installEventFilter(&counter);
        window.show();
        untilPainted(counter, page);
    }
    pages::RulesPageLocalState local;
    QScrollArea window;
    pages::RulesPageView* page = nullptr;
    PaintCounter counter;
};

void BM_RulesToggleWithHourLongResult(benchmark::State& state) {
    application();
    Controller controller;
    AppViewModel& vm = controller.make();
    vm.selectHistoryEntry(hourLongResult());
    AppViewModelQtAdapter adapter(vm);
    ShownRulesPage shown(adapter);
    auto* fillers = shown.page->findChild<QCheckBox*>(QStringLiteral("removeFillers"));
    std::vector<double> times;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        fillers->click();
        untilPainted(shown.counter, shown.page);
        times.push_back(since(start));
    }
    reportPercentiles(state, times);
}
BENCHMARK(BM_RulesToggleWithHourLongResult)->Iterations(20)->Unit(benchmark::kMillisecond);

// The same toggle in the main window, where the studio page's output card (not on screen
// while the rules page is) holds the hour-long result too and follows each reprocessing.
void BM_RulesToggleInMainWindowWithHourLongResult(benchmark::State& state) {
    application();
    Controller controller;
    AppViewModel& vm = controller.make();
    vm.selectHistoryEntry(hourLongResult());
    PeloraVoiceApp app(vm);
    app.setQuitHandler([] {});
    app.mainWindow().openAtDefaultSize();
    vm.setSelectedSection(SidebarSection::rules);
    auto* page = app.mainWindow().findChild<pages::RulesPageView*>();
    PaintCounter counter;
    page->installEventFilter(&counter);
    untilPainted(counter, page);
    auto* fillers = page->findChild<QCheckBox*>(QStringLiteral("removeFillers"));
    std::vector<double> times;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        fillers->click();
        untilPainted(counter, page);
        times.push_back(since(start));
    }
    reportPercentiles(state, times);
}
BENCHMARK(BM_RulesToggleInMainWindowWithHourLongResult)->Iterations(20)->Unit(benchmark::kMillisecond);

void BM_RulesPageWith500Entries(benchmark::State& state) {
    application();
    Controller controller;
    AppViewModel& vm = controller.make();
    vm.setCustomVocabulary(fiveHundredEntries());
    AppViewModelQtAdapter adapter(vm);
    std::vector<double> times;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        {
            ShownRulesPage shown(adapter);
            times.push_back(since(start));
            state.PauseTiming();
        }
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    reportPercentiles(state, times);
}
BENCHMARK(BM_RulesPageWith500Entries)->Iterations(10)->Unit(benchmark::kMillisecond);

void BM_RowSwitchOf500(benchmark::State& state) {
    application();
    Controller controller;
    AppViewModel& vm = controller.make();
    vm.setCustomVocabulary(fiveHundredEntries());
    AppViewModelQtAdapter adapter(vm);
    ShownRulesPage shown(adapter);
    auto* editor = shown.page->vocabularyEditor();
    std::vector<double> times;
    bool on = false;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        editor->setEntryEnabled(3, on = !on);
        untilPainted(shown.counter, shown.page);
        times.push_back(since(start));
    }
    reportPercentiles(state, times);
}
BENCHMARK(BM_RowSwitchOf500)->Iterations(20)->Unit(benchmark::kMillisecond);

void BM_PermissionSheetOpen(benchmark::State& state) {
    application();
    Controller controller;
    AppViewModel& vm = controller.make();
    AppViewModelQtAdapter adapter(vm);
    std::vector<double> times;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        {
            pages::PermissionSheetView sheet(adapter);
            PaintCounter counter;
            sheet.installEventFilter(&counter);
            sheet.setFixedSize(pages::PermissionSheetView::sheetWidth, pages::PermissionSheetView::sheetHeight);
            sheet.show();
            untilPainted(counter, &sheet);
            times.push_back(since(start));
            state.PauseTiming();
        }
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    reportPercentiles(state, times);
}
BENCHMARK(BM_PermissionSheetOpen)->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
