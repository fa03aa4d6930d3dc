#include "ControllerFakes.h"
#include "KeyBackendProcess.h"

#include "PeloraVoiceApp/controller/MirkAPIKeyStore.h"
#include "PeloraVoiceApp/controller/settings/AppSettingsDocument.h"
#include "engine/japanese/MirkInputSecretStore.h"
#include "engine/recognition/JapaneseTimelineSegmenter.h"
#include "platform/secrets/SecretStore.h"
#include "tests/support/KeyringSession.h"
#include "tests/support/RerunTest.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/ScriptedDecisionService.h"
#include "tests/support/TempDir.h"

#include <nlohmann/json.hpp>

#include <sys/inotify.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>

using namespace pelora;
using namespace pelora::controller_testing;

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

std::string readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeBytes(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

// The settings as the controller holds them, in the document's terms.
PersistedSettings stateOf(const AppViewModel& vm) {
    PersistedSettings s;
    s.engineMode = vm.engineMode();
    s.pushToTalkEnabled = vm.pushToTalkEnabled();
    s.pushToTalkKey = vm.pushToTalkKey();
    s.doubleTapToggleEnabled = vm.doubleTapToggleEnabled();
    s.reinsertShortcutEnabled = vm.reinsertShortcutEnabled();
    s.reinsertShortcutPreset = vm.reinsertShortcutPreset();
    s.autoPasteEnabled = vm.autoPasteEnabled();
    s.copyToClipboardOnComplete = vm.copyToClipboardOnComplete();
    s.soundFeedbackEnabled = vm.soundFeedbackEnabled();
    s.enableHomophoneReranking = vm.enableHomophoneReranking();
    s.enableMirkContextCorrection = vm.enableMirkContextCorrection();
    s.allowExternalMirkTransmission = vm.allowExternalMirkTransmission();
    s.sendFocusedContextToMirk = vm.sendFocusedContextToMirk();
    s.inputOptions = vm.inputOptions();
    s.customVocabulary = vm.customVocabulary();
    s.vocabularySchemaVersion = 2;
    return s;
}

// What a fresh controller holds.
PersistedSettings initialState() {
    PersistedSettings s;
    s.doubleTapToggleEnabled = true;
    s.reinsertShortcutEnabled = true;
    s.reinsertShortcutPreset = ReinsertShortcutPreset::optionShiftV;
    s.soundFeedbackEnabled = true;
    s.enableMirkContextCorrection = true;
    s.allowExternalMirkTransmission = false;
    s.sendFocusedContextToMirk = false;
    s.customVocabulary = JapaneseEmbeddingReranker::defaultVocabulary();
    s.vocabularySchemaVersion = 2;
    return s;
}

const CustomVocabularyEntry userEntry{"0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9", "ぺろら", "Pelora", {"ペロラ"}, {"音声"},
                                      false};

// A stored document with every key, each holding something other than its initial value.
PersistedSettings storedState() {
    PersistedSettings s;
    s.engineMode = EngineMode::appleSpeechJa;
    s.pushToTalkEnabled = false;
    s.pushToTalkKey = PTTShortcutKey::rightControl;
    s.doubleTapToggleEnabled = false;
    s.reinsertShortcutEnabled = false;
    s.reinsertShortcutPreset = ReinsertShortcutPreset::commandShiftU;
    s.autoPasteEnabled = false;
    s.copyToClipboardOnComplete = false;
    s.soundFeedbackEnabled = false;
    s.enableHomophoneReranking = false;
    s.enableMirkContextCorrection = false;
    s.allowExternalMirkTransmission = true;
    s.sendFocusedContextToMirk = true;
    s.inputOptions.enableHomophoneReranking = false;
    s.inputOptions.punctuationStyle = JapanesePunctuationStyle::academic;
    s.customVocabulary = {userEntry};
    s.vocabularySchemaVersion = 2;
    return s;
}

std::vector<CustomVocabularyEntry> withDefaults(std::vector<CustomVocabularyEntry> list) {
    const auto& defaults = JapaneseEmbeddingReranker::defaultVocabulary();
    list.insert(list.end(), defaults.begin(), defaults.end());
    return list;
}

class SettingsFixture : public ControllerFixture {
protected:
    fs::path documentFile() const { return configHome.path() / "PeloraVoice2/PeloraVoice2.Settings.v2.json"; }
    void store(const std::string& bytes) { writeBytes(documentFile(), bytes); }
    bool movedAsideExists() const {
        for (const auto& entry : fs::directory_iterator(documentFile().parent_path()))
            if (entry.path().filename().string().starts_with("PeloraVoice2.Settings.v2.json.unreadable-")) return true;
        return false;
    }

    // The effects of settings changes in order, with "invalidateTranscriptionSession" where
    // the session identifier changed before an effect.
    std::vector<std::string> effects;
    std::string lastSession;
    void followEffects(AppViewModel& vm) {
        effects.clear();
        lastSession = vm.activeTranscriptionSessionID();
        vm.setSettingsEffectObserverForTesting([this, &vm](std::string_view effect) {
            if (vm.activeTranscriptionSessionID() != lastSession) {
                effects.emplace_back("invalidateTranscriptionSession");
                lastSession = vm.activeTranscriptionSessionID();
            }
            effects.emplace_back(effect);
        });
    }
};

// ---- loading ----

TEST_F(SettingsFixture, LoadsEachKindOfDocumentByTheTable) {
    const Json stored = Json::parse(storedState().toJSON());
    auto without = [&](std::initializer_list<const char*> keys) {
        Json json = stored;
        for (const char* key : keys) json.erase(key);
        return json.dump();
    };
    auto with = [&](const char* key, Json value) {
        Json json = stored;
        json[key] = std::move(value);
        return json.dump();
    };
    Json lackingEntry = stored;
    lackingEntry["customVocabulary"][0].erase("contextHints");

    PersistedSettings optionalAbsent = storedState();
    optionalAbsent.doubleTapToggleEnabled = true;
    optionalAbsent.reinsertShortcutEnabled = true;
    optionalAbsent.reinsertShortcutPreset = ReinsertShortcutPreset::optionShiftV;
    optionalAbsent.soundFeedbackEnabled = true;
    optionalAbsent.enableMirkContextCorrection = true;
    optionalAbsent.allowExternalMirkTransmission = false;
    optionalAbsent.sendFocusedContextToMirk = false;
    optionalAbsent.customVocabulary = withDefaults({userEntry});
    PersistedSettings merged = storedState();
    merged.customVocabulary = withDefaults({userEntry});
    PersistedSettings emptyVocabulary = storedState();
    emptyVocabulary.customVocabulary.clear();
    PersistedSettings rerankingOn = storedState();
    rerankingOn.enableHomophoneReranking = true;
    rerankingOn.inputOptions.enableHomophoneReranking = true;

    struct Case {
        const char* name;
        std::optional<std::string> bytes;  // none: no document
        std::optional<PersistedSettings> loaded;  // none: the initial values
        bool movedAside;
    };
    const Case cases[] = {
        {"no document", std::nullopt, std::nullopt, false},
        {"empty file", "", std::nullopt, true},
        {"not JSON", "{\"engineMode\":\"apple", std::nullopt, true},
        {"a JSON array", "[" + stored.dump() + "]", std::nullopt, true},
        {"a required key missing", without({"autoPasteEnabled"}), std::nullopt, true},
        {"a wrong type", with("pushToTalkEnabled", "false"), std::nullopt, true},
        {"engineMode hybrid", with("engineMode", "hybrid"), std::nullopt, true},
        {"an unknown pushToTalkKey", with("pushToTalkKey", "caps_lock"), std::nullopt, true},
        {"an entry lacking a key", lackingEntry.dump(), std::nullopt, true},
        {"optional keys absent",
         without({"doubleTapToggleEnabled", "reinsertShortcutEnabled", "reinsertShortcutPreset", "soundFeedbackEnabled",
                  "enableMirkContextCorrection", "allowExternalMirkTransmission", "sendFocusedContextToMirk",
                  "vocabularySchemaVersion"}),
         optionalAbsent, false},
        {"version absent", without({"vocabularySchemaVersion"}), merged, false},
        {"version 1", with("vocabularySchemaVersion", 1), merged, false},
        {"version 2", stored.dump(), storedState(), false},
        {"version 3", with("vocabularySchemaVersion", 3), storedState(), false},
        {"version 2 with an empty vocabulary", with("customVocabulary", Json::array()), emptyVocabulary, false},
        {"options disagree with the top-level switch",
         [&] {
             Json json = stored;
             json["enableHomophoneReranking"] = true;
             return json.dump();
         }(),
         rerankingOn, false},
        {"unknown keys", with("futureSetting", Json{{"nested", {1, 2}}}), storedState(), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(documentFile().parent_path());
        if (c.bytes) store(*c.bytes);
        ::testing::internal::CaptureStderr();
        AppViewModel& vm = make();
        const std::string said = ::testing::internal::GetCapturedStderr();

        EXPECT_EQ(stateOf(vm), c.loaded.value_or(initialState()));
        if (c.loaded) {
            EXPECT_EQ(readBytes(documentFile()), c.loaded->toJSON()) << "the loaded state, written once";
        } else {
            EXPECT_FALSE(fs::exists(documentFile())) << "nothing is written for an absent or unreadable document";
        }
        if (c.bytes && !c.loaded) {
            ASSERT_TRUE(movedAsideExists());
            EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        } else {
            EXPECT_FALSE(fs::exists(documentFile().parent_path()) && movedAsideExists());
            EXPECT_EQ(said, "");
        }
        model.reset();
    }
}

TEST_F(SettingsFixture, LoadingMergesTheBuiltInVocabularyIntoAnOlderDocument) {
    const auto& defaults = JapaneseEmbeddingReranker::defaultVocabulary();
    ASSERT_EQ(defaults[1].surface, "Core ML");
    PersistedSettings old = storedState();
    old.vocabularySchemaVersion.reset();
    CustomVocabularyEntry mine{"11111111-2222-4333-8444-555555555555", "こあ", "CORE ml", {"CoreML", "マイ"},
                               {"モデル", "自分"}, true};
    old.customVocabulary = {mine};
    store(old.toJSON());

    AppViewModel& vm = make();
    std::vector<CustomVocabularyEntry> expected{mine};
    expected[0].aliases = {"CoreML", "マイ", "コアエムエル", "コアML"};
    expected[0].contextHints = {"モデル", "自分", "推論", "Apple", "Neural"};
    for (std::size_t i = 0; i < defaults.size(); ++i)
        if (i != 1) expected.push_back(defaults[i]);
    EXPECT_EQ(vm.customVocabulary(), expected);
    const Json written = Json::parse(readBytes(documentFile()));
    EXPECT_EQ(written["vocabularySchemaVersion"], 2);
    EXPECT_EQ(written["customVocabulary"].size(), expected.size());

    // A later start reads the upgraded document as it is.
    model.reset();
    EXPECT_EQ(make().customVocabulary(), expected);
}

// Counts the times a file of a folder was put in place by a rename (how every save ends).
class RenameWatch {
public:
    RenameWatch(const fs::path& folder, std::string name) : fd_(::inotify_init1(IN_NONBLOCK)), name_(std::move(name)) {
        fs::create_directories(folder);
        ::inotify_add_watch(fd_, folder.c_str(), IN_MOVED_TO);
    }
    ~RenameWatch() { ::close(fd_); }
    int count() {
        alignas(inotify_event) char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0) break;
            for (char* p = buffer; p < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(p);
                if (event->len > 0 && name_ == event->name) ++count_;
                p += sizeof(inotify_event) + event->len;
            }
        }
        return count_;
    }

private:
    int fd_;
    std::string name_;
    int count_ = 0;
};

