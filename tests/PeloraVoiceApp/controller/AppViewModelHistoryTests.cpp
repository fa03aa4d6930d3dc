#include "tests/PeloraVoiceApp/controller/ControllerFakes.h"

#include "PeloraVoiceApp/controller/AppViewModelQtAdapter.h"

#include <QCoreApplication>

#include <nlohmann/json.hpp>

#include <set>

using namespace pelora;
using namespace pelora::controller_testing;

namespace {

TranscriptionResult resultWithText(std::string text) {
    TranscriptionResult result;
    result.text = text;
    result.rawText = text;
    TranscribedWord word;
    word.text = text;
    word.rawText = text;
    word.start = 0.25;
    word.end = 1.5;
    word.confidence = 0.75f;
    word.source = "JA-ANE";
    result.words = {word};
    result.pauseTimestamps = {0.8};
    result.telemetry.totalProcessingMs = 120;
    result.telemetry.appliedRuleAnnotations = {"フィラー・言い淀み除去"};
    return result;
}

class HistoryFixture : public ControllerFixture {
protected:
    void complete(AppViewModel& vm, const std::string& text, const std::string& source = "手動音声入力",
                  std::optional<ActiveApplicationSnapshot> target = std::nullopt) {
        vm.completeTranscription(resultWithText(text), source, std::move(target), std::nullopt, false);
    }
};

TEST_F(HistoryFixture, TheNewestComesFirstAndOnlyFortyStay) {
    AppViewModel& vm = make();
    RecordingListener listener;
    listener.model = &vm;
    vm.addListener(&listener);
    for (int i = 1; i <= 40; ++i) complete(vm, "第" + std::to_string(i));
    ASSERT_EQ(vm.history().size(), 40u);
    EXPECT_EQ(listener.count(AppViewModelProperty::history), 40) << "no trim up to forty";
    EXPECT_EQ(vm.history().front().result.text, "第40");
    EXPECT_EQ(vm.history().back().result.text, "第1");

    listener.changes.clear();
    complete(vm, "第41");
    ASSERT_EQ(vm.history().size(), 40u);
    EXPECT_EQ(vm.history().front().result.text, "第41");
    EXPECT_EQ(vm.history().back().result.text, "第2");
    EXPECT_EQ(listener.count(AppViewModelProperty::history), 2) << "the insertion, then the trim";
    std::set<std::string> ids;
    for (const HistoryEntry& entry : vm.history()) ids.insert(entry.id);
    EXPECT_EQ(ids.size(), 40u);
    vm.removeListener(&listener);
}

TEST_F(HistoryFixture, EntriesCarryTheSourceTargetAndTime) {
    AppViewModel& vm = make();
    const ActiveApplicationSnapshot named{7, std::string("org.example.Notes"), std::string("Notes")};
    const ActiveApplicationSnapshot unnamed{8, std::nullopt, std::nullopt};
    complete(vm, "一", "clip.m4a", named);
    complete(vm, "二", "手動音声入力", unnamed);
    complete(vm, "三", "ベンチマーク", std::nullopt);
    complete(vm, "", "空", named);  // an empty result is kept as well
    ASSERT_EQ(vm.history().size(), 4u);
    EXPECT_EQ(vm.history()[3].targetAppName, named.displayLabel());
    EXPECT_EQ(vm.history()[3].sourceName, "clip.m4a");
    EXPECT_EQ(vm.history()[2].targetAppName, unnamed.displayLabel());
    EXPECT_EQ(vm.history()[1].targetAppName, std::nullopt);
    EXPECT_EQ(vm.history()[0].result.text, "");
    for (const HistoryEntry& entry : vm.history()) {
        EXPECT_EQ(entry.createdAt, wallClock.now());
        EXPECT_EQ(entry.id.size(), 36u);
    }
}

TEST_F(HistoryFixture, AReplacementKeepsTheIdAndThePlace) {
    AppViewModel& vm = make();
    const ActiveApplicationSnapshot target{7, std::string("org.example.Notes"), std::string("Notes")};
    complete(vm, "一", "a", target);
    complete(vm, "二", "b");
    complete(vm, "三", "c");
    const auto before = vm.history();
    const std::chrono::system_clock::time_point madeAt{std::chrono::hours(5)};
    struct Row {
        const char* name;
        std::size_t index;  // the entry replaced; npos: an id not in the list
        std::optional<ActiveApplicationSnapshot> target;
    };
    const Row rows[] = {
        {"the newest, with a target", 0, target},
        {"the oldest, without a target", 2, std::nullopt},
        {"an entry trimmed away", std::string::npos, target},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto current = vm.history();
        const std::string id = row.index == std::string::npos ? "00000000-0000-4000-8000-000000000000"
                                                               : current[row.index].id;
        RecordingListener listener;
        listener.model = &vm;
        vm.addListener(&listener);
        const bool replaced = vm.replaceHistoryEntry(id, madeAt, "訂正", row.target, resultWithText("訂正後"));
        vm.removeListener(&listener);
        EXPECT_EQ(replaced, row.index != std::string::npos);
        ASSERT_EQ(vm.history().size(), current.size());
        if (!replaced) {
            EXPECT_EQ(vm.history(), current);
            EXPECT_TRUE(listener.changes.empty());
            continue;
        }
        EXPECT_EQ(listener.count(AppViewModelProperty::history), 1);
        for (std::size_t i = 0; i < current.size(); ++i) {
            if (i != row.index) {
                EXPECT_EQ(vm.history()[i], current[i]);
                continue;
            }
            const HistoryEntry& entry = vm.history()[i];
            EXPECT_EQ(entry.id, before[i].id);
            EXPECT_EQ(entry.createdAt, madeAt);
            EXPECT_EQ(entry.sourceName, "訂正");
            EXPECT_EQ(entry.targetAppName,
                      row.target ? std::optional<std::string>(row.target->displayLabel()) : std::nullopt);
            EXPECT_EQ(entry.result.text, "訂正後");
        }
    }
}

TEST_F(HistoryFixture, SelectingAnEntryShowsItsResultAndNothingElse) {
    AppViewModel& vm = make();
    const ActiveApplicationSnapshot target{7, std::string("org.example.Notes"), std::string("Notes")};
    complete(vm, "古い方", "old.wav", target);
    complete(vm, "", "空の録音", target);
    complete(vm, "新しい方", "new.wav", target);
    const auto history = vm.history();
    const auto outcome = vm.lastInjectionOutcome();
    const auto overlayCalls = overlay.calls.size();
    const auto copies = paster.copied.size();

    std::set<std::string> sessions{vm.activeTranscriptionSessionID()};
    for (int round = 0; round < 2; ++round) {
        vm.selectHistoryEntry(history[2]);
        EXPECT_EQ(vm.currentResult(), history[2].result);
        EXPECT_EQ(vm.currentSourceName(), "old.wav");
        EXPECT_EQ(vm.lastTranscribedText(), "古い方");
        sessions.insert(vm.activeTranscriptionSessionID());
    }
    EXPECT_EQ(sessions.size(), 3u) << "each selection begins a session of its own";
    // An empty entry is shown as it is, its empty text included.
    vm.selectHistoryEntry(history[1]);
    EXPECT_EQ(vm.lastTranscribedText(), "");
    // Selecting an entry through a reference into the list itself.
    vm.selectHistoryEntry(vm.history()[0]);
    EXPECT_EQ(vm.currentSourceName(), "new.wav");

    EXPECT_EQ(vm.history(), history);
    EXPECT_EQ(vm.lastInjectionOutcome(), outcome);
    EXPECT_EQ(vm.selectedSection(), SidebarSection::studio);
    EXPECT_EQ(overlay.calls.size(), overlayCalls);
    EXPECT_EQ(paster.copied.size(), copies);
}

TEST_F(HistoryFixture, TheAdapterSelectsByIdAndIgnoresAnUnknownOne) {
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "history-tests";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }
    AppViewModel& vm = make();
    complete(vm, "一", "a");
    complete(vm, "二", "b");
    AppViewModelQtAdapter adapter(vm);
    QMetaObject::invokeMethod(&adapter, "selectHistoryEntry", Q_ARG(QString, QString::fromStdString(vm.history()[1].id)));
    EXPECT_EQ(vm.currentSourceName(), "a");
    const std::string session = vm.activeTranscriptionSessionID();
    QMetaObject::invokeMethod(&adapter, "selectHistoryEntry", Q_ARG(QString, QStringLiteral("gone")));
    EXPECT_EQ(vm.currentSourceName(), "a");
    EXPECT_EQ(vm.activeTranscriptionSessionID(), session);
}

