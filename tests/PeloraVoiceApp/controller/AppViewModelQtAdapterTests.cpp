#include "tests/PeloraVoiceApp/controller/ControllerFakes.h"

#include "PeloraVoiceApp/controller/AppViewModelQtAdapter.h"

#include <QCoreApplication>
#include <QMetaProperty>
#include <QSignalSpy>

#include <map>

using namespace pelora;
using namespace pelora::controller_testing;

namespace {

const char* const publishedNames[] = {
    "selectedSection", "selectedOutputTab", "isEngineLoaded", "isLoadingEngine", "engineStatusText",
    "isTranscribing", "isRecording", "isHandsFreeLocked", "audioLevel", "recordingDuration", "errorMessage",
    "permissionHealth", "isPermissionSheetPresented", "conflictingLegacyApps", "statusNoticeMessage",
    "lastExternalApp", "capturedTargetApp", "capturedFocusedContext", "lastInjectionOutcome", "lastTranscribedText",
    "lastMirkAutoReplaceSummary", "engineMode", "pushToTalkEnabled", "pushToTalkKey", "doubleTapToggleEnabled",
    "reinsertShortcutEnabled", "reinsertShortcutPreset", "autoPasteEnabled", "copyToClipboardOnComplete",
    "soundFeedbackEnabled", "enableHomophoneReranking", "enableMirkContextCorrection",
    "allowExternalMirkTransmission", "sendFocusedContextToMirk", "isMirkAPIKeyConfigured",
    "isOnDeviceFoundationModelAvailable", "isRunningPlaygroundMirk", "inputOptions", "customVocabulary",
    "playgroundInput", "playgroundOutput", "playgroundAppliedRules", "currentResult", "currentSourceName", "history",
    "speechModelMissingMessage", "fileTranscriptionProgress",
};

class AdapterFixture : public ControllerFixture {
protected:
    static void SetUpTestSuite() {
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "adapter-tests";
            static char* argv[] = {name, nullptr};
            static QCoreApplication app(argc, argv);
        }
    }

    void SetUp() override {
        make();
        adapter = std::make_unique<AppViewModelQtAdapter>(*model);
        const QMetaObject* meta = adapter->metaObject();
        for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
            const QMetaProperty property = meta->property(i);
            spies.emplace(property.name(), std::make_unique<QSignalSpy>(adapter.get(), property.notifySignal()));
        }
    }
    void TearDown() override { adapter.reset(); }

    // How many times each change signal fired since the last call; only those that did.
    std::map<std::string, int> fired() {
        std::map<std::string, int> counts;
        for (auto& [name, spy] : spies) {
            if (spy->count()) counts[name] = static_cast<int>(spy->count());
            spy->clear();
        }
        return counts;
    }

    std::unique_ptr<AppViewModelQtAdapter> adapter;
    std::map<std::string, std::unique_ptr<QSignalSpy>> spies;
};

TEST_F(AdapterFixture, EveryPublishedValueIsAPropertyWithItsOwnSignal) {
    const QMetaObject* meta = adapter->metaObject();
    // The published values, then the derived ones (told when a source changes).
    ASSERT_EQ(meta->propertyCount() - meta->propertyOffset(), static_cast<int>(std::size(publishedNames)) + 3);
    ASSERT_EQ(static_cast<int>(std::size(publishedNames)), appViewModelPropertyCount);
    for (int i = 0; i < appViewModelPropertyCount; ++i) {
        const QMetaProperty property = meta->property(meta->propertyOffset() + i);
        EXPECT_STREQ(property.name(), publishedNames[i]);
        ASSERT_TRUE(property.hasNotifySignal()) << publishedNames[i];
        EXPECT_EQ(property.notifySignal().name().toStdString(), std::string(publishedNames[i]) + "Changed");
    }
}

TEST_F(AdapterFixture, EachChangeFiresItsSignalOnce) {
    struct Case {
        const char* name;
        std::function<void(AppViewModel&)> change;
        std::map<std::string, int> changed;
    };
    const Case cases[] = {
        {"a setting", [](AppViewModel& vm) { vm.setSoundFeedbackEnabled(false); }, {{"soundFeedbackEnabled", 1}}},
        {"the same value again", [](AppViewModel& vm) { vm.setSoundFeedbackEnabled(false); }, {}},
        {"the page", [](AppViewModel& vm) { vm.setSelectedSection(SidebarSection::rules); }, {{"selectedSection", 1}}},
        {"a recording start",
         [](AppViewModel& vm) { vm.toggleManualRecording(); },
         {{"capturedTargetApp", 1},
          {"lastTargetAppName", 1},
          {"capturedFocusedContext", 1},
          {"isRecording", 1},
          {"currentSourceName", 1}}},
        {"a recording stop",
         [](AppViewModel& vm) { vm.toggleManualRecording(); },
         {{"isRecording", 1}, {"isTranscribing", 1}}},
    };
    fired();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.change(*model);
        EXPECT_EQ(fired(), c.changed);
    }
    // A boot: its flags and every status line, each once.
    engine->modelsPresent = false;
    engine->downloadLines = {"m1"};
    model->bootEngine();
    workers.runAll();
    scheduler.runPosted();
    EXPECT_EQ(fired(), (std::map<std::string, int>{
                           {"isLoadingEngine", 2}, {"engineStatusText", 3}, {"isEngineLoaded", 1}}));  // starting, m1, ready
    EXPECT_EQ(adapter->engineStatusText(), QString::fromUtf8("準備完了"));
}