TEST_F(SettingsFixture, LoadingRunsTheSettersInOrderAndWritesOnceAtTheEnd) {
    store(storedState().toJSON());
    RenameWatch writes(documentFile().parent_path(), documentFile().filename().string());
    AppViewModel& vm = make();
    EXPECT_EQ(writes.count(), 1) << "one write, after every value is assigned";
    EXPECT_EQ(readBytes(documentFile()), storedState().toJSON());
    EXPECT_EQ(stateOf(vm), storedState());

    // Each shortcut application of the load sees the settings assigned before it, in the
    // document's order; the construction applies them once more at its end.
    const auto& seen = pushToTalk.configurations;
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_FALSE(seen[0].enabled);
    EXPECT_EQ(seen[0].shortcut, PTTShortcutKey::rightOption) << "the key is assigned after the switch";
    EXPECT_EQ(seen[1].shortcut, PTTShortcutKey::rightControl);
    EXPECT_TRUE(seen[1].doubleTapToggleEnabled);
    EXPECT_FALSE(seen[2].doubleTapToggleEnabled);
    EXPECT_EQ(reinsertShortcut.preset, ReinsertShortcutPreset::commandShiftU);
    EXPECT_FALSE(reinsertShortcut.registered);

    // A document that needs no merge, and one that does: still one write each.
    model.reset();
    PersistedSettings old = storedState();
    old.vocabularySchemaVersion = 1;
    store(old.toJSON());
    writes.count();
    const int before = writes.count();
    make();
    EXPECT_EQ(writes.count() - before, 1);

    // No document: nothing is written.
    model.reset();
    fs::remove(documentFile());
    const int none = writes.count();
    make();
    EXPECT_EQ(writes.count(), none);
    EXPECT_FALSE(fs::exists(documentFile()));
}