// ---- the keyed JSON form ----

TEST(HistoryEntryJSONTest, RoundTripsWithAndWithoutATarget) {
    const auto createdAt = std::chrono::system_clock::time_point(std::chrono::milliseconds(1'765'400'000'250));
    for (const std::optional<std::string>& target : {std::optional<std::string>("Notes (org.example.Notes)"),
                                                     std::optional<std::string>()}) {
        const HistoryEntry entry{"3F2504E0-4F89-41D3-9A0C-0305E82C3301", createdAt, "Push-to-Talk (右⌥)", target,
                                 resultWithText("今日は晴れです。")};
        const std::string text = entry.toJSON();
        const auto json = nlohmann::ordered_json::parse(text);
        std::vector<std::string> keys;
        for (const auto& item : json.items()) keys.push_back(item.key());
        const std::vector<std::string> expected =
            target ? std::vector<std::string>{"id", "createdAt", "sourceName", "targetAppName", "result"}
                   : std::vector<std::string>{"id", "createdAt", "sourceName", "result"};
        EXPECT_EQ(keys, expected);
        // Seconds since 2001-01-01T00:00:00Z.
        EXPECT_DOUBLE_EQ(json["createdAt"].get<double>(), 1'765'400'000.25 - 978'307'200);
        EXPECT_EQ(json["result"]["text"], "今日は晴れです。");
        const HistoryEntry back = HistoryEntry::fromJSON(text);
        EXPECT_EQ(back.id, entry.id);
        EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(back.createdAt - entry.createdAt).count(), 0);
        EXPECT_EQ(back.sourceName, entry.sourceName);
        EXPECT_EQ(back.targetAppName, entry.targetAppName);
        EXPECT_EQ(back.result, entry.result);
    }
}