TEST_F(AdapterFixture, WritesRunTheSetters) {
    EXPECT_TRUE(adapter->setProperty("engineMode", QStringLiteral("pure_eg2_en")));
    EXPECT_EQ(model->engineMode(), EngineMode::pureEG2English);
    EXPECT_EQ(adapter->property("engineMode").toString(), QStringLiteral("pure_eg2_en"));
    adapter->setProperty("engineMode", QStringLiteral("klingon"));  // no such mode: unchanged
    EXPECT_EQ(model->engineMode(), EngineMode::pureEG2English);

    adapter->setProperty("selectedOutputTab", QString::fromUtf8("SRT字幕"));
    EXPECT_EQ(model->selectedOutputTab(), OutputTab::srt);
    adapter->setProperty("pushToTalkKey", QStringLiteral("right_control"));
    EXPECT_EQ(model->pushToTalkKey(), PTTShortcutKey::rightControl);
    adapter->setProperty("reinsertShortcutPreset", QStringLiteral("command_shift_u"));
    adapter->setProperty("autoPasteEnabled", false);
    EXPECT_FALSE(model->autoPasteEnabled());
    adapter->setProperty("playgroundInput", QString::fromUtf8("えーと、テスト"));
    EXPECT_EQ(model->playgroundInput(), "えーと、テスト");

    JapaneseInputOptions options;
    options.removeFillers = false;
    options.punctuationStyle = JapanesePunctuationStyle::academic;
    adapter->setProperty("inputOptions", QVariant::fromValue(options));
    EXPECT_EQ(model->inputOptions(), options);
    EXPECT_EQ(adapter->property("inputOptions").value<JapaneseInputOptions>(), options);
    adapter->setProperty("customVocabulary", QVariant::fromValue(std::vector<CustomVocabularyEntry>{}));
    EXPECT_TRUE(model->customVocabulary().empty());

    // Published only: not writable.
    EXPECT_FALSE(adapter->setProperty("isRecording", true));
    EXPECT_FALSE(model->isRecording());
    const auto changes = fired();
    EXPECT_EQ(changes.count("engineMode"), 1u);
    EXPECT_EQ(changes.count("reinsertShortcutPreset"), 1u);
    EXPECT_EQ(changes.count("customVocabulary"), 1u);
}

TEST_F(AdapterFixture, ValuesReadAsQtTypes) {
    EXPECT_EQ(adapter->property("selectedSection").toString(), QStringLiteral("studio"));
    EXPECT_EQ(adapter->property("selectedOutputTab").toString(), QString::fromUtf8("テキスト"));
    EXPECT_EQ(adapter->property("currentSourceName").toString(), QString::fromUtf8("未選択"));
    EXPECT_FALSE(adapter->property("errorMessage").isValid()) << "no banner";
    EXPECT_FALSE(adapter->property("currentResult").isValid());
    EXPECT_TRUE(adapter->property("history").isValid()) << "a list, empty";
    recorder.startFailure = "デバイスなし";
    model->toggleManualRecording();
    EXPECT_EQ(adapter->property("errorMessage").toString(), QString::fromUtf8("マイクの開始に失敗しました: デバイスなし"));
    EXPECT_EQ(adapter->property("permissionHealth").value<PermissionHealthStatus>(), model->permissionHealth());
}

TEST_F(AdapterFixture, BecomingActiveReadsThePermissionsAgain) {
    const int checks = permissions.checks;
    adapter->applicationStateChanged(Qt::ApplicationInactive);
    adapter->applicationStateChanged(Qt::ApplicationHidden);
    EXPECT_EQ(permissions.checks, checks);
    permissions.health.microphoneAuthorized = false;
    adapter->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_EQ(permissions.checks, checks + 1);
    EXPECT_EQ(fired(), (std::map<std::string, int>{{"permissionHealth", 1}}));
}

TEST_F(AdapterFixture, SlotsRunTheOperations) {
    QMetaObject::invokeMethod(adapter.get(), "toggleManualRecording");
    EXPECT_TRUE(model->isRecording());
    QMetaObject::invokeMethod(adapter.get(), "stopRecordingAndTranscribe", Q_ARG(bool, true));
    EXPECT_FALSE(model->isRecording());
    ASSERT_EQ(transcription.jobs.size(), 1u);
    EXPECT_TRUE(transcription.jobs[0].triggerAutoPaste);
    QMetaObject::invokeMethod(adapter.get(), "bootEngine");
    EXPECT_TRUE(model->isLoadingEngine());
}

}  // namespace