// ---- the effects of each assignment ----

TEST_F(SettingsFixture, EachAssignmentRunsItsEffectsInOrder) {
    const std::string save = "saveSettings", apply = "applyShortcutSettings", refresh = "refreshPlaygroundPreview",
                      reprocess = "reprocessCurrentResultIfAvailable", invalidate = "invalidateTranscriptionSession";
    using Effects = std::vector<std::string>;
    struct Case {
        const char* name;
        std::function<void(AppViewModel&)> assign;
        Effects effects;
    };
    const Case cases[] = {
        {"engineMode, same value", [](AppViewModel& vm) { vm.setEngineMode(EngineMode::hybridJaEn); }, {save}},
        {"engineMode", [](AppViewModel& vm) { vm.setEngineMode(EngineMode::pureEG2English); }, {save}},
        {"pushToTalkEnabled", [](AppViewModel& vm) { vm.setPushToTalkEnabled(false); }, {apply, save}},
        {"pushToTalkKey", [](AppViewModel& vm) { vm.setPushToTalkKey(PTTShortcutKey::leftOption); }, {apply, save}},
        {"doubleTapToggleEnabled", [](AppViewModel& vm) { vm.setDoubleTapToggleEnabled(false); }, {apply, save}},
        {"doubleTapLockEnabled", [](AppViewModel& vm) { vm.setDoubleTapLockEnabled(true); }, {apply, save}},
        {"reinsertShortcutEnabled", [](AppViewModel& vm) { vm.setReinsertShortcutEnabled(false); }, {apply, save}},
        {"reinsertShortcutPreset",
         [](AppViewModel& vm) { vm.setReinsertShortcutPreset(ReinsertShortcutPreset::controlShiftP); }, {apply, save}},
        {"reinsertPreset", [](AppViewModel& vm) { vm.setReinsertPreset(ReinsertShortcutPreset::optionShiftP); },
         {apply, save}},
        {"autoPasteEnabled", [](AppViewModel& vm) { vm.setAutoPasteEnabled(false); }, {save}},
        {"copyToClipboardOnComplete", [](AppViewModel& vm) { vm.setCopyToClipboardOnComplete(false); }, {save}},
        {"restoreClipboardAfterPaste", [](AppViewModel& vm) { vm.setRestoreClipboardAfterPaste(true); }, {save}},
        {"soundFeedbackEnabled", [](AppViewModel& vm) { vm.setSoundFeedbackEnabled(false); }, {save}},
        {"enableHomophoneReranking off", [](AppViewModel& vm) { vm.setEnableHomophoneReranking(false); },
         {invalidate, save, refresh, reprocess, save, refresh, reprocess}},
        {"enableHomophoneReranking on, same value", [](AppViewModel& vm) { vm.setEnableHomophoneReranking(true); },
         {save, refresh, reprocess}},
        {"enableMirkContextCorrection on", [](AppViewModel& vm) { vm.setEnableMirkContextCorrection(true); },
         {save, refresh}},
        {"enableMirkContextCorrection off", [](AppViewModel& vm) { vm.setEnableMirkContextCorrection(false); },
         {invalidate, save, refresh}},
        {"allowExternalMirkTransmission on", [](AppViewModel& vm) { vm.setAllowExternalMirkTransmission(true); },
         {save, refresh}},
        {"allowExternalMirkTransmission off", [](AppViewModel& vm) { vm.setAllowExternalMirkTransmission(false); },
         {invalidate, save, refresh}},
        {"sendFocusedContextToMirk", [](AppViewModel& vm) { vm.setSendFocusedContextToMirk(true); }, {save}},
        {"one field of inputOptions",
         [](AppViewModel& vm) {
             JapaneseInputOptions options = vm.inputOptions();
             options.removeFillers = false;
             vm.setInputOptions(options);
         },
         {save, refresh, reprocess}},
        {"the enabled flag of one entry",
         [](AppViewModel& vm) {
             auto vocabulary = vm.customVocabulary();
             vocabulary[3].enabled = false;
             vm.setCustomVocabulary(vocabulary);
         },
         {save, refresh, reprocess}},
        {"addVocabularyEntry", [](AppViewModel& vm) { vm.addVocabularyEntry("", "語", ""); },
         {save, refresh, reprocess, refresh}},
        {"addVocabularyEntry with a blank written form", [](AppViewModel& vm) { vm.addVocabularyEntry("よみ", " \n", ""); },
         {}},
        {"removeVocabularyEntry of an unknown id",
         [](AppViewModel& vm) { vm.removeVocabularyEntry("00000000-0000-4000-8000-000000000000"); },
         {save, refresh, reprocess, refresh}},
        {"resetVocabularyToDefaults", [](AppViewModel& vm) { vm.resetVocabularyToDefaults(); },
         {save, refresh, reprocess, refresh}},
        {"saveMirkAPIKey", [](AppViewModel& vm) { vm.saveMirkAPIKey("key"); }, {}},
        {"a view-only property", [](AppViewModel& vm) { vm.setSelectedSection(SidebarSection::rules); }, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(documentFile().parent_path());
        AppViewModel& vm = make();
        followEffects(vm);
        c.assign(vm);
        EXPECT_EQ(effects, c.effects);
        const bool saved = std::find(c.effects.begin(), c.effects.end(), save) != c.effects.end();
        ASSERT_EQ(fs::exists(documentFile()), saved);
        if (saved) {
            EXPECT_EQ(readBytes(documentFile()), stateOf(vm).toJSON()) << "the document holds the new value";
        }
        model.reset();
    }
}

TEST_F(SettingsFixture, TheTopLevelRerankingSwitchIsCopiedIntoTheOptions) {
    AppViewModel& vm = make();
    vm.setEnableHomophoneReranking(false);
    EXPECT_FALSE(vm.inputOptions().enableHomophoneReranking);
    EXPECT_FALSE(Json::parse(readBytes(documentFile()))["inputOptions"]["enableHomophoneReranking"]);

    // The options alone do not move the switch, and the document writes the switch into both.
    JapaneseInputOptions options = vm.inputOptions();
    options.enableHomophoneReranking = true;
    vm.setInputOptions(options);
    EXPECT_FALSE(vm.enableHomophoneReranking());
    EXPECT_TRUE(vm.inputOptions().enableHomophoneReranking);
    const Json written = Json::parse(readBytes(documentFile()));
    EXPECT_FALSE(written["enableHomophoneReranking"]);
    EXPECT_FALSE(written["inputOptions"]["enableHomophoneReranking"]);
}

TEST_F(SettingsFixture, ComputedPropertiesReadAndWriteTheStoredOnes) {
    AppViewModel& vm = make();
    vm.setRestoreClipboardAfterPaste(true);
    EXPECT_FALSE(vm.copyToClipboardOnComplete());
    EXPECT_TRUE(vm.restoreClipboardAfterPaste());
    vm.setDoubleTapLockEnabled(false);
    EXPECT_FALSE(vm.doubleTapToggleEnabled());
    EXPECT_FALSE(vm.doubleTapLockEnabled());
    vm.setReinsertPreset(ReinsertShortcutPreset::commandShiftU);
    EXPECT_EQ(vm.reinsertShortcutPreset(), ReinsertShortcutPreset::commandShiftU);
    EXPECT_EQ(vm.reinsertPreset(), ReinsertShortcutPreset::commandShiftU);
    EXPECT_EQ(reinsertShortcut.preset, ReinsertShortcutPreset::commandShiftU);
}

// ---- the key watchers ----

TEST_F(SettingsFixture, ShortcutSettingsReachTheKeyWatchers) {
    AppViewModel& vm = make();
    log.clear();
    vm.setPushToTalkKey(PTTShortcutKey::rightCommand);
    EXPECT_EQ(log, (std::vector<std::string>{"pushToTalk.updateConfiguration", "reinsert.setPreset", "reinsert.start"}));
    EXPECT_EQ(pushToTalk.configurations.back().shortcut, PTTShortcutKey::rightCommand);
    EXPECT_TRUE(pushToTalk.configurations.back().enabled);

    // Another preset while the hot key is off: stored, and the hot key stays released.
    vm.setReinsertShortcutEnabled(false);
    log.clear();
    vm.setReinsertShortcutPreset(ReinsertShortcutPreset::optionShiftP);
    EXPECT_EQ(log, (std::vector<std::string>{"pushToTalk.updateConfiguration", "reinsert.setPreset", "reinsert.stop"}));
    EXPECT_EQ(reinsertShortcut.preset, ReinsertShortcutPreset::optionShiftP);
    EXPECT_FALSE(reinsertShortcut.registered);

    // An enabled hot key is taken afresh on every application.
    vm.setReinsertShortcutEnabled(true);
    const int starts = reinsertShortcut.starts;
    vm.setDoubleTapToggleEnabled(true);
    EXPECT_EQ(reinsertShortcut.starts, starts + 1);
}

TEST_F(SettingsFixture, AChangeThatDropsTheHeldKeyEndsTheRecordingAsAReleaseWould) {
    struct Case {
        const char* name;
        bool handsFree;
        std::function<void(AppViewModel&)> change;
        bool drops;
    };
    const Case cases[] = {
        {"push-to-talk off while held", false, [](AppViewModel& vm) { vm.setPushToTalkEnabled(false); }, true},
        {"another key during a hands-free recording", true,
         [](AppViewModel& vm) { vm.setPushToTalkKey(PTTShortcutKey::leftOption); }, true},
        {"only the double tap during a hands-free recording", true,
         [](AppViewModel& vm) { vm.setDoubleTapToggleEnabled(false); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppViewModel& vm = make();
        pushToTalk.press(c.handsFree);
        ASSERT_TRUE(vm.isRecording());
        ASSERT_EQ(vm.isHandsFreeLocked(), c.handsFree);
        transcription.jobs.clear();
        pushToTalk.dropOnNextConfiguration = c.drops;
        c.change(vm);
        EXPECT_EQ(vm.isRecording(), !c.drops);
        if (c.drops) {
            EXPECT_FALSE(vm.isHandsFreeLocked());
            ASSERT_EQ(transcription.jobs.size(), 1u) << "the recording is transcribed";
            EXPECT_TRUE(transcription.jobs[0].triggerAutoPaste);
        } else {
            EXPECT_TRUE(vm.isHandsFreeLocked());
            EXPECT_TRUE(transcription.jobs.empty());
        }
        model.reset();
    }
}

// ---- saving where nothing can be written ----

constexpr const char* readOnlyConfigVariable = "PELORA_TEST_READ_ONLY_CONFIG";

TEST_F(SettingsFixture, AReadOnlyConfigFolderKeepsTheDocumentAndTheNewValues) {
    if (!pelora::testing::isRerunOfCurrentTest()) {
        store(storedState().toJSON());
        if (::geteuid() == 0) {
            if (pelora::testing::rerunCurrentTestIn(
                    {"unshare", "-m", "sh", "-c", "mount -o bind,ro \"$0\" \"$0\" && exec \"$@\"",
                     documentFile().parent_path().string()},
                    {{readOnlyConfigVariable, configHome.path().string()}}))
                return;
        } else {
            fs::permissions(documentFile().parent_path(), fs::perms(0500));
        }
    } else {
        // The fixture of the fresh process made a folder of its own; use the prepared one.
        ::setenv("XDG_CONFIG_HOME", std::getenv(readOnlyConfigVariable), 1);
    }
    const fs::path file = AppSettingsDocument::defaultLocation();
    AppViewModel& vm = make();
    EXPECT_EQ(stateOf(vm), storedState());
    EXPECT_NO_THROW(vm.setEngineMode(EngineMode::hybridJaEn));
    EXPECT_NO_THROW(vm.addVocabularyEntry("", "新語", ""));
    EXPECT_EQ(vm.engineMode(), EngineMode::hybridJaEn) << "the value in memory is the one the user chose";
    EXPECT_EQ(vm.customVocabulary().front().surface, "新語");
    EXPECT_EQ(readBytes(file), storedState().toJSON()) << "the previous document is intact";
    if (::geteuid() != 0) fs::permissions(file.parent_path(), fs::perms(0700));
}

// ---- the vocabulary actions ----

TEST_F(SettingsFixture, AddingAnEntryTrimsAndSplitsItsFields) {
    struct Case {
        const char* name;
        std::string reading, surface, keywords;
        std::string expectedReading, expectedSurface;
        std::vector<std::string> hints;
    };
    const Case cases[] = {
        {"empty reading, blanks around the word", "", "  ワード \n", "", "ワード", "ワード", {}},
        {"reading and comma-separated keywords", " よみ ", "語", " 会議 , 資料,, \t ,議事録 ", "よみ", "語",
         {"会議", "資料", "議事録"}},
        {"a Japanese comma does not separate", "", "語", "会議、資料", "語", "語", {"会議、資料"}},
        {"repeated keywords stay", "", "語", "a,a", "語", "語", {"a", "a"}},
        {"blanks of every kind", "\u3000", "\u3000語\u3000", "", "語", "語", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppViewModel& vm = make();
        const auto before = vm.customVocabulary();
        vm.addVocabularyEntry(c.reading, c.surface, c.keywords);
        ASSERT_EQ(vm.customVocabulary().size(), before.size() + 1);
        const CustomVocabularyEntry& added = vm.customVocabulary().front();
        EXPECT_EQ(added.reading, c.expectedReading);
        EXPECT_EQ(added.surface, c.expectedSurface);
        EXPECT_EQ(added.aliases, std::vector<std::string>{c.expectedReading});
        EXPECT_EQ(added.contextHints, c.hints);
        EXPECT_TRUE(added.enabled);
        EXPECT_EQ(added.id.size(), 36u);
        EXPECT_TRUE(std::equal(before.begin(), before.end(), vm.customVocabulary().begin() + 1));
        model.reset();
    }
}

TEST_F(SettingsFixture, DuplicatesRemovalAndResetOfTheVocabulary) {
    AppViewModel& vm = make();
    vm.addVocabularyEntry("", "重複", "");
    const std::string first = vm.customVocabulary().front().id;
    vm.addVocabularyEntry("", "重複", "");
    ASSERT_EQ(vm.customVocabulary()[0].surface, "重複");
    ASSERT_EQ(vm.customVocabulary()[1].surface, "重複");
    EXPECT_NE(vm.customVocabulary()[0].id, first);

    vm.removeVocabularyEntry(first);
    EXPECT_EQ(vm.customVocabulary().size(), JapaneseEmbeddingReranker::defaultVocabulary().size() + 1);
    EXPECT_EQ(vm.customVocabulary()[0].surface, "重複");
    EXPECT_NE(vm.customVocabulary()[0].id, first);

    vm.resetVocabularyToDefaults();
    EXPECT_EQ(vm.customVocabulary(), JapaneseEmbeddingReranker::defaultVocabulary());
    model.reset();
    EXPECT_EQ(make().customVocabulary(), JapaneseEmbeddingReranker::defaultVocabulary())
        << "a later start loads the reset list unchanged";
}

// ---- the API key ----

TEST_F(SettingsFixture, KeyActionsOverTheStore) {
    struct Case {
        const char* name;
        std::optional<std::string> before;
        bool refuseWrites;
        std::function<bool(AppViewModel&)> action;
        bool result;
        std::optional<std::string> after;
        bool configured;
    };
    const Case cases[] = {
        {"trimmed before storing", std::nullopt, false,
         [](AppViewModel& vm) { return vm.saveMirkAPIKey("  sk-live-1 \t\n"); }, true, "sk-live-1", true},
        {"blanks only change nothing", "old", false, [](AppViewModel& vm) { return vm.saveMirkAPIKey(" \n\t "); },
         false, "old", true},
        {"a tab inside is refused", std::nullopt, false,
         [](AppViewModel& vm) { return vm.saveMirkAPIKey("sk-live\tpasted"); }, false, std::nullopt, false},
        {"a line break inside is refused", "old", false,
         [](AppViewModel& vm) { return vm.saveMirkAPIKey(" sk-live\nsk-live \n"); }, false, "old", true},
        {"a store failure reads as what is stored", "old", true,
         [](AppViewModel& vm) { return vm.saveMirkAPIKey("sk-new"); }, false, "old", true},
        {"clearing", "old", false, [](AppViewModel& vm) {
             vm.clearMirkAPIKey();
             return true;
         },
         true, std::nullopt, false},
        {"a failed clear leaves the key", "old", true, [](AppViewModel& vm) {
             vm.clearMirkAPIKey();
             return true;
         },
         true, "old", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        keyStore.key = c.before;
        keyStore.refuseWrites = c.refuseWrites;
        AppViewModel& vm = make();
        EXPECT_EQ(c.action(vm), c.result);
        EXPECT_EQ(keyStore.key, c.after);
        EXPECT_EQ(vm.isMirkAPIKeyConfigured(), c.configured);
        model.reset();
    }
}

// The same actions over the engine's key store, each backend in a fresh process of its own.
class RealKeyStoreFixture : public SettingsFixture, public ::testing::WithParamInterface<KeyBackend> {
protected:
    bool inFreshProcess() { return rerunWithKeyBackend(GetParam(), home_, " sk-from-env \n"); }
    std::unique_ptr<secrets::SecretStore> backing() const { return keyBackingStore(GetParam()); }
    pelora::testing::TempDir home_;
    MirkAPIKeyStore store_;
};

TEST_P(RealKeyStoreFixture, SavesAndClearsTheKey) {
    if (!inFreshProcess()) return;
    realKeyStore = &store_;
    const bool environment = GetParam() == KeyBackend::environment;
    AppViewModel& vm = make();
    EXPECT_EQ(vm.isMirkAPIKeyConfigured(), environment);

    EXPECT_TRUE(vm.saveMirkAPIKey("  sk-saved \n"));
    EXPECT_TRUE(vm.isMirkAPIKeyConfigured());
    const auto stored = backing()->read(MirkInputSecretStore::service, MirkInputSecretStore::account);
    EXPECT_EQ(stored.outcome, secrets::Outcome::done);
    EXPECT_EQ(stored.bytes, "sk-saved");
    EXPECT_EQ(MirkInputSecretStore::loadAPIKey(), environment ? "sk-from-env" : "sk-saved");

    EXPECT_FALSE(vm.saveMirkAPIKey("sk\tsaved"));
    EXPECT_EQ(backing()->read(MirkInputSecretStore::service, MirkInputSecretStore::account).bytes, "sk-saved");

    vm.clearMirkAPIKey();
    EXPECT_EQ(backing()->read(MirkInputSecretStore::service, MirkInputSecretStore::account).outcome,
              secrets::Outcome::notFound);
    EXPECT_EQ(vm.isMirkAPIKeyConfigured(), environment) << "the environment variable still gives a key";

    // A new controller reads the state the actions left.
    EXPECT_TRUE(vm.saveMirkAPIKey("sk-again"));
    model.reset();
    EXPECT_TRUE(make().isMirkAPIKeyConfigured());
}

INSTANTIATE_TEST_SUITE_P(Backends, RealKeyStoreFixture,
                         ::testing::Values(KeyBackend::file, KeyBackend::keyring, KeyBackend::environment),
                         [](const auto& info) {
                             switch (info.param) {
                                 case KeyBackend::file: return std::string("File");
                                 case KeyBackend::keyring: return std::string("SecretService");
                                 case KeyBackend::environment: return std::string("EnvironmentVariable");
                             }
                             return std::string();
                         });

// ---- the playground ----

bool contains(const std::string& text, std::string_view part) { return text.find(part) != std::string::npos; }
bool anyStartsWith(const std::vector<std::string>& labels, std::string_view prefix) {
    return std::any_of(labels.begin(), labels.end(), [&](const std::string& l) { return l.starts_with(prefix); });
}

TEST_F(SettingsFixture, ThePreviewRunsTheVocabularyAndTheRules) {
    AppViewModel& vm = make();
    const std::string& preview = vm.playgroundOutput();
    EXPECT_TRUE(contains(preview, "EmbeddingGemma 2")) << preview;
    EXPECT_TRUE(contains(preview, "Core ML")) << preview;
    EXPECT_FALSE(contains(preview, "エンベディングジェマ")) << preview;
    EXPECT_FALSE(contains(preview, "コアエムエル")) << preview;
    EXPECT_TRUE(contains(preview, "320ミリ秒")) << preview;
    EXPECT_FALSE(contains(preview, "えーと")) << preview;
    EXPECT_TRUE(anyStartsWith(vm.playgroundAppliedRules(), "語彙辞書補正: "));
    EXPECT_EQ(vm.playgroundAppliedRules().front().rfind("語彙辞書補正: ", 0), 0u) << "the reranker's labels come first";

    // Off: the processor alone, so no vocabulary label; the numbers are still written as digits.
    vm.setEnableHomophoneReranking(false);
    EXPECT_FALSE(anyStartsWith(vm.playgroundAppliedRules(), "語彙辞書補正: "));
    EXPECT_FALSE(contains(vm.playgroundOutput(), "EmbeddingGemma 2")) << vm.playgroundOutput();
    EXPECT_TRUE(contains(vm.playgroundOutput(), "320ミリ秒")) << vm.playgroundOutput();

    // The options reach the processor: fillers kept when the user keeps them.
    vm.setEnableHomophoneReranking(true);
    JapaneseInputOptions keep = vm.inputOptions();
    keep.removeFillers = false;
    vm.setInputOptions(keep);
    EXPECT_TRUE(contains(vm.playgroundOutput(), "えーと")) << vm.playgroundOutput();

    // A disabled vocabulary entry no longer replaces its aliases.
    auto vocabulary = vm.customVocabulary();
    for (auto& entry : vocabulary)
        if (entry.surface == "Core ML") entry.enabled = false;
    vm.setCustomVocabulary(vocabulary);
    EXPECT_FALSE(contains(vm.playgroundOutput(), "Core ML")) << vm.playgroundOutput();
}

// A settings change recomputes the shown result from its raw text with the engine's own
// reranker, processor and segmenter; the history entry it came from stays as it was.
TEST_F(SettingsFixture, ASettingsChangeReprocessesTheCurrentResult) {
    auto resultIn = [](EngineMode mode, std::string raw) {
        HistoryEntry entry;
        entry.id = "22222222-3333-4444-8555-666666666666";
        entry.sourceName = "録音";
        entry.result.rawText = raw;
        entry.result.text = "以前の結果";
        entry.result.engineMode = mode;
        TranscribedWord run;
        run.text = raw;
        run.rawText = raw;
        run.start = 0;
        run.end = 6;
        run.confidence = 0.9f;
        run.source = "JA";
        entry.result.words = {run};
        entry.result.pauseTimestamps = {2.0, 4.0};
        entry.result.telemetry.audioDurationSeconds = 6;
        entry.result.telemetry.appliedRuleAnnotations = {"⚡ MIRK自動置換: 以前 → 以後"};
        return entry;
    };
    struct Case {
        const char* name;
        EngineMode mode;
        std::string raw;
        bool reranking;
        bool reprocessed;
        const char* source;
    };
    const Case cases[] = {
        {"hybrid", EngineMode::hybridJaEn, "えーとコアエムエルで三百二十ミリ秒を実現しましたまる", true, true, "EG2+JA"},
        {"Japanese only", EngineMode::appleSpeechJa, "あのーエンベディングジェマを使いますまる", true, true, "JA-ANE"},
        {"reranking off", EngineMode::hybridJaEn, "えーとコアエムエルで動きますまる", false, true, "EG2+JA"},
        {"English only is left alone", EngineMode::pureEG2English, "えーとコアエムエルまる", true, false, ""},
        {"a result that becomes empty", EngineMode::hybridJaEn, "えーと", true, true, "EG2+JA"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppViewModel& vm = make();
        vm.setEnableHomophoneReranking(c.reranking);
        const HistoryEntry entry = resultIn(c.mode, c.raw);
        vm.selectHistoryEntry(entry);
        const TranscriptionResult before = *vm.currentResult();
        const std::string textBefore = vm.lastTranscribedText();

        JapaneseInputOptions options = vm.inputOptions();
        options.punctuationStyle = JapanesePunctuationStyle::academic;
        vm.setInputOptions(options);

        const TranscriptionResult& now = *vm.currentResult();
        if (!c.reprocessed) {
            EXPECT_EQ(now, before);
            continue;
        }
        JapaneseInputOptions effective = options;
        effective.enableHomophoneReranking = c.reranking;
        CorrectedText reranked{c.raw, {}};
        if (c.reranking) reranked = JapaneseEmbeddingReranker().rerank(c.raw, {}, vm.customVocabulary(), std::nullopt);
        const auto [final, rules] = JapaneseInputProcessor().process(reranked.first, effective, 2);
        const auto words = JapaneseTimelineSegmenter::segment(final, before.words, before.pauseTimestamps, 6, c.source);
        std::vector<std::string> labels = reranked.second;
        labels.insert(labels.end(), rules.begin(), rules.end());

        EXPECT_EQ(now.text, final);
        EXPECT_EQ(now.words, words);
        EXPECT_EQ(now.telemetry.appliedRuleAnnotations, labels) << "the earlier labels are replaced";
        EXPECT_EQ(now.telemetry.pauseSegmentCount,
                  static_cast<std::int64_t>(JapaneseTimelineSegmenter::detectPauseBoundaries(words, {2.0, 4.0}).size()));
        EXPECT_EQ(now.rawText, before.rawText);
        EXPECT_EQ(now.pauseTimestamps, before.pauseTimestamps);
        EXPECT_EQ(vm.lastTranscribedText(), final.empty() ? textBefore : final);
        // The dictionary's label only where reranking ran over one of its aliases.
        EXPECT_EQ(anyStartsWith(now.telemetry.appliedRuleAnnotations, "語彙辞書補正: "),
                  c.reranking && contains(c.raw, "コアエムエル"));
        model.reset();
    }
}

TEST_F(SettingsFixture, TheMirkRunTakesItsResultOnlyForTheTextItWasGiven) {
    AppViewModel& vm = make();
    // Without the reranker the preview keeps the wrong word for the contextual pass to fix.
    vm.setEnableHomophoneReranking(false);
    vm.setPlaygroundInput("文章の保管が変です");
    vm.runPlaygroundMirkAutoReplace();
    const std::string given = vm.playgroundOutput();
    ASSERT_TRUE(contains(given, "保管")) << given;
    EXPECT_EQ(workers.jobs.size(), 1u) << "the pass runs on a worker";
    workers.runAll();
    EXPECT_EQ(vm.playgroundOutput(), given) << "nothing changes before the main thread takes the result";
    scheduler.runPosted();
    EXPECT_TRUE(contains(vm.playgroundOutput(), "補完")) << vm.playgroundOutput();
    const std::string label = "⚡ MIRK自動置換: 保管 → 補完";
    EXPECT_EQ(std::count(vm.playgroundAppliedRules().begin(), vm.playgroundAppliedRules().end(), label), 1);
    ASSERT_TRUE(vm.lastMirkAutoReplaceSummary().has_value());
    EXPECT_TRUE(contains(*vm.lastMirkAutoReplaceSummary(), label));

    // Twice on the same text: the label is listed once.
    vm.runPlaygroundMirkAutoReplace();
    workers.runAll();
    scheduler.runPosted();
    EXPECT_EQ(std::count(vm.playgroundAppliedRules().begin(), vm.playgroundAppliedRules().end(), label), 1);

    // A run that finishes after the preview changed leaves the newer preview alone.
    vm.runPlaygroundMirkAutoReplace();
    vm.setPlaygroundInput("今日は晴れです");
    vm.refreshPlaygroundPreview();
    const std::string newer = vm.playgroundOutput();
    const auto newerRules = vm.playgroundAppliedRules();
    workers.runAll();
    scheduler.runPosted();
    EXPECT_EQ(vm.playgroundOutput(), newer);
    EXPECT_EQ(vm.playgroundAppliedRules(), newerRules);

    // A run whose controller is gone does nothing.
    vm.setPlaygroundInput("文章の保管が変です");
    vm.runPlaygroundMirkAutoReplace();
    model.reset();
    workers.runAll();
    scheduler.runPosted();

    // An empty preview starts nothing.
    AppViewModel& again = make();
    again.setPlaygroundInput("");
    again.runPlaygroundMirkAutoReplace();
    EXPECT_TRUE(workers.jobs.empty());
}

// With the decision service allowed, the focused field's text goes to it only when the user
// said so. Runs in a fresh process: the shared client reads the service's host once.
TEST_F(SettingsFixture, TheMirkRunSendsTheFocusedContextOnlyWhenAllowed) {
    if (pelora::testing::rerunCurrentTestIn({}, {})) return;
    pelora::testing::ScriptedDecisionService service;
    ::setenv("PELORAVOICE_MIRK_HOST", service.server().baseURL().c_str(), 1);
    keyStore.key = pelora::testing::ScriptedDecisionService::apiKey;
    workers.jobs.clear();
    AppViewModel& vm = make();
    ASSERT_TRUE(vm.isMirkAPIKeyConfigured());
    vm.setAllowExternalMirkTransmission(true);
    // A recording start captures the focused field's context.
    vm.toggleManualRecording();
    vm.toggleManualRecording();
    ASSERT_TRUE(vm.capturedFocusedContext().has_value());
    vm.setPlaygroundInput("えーと、文章の保管が変です。ご変換が多いです。");

    auto focusedContextSent = [&] {
        for (const auto& request : service.requests()) {
            const auto body = nlohmann::json::parse(request.body, nullptr, false);
            if (body.is_object() && body.contains("state") && body["state"].contains("focused_context")) return true;
        }
        return false;
    };
    for (bool send : {false, true}) {
        SCOPED_TRACE(send ? "sending the context" : "keeping the context");
        vm.setSendFocusedContextToMirk(send);
        const std::size_t before = service.requestCount();
        vm.runPlaygroundMirkAutoReplace();
        workers.runAll();
        scheduler.runPosted();
        EXPECT_GT(service.requestCount(), before) << "the pass asked the service";
        EXPECT_EQ(focusedContextSent(), send);
    }
}

}  // namespace