TEST(HistoryEntryJSONTest, ReadingRequiresEveryKeyButTheTarget) {
    const HistoryEntry entry{"3F2504E0-4F89-41D3-9A0C-0305E82C3301", std::chrono::system_clock::time_point{},
                             "手動音声入力", std::string("Notes"), resultWithText("晴れ")};
    const auto good = nlohmann::ordered_json::parse(entry.toJSON());
    struct Row {
        const char* name;
        std::function<void(nlohmann::ordered_json&)> change;
        bool reads;
    };
    const Row rows[] = {
        {"as written", [](auto&) {}, true},
        {"no target", [](auto& j) { j.erase("targetAppName"); }, true},
        {"null target", [](auto& j) { j["targetAppName"] = nullptr; }, true},
        {"no id", [](auto& j) { j.erase("id"); }, false},
        {"id that is no UUID", [](auto& j) { j["id"] = "entry-1"; }, false},
        {"no createdAt", [](auto& j) { j.erase("createdAt"); }, false},
        {"createdAt as text", [](auto& j) { j["createdAt"] = "2026-12-11"; }, false},
        {"createdAt before 2001", [](auto& j) { j["createdAt"] = -86400.5; }, true},
        {"createdAt beyond what a time point holds", [](auto& j) { j["createdAt"] = 1e10; }, false},
        {"createdAt far in the past", [](auto& j) { j["createdAt"] = -1e12; }, false},
        {"no sourceName", [](auto& j) { j.erase("sourceName"); }, false},
        {"target of the wrong type", [](auto& j) { j["targetAppName"] = 3; }, false},
        {"no result", [](auto& j) { j.erase("result"); }, false},
        {"a result missing its text", [](auto& j) { j["result"].erase("text"); }, false},
        {"not an object", [](auto& j) { j = nlohmann::ordered_json::array(); }, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto json = good;
        row.change(json);
        if (row.reads) {
            EXPECT_NO_THROW(HistoryEntry::fromJSON(json.dump()));
        } else {
            EXPECT_THROW(HistoryEntry::fromJSON(json.dump()), RecordCodingError);
        }
    }
    EXPECT_EQ(HistoryEntry::fromJSON(good.dump()).targetAppName, "Notes");
}

}  // namespace
