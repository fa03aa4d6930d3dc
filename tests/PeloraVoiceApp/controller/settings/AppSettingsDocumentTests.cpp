#include "PeloraVoiceApp/controller/settings/AppSettingsDocument.h"
#include "PeloraVoiceApp/controller/settings/PersistedSettings.h"
#include "PeloraVoiceApp/controller/settings/VocabularyMerge.h"
#include "engine/japanese/JapaneseEmbeddingReranker.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "tests/support/ChildProcess.h"
#include "tests/support/RerunTest.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempDir.h"

namespace pelora {
namespace {

namespace fs = std::filesystem;
using testing::ScopedEnvironment;
using testing::TempDir;
using testing::readFile;
using testing::writeFile;

const char* const sixteenKeys[] = {
    "engineMode",          "pushToTalkEnabled",         "pushToTalkKey",
    "doubleTapToggleEnabled", "reinsertShortcutEnabled", "reinsertShortcutPreset",
    "autoPasteEnabled",    "copyToClipboardOnComplete", "soundFeedbackEnabled",
    "enableHomophoneReranking", "enableMirkContextCorrection", "allowExternalMirkTransmission",
    "sendFocusedContextToMirk", "inputOptions",          "customVocabulary",
    "vocabularySchemaVersion",
};

unsigned modeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 0777;
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

const std::chrono::system_clock::time_point someMoment =
    std::chrono::sys_days{std::chrono::year{2026} / 12 / 10} + std::chrono::hours{20} + std::chrono::minutes{5} +
    std::chrono::seconds{9};
constexpr const char* someMomentStamp = "20261210T200509Z";

CustomVocabularyEntry entry(std::string id, std::string reading, std::string surface,
                            std::vector<std::string> aliases, std::vector<std::string> hints, bool enabled = true) {
    return {std::move(id), std::move(reading), std::move(surface), std::move(aliases), std::move(hints), enabled};
}

// Every key present, each with a value other than the initial one where it can be.
PersistedSettings fullSettings() {
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
    s.inputOptions.spokenToWrittenPolish = true;
    s.inputOptions.enableHomophoneReranking = false;
    s.inputOptions.punctuationStyle = JapanesePunctuationStyle::spaceOnly;
    s.inputOptions.punctuationDensity = JapanesePunctuationDensity::dense;
    s.customVocabulary = {entry("0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9", "ぺろら", "Pelora", {"ペロラ"}, {"音声"}, false)};
    s.vocabularySchemaVersion = 2;
    return s;
}

// ---- the document's content ----

TEST(PersistedSettings, WritesCompactUTF8WithTheSixteenKeysInOrder) {
    EXPECT_EQ(fullSettings().toJSON(),
              R"({"engineMode":"apple_speech_ja","pushToTalkEnabled":false,"pushToTalkKey":"right_control",)"
              R"("doubleTapToggleEnabled":false,"reinsertShortcutEnabled":false,)"
              R"("reinsertShortcutPreset":"command_shift_u","autoPasteEnabled":false,)"
              R"("copyToClipboardOnComplete":false,"soundFeedbackEnabled":false,"enableHomophoneReranking":false,)"
              R"("enableMirkContextCorrection":false,"allowExternalMirkTransmission":true,)"
              R"("sendFocusedContextToMirk":true,"inputOptions":{"removeFillers":true,"enableVoiceCommands":true,)"
              R"("normalizeNumbers":true,"normalizeAlphanumerics":true,"autoPunctuate":true,)"
              R"("spokenToWrittenPolish":true,"enableHomophoneReranking":false,"punctuationStyle":"space_only",)"
              R"("punctuationDensity":"dense"},"customVocabulary":[{"id":"0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9",)"
              R"("reading":"ぺろら","surface":"Pelora","aliases":["ペロラ"],"contextHints":["音声"],"enabled":false}],)"
              R"("vocabularySchemaVersion":2})");
    EXPECT_EQ(PersistedSettings::fromJSON(fullSettings().toJSON()), fullSettings());
}

// A document with every required key and nothing else; `extra` goes in before the closing brace.
std::string minimalDocument() {
    return R"({"engineMode":"pure_eg2_en","pushToTalkEnabled":true,"pushToTalkKey":"fn_key",)"
           R"("autoPasteEnabled":false,"copyToClipboardOnComplete":true,"enableHomophoneReranking":true,)"
           R"("inputOptions":{},"customVocabulary":[]})";
}

std::string withKeys(const std::string& keys) {
    std::string document = minimalDocument();
    document.pop_back();
    return document + "," + keys + "}";
}

TEST(PersistedSettings, ReadsStrictlyByTheTable) {
    struct Case {
        const char* name;
        std::string json;
        bool accepted;
    };
    const std::string goodEntry =
        R"({"id":"0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9","reading":"r","surface":"s","aliases":[],"contextHints":[],"enabled":true})";
    const Case cases[] = {
        {"required keys only", minimalDocument(), true},
        {"keys in another order",
         R"({"customVocabulary":[],"inputOptions":{},"enableHomophoneReranking":true,"copyToClipboardOnComplete":true,)"
         R"("autoPasteEnabled":false,"pushToTalkKey":"fn_key","pushToTalkEnabled":true,"engineMode":"pure_eg2_en"})",
         true},
        {"unknown keys", withKeys(R"("futureSetting":{"a":[1,2]},"theme":"dark")"), true},
        {"optional keys null", withKeys(R"("doubleTapToggleEnabled":null,"vocabularySchemaVersion":null)"), true},
        {"version 3", withKeys(R"("vocabularySchemaVersion":3)"), true},
        {"entry with extra key",
         R"({"engineMode":"pure_eg2_en","pushToTalkEnabled":true,"pushToTalkKey":"fn_key","autoPasteEnabled":false,)"
         R"("copyToClipboardOnComplete":true,"enableHomophoneReranking":true,"inputOptions":{},"customVocabulary":[)" +
             goodEntry.substr(0, goodEntry.size() - 1) + R"(,"weight":3}]})",
         true},
        {"empty text", "", false},
        {"not JSON", "{\"engineMode\":", false},
        {"a JSON array", "[" + minimalDocument() + "]", false},
        {"invalid UTF-8", withKeys("\"note\":\"\xff\""), false},
        {"engineMode missing",
         R"({"pushToTalkEnabled":true,"pushToTalkKey":"fn_key","autoPasteEnabled":false,)"
         R"("copyToClipboardOnComplete":true,"enableHomophoneReranking":true,"inputOptions":{},"customVocabulary":[]})",
         false},
        {"customVocabulary missing",
         R"({"engineMode":"pure_eg2_en","pushToTalkEnabled":true,"pushToTalkKey":"fn_key","autoPasteEnabled":false,)"
         R"("copyToClipboardOnComplete":true,"enableHomophoneReranking":true,"inputOptions":{}})",
         false},
        {"required key null",
         R"({"engineMode":"pure_eg2_en","pushToTalkEnabled":null,"pushToTalkKey":"fn_key","autoPasteEnabled":false,)"
         R"("copyToClipboardOnComplete":true,"enableHomophoneReranking":true,"inputOptions":{},"customVocabulary":[]})",
         false},
        {"Boolean as a number",
         R"({"engineMode":"pure_eg2_en","pushToTalkEnabled":1,"pushToTalkKey":"fn_key","autoPasteEnabled":false,)"
         R"("copyToClipboardOnComplete":true,"enableHomophoneReranking":true,"inputOptions":{},"customVocabulary":[]})",
         false},
        {"optional Boolean as a string", withKeys(R"("soundFeedbackEnabled":"true")"), false},
        {"engineMode hybrid",
         R"({"engineMode":"hybrid","pushToTalkEnabled":true,"pushToTalkKey":"fn_key","autoPasteEnabled":false,)"
         R"("copyToClipboardOnComplete":true,"enableHomophoneReranking":true,"inputOptions":{},"customVocabulary":[]})",
         false},
        {"unknown pushToTalkKey",
         R"({"engineMode":"pure_eg2_en","pushToTalkEnabled":true,"pushToTalkKey":"caps_lock","autoPasteEnabled":false,)"
         R"("copyToClipboardOnComplete":true,"enableHomophoneReranking":true,"inputOptions":{},"customVocabulary":[]})",
         false},
        {"unknown reinsert preset", withKeys(R"("reinsertShortcutPreset":"option_shift_x")"), false},
        {"unknown punctuation style",
         R"({"engineMode":"pure_eg2_en","pushToTalkEnabled":true,"pushToTalkKey":"fn_key","autoPasteEnabled":false,)"
         R"("copyToClipboardOnComplete":true,"enableHomophoneReranking":true,"inputOptions":{"punctuationStyle":"x"},)"
         R"("customVocabulary":[]})",
         false},
        {"inputOptions an array",
         R"({"engineMode":"pure_eg2_en","pushToTalkEnabled":true,"pushToTalkKey":"fn_key","autoPasteEnabled":false,)"
         R"("copyToClipboardOnComplete":true,"enableHomophoneReranking":true,"inputOptions":[],"customVocabulary":[]})",
         false},
        {"version as a string", withKeys(R"("vocabularySchemaVersion":"2")"), false},
        {"version fractional", withKeys(R"("vocabularySchemaVersion":1.5)"), false},
    };
    for (const Case& c : cases) {
        bool accepted = true;
        try {
            PersistedSettings::fromJSON(c.json);
        } catch (const SettingsDecodingError&) {
            accepted = false;
        }
        EXPECT_EQ(accepted, c.accepted) << c.name << ": " << c.json;
    }

    // Each of the six keys of a vocabulary entry is required.
    const nlohmann::ordered_json good = nlohmann::ordered_json::parse(goodEntry);
    for (const auto& item : good.items()) {
        nlohmann::ordered_json lacking = good;
        lacking.erase(item.key());
        nlohmann::ordered_json document = nlohmann::ordered_json::parse(minimalDocument());
        document["customVocabulary"].push_back(good);
        document["customVocabulary"].push_back(lacking);
        EXPECT_THROW(PersistedSettings::fromJSON(document.dump()), SettingsDecodingError) << "without " << item.key();
    }
}

TEST(PersistedSettings, AbsentOptionalKeysReadAsNoValueAndNestedDefaultsApply) {
    const PersistedSettings s = PersistedSettings::fromJSON(
        R"({"engineMode":"hybrid_ja_en","pushToTalkEnabled":false,"pushToTalkKey":"left_option",)"
        R"("autoPasteEnabled":true,"copyToClipboardOnComplete":false,"enableHomophoneReranking":false,)"
        R"("inputOptions":{"removeFillers":false},"customVocabulary":[{"id":"0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9",)"
        R"("reading":"","surface":"x","aliases":["a"],"contextHints":[],"enabled":false}]})");
    EXPECT_EQ(s.engineMode, EngineMode::hybridJaEn);
    EXPECT_FALSE(s.pushToTalkEnabled);
    EXPECT_EQ(s.pushToTalkKey, PTTShortcutKey::leftOption);
    EXPECT_EQ(s.doubleTapToggleEnabled, std::nullopt);
    EXPECT_EQ(s.reinsertShortcutEnabled, std::nullopt);
    EXPECT_EQ(s.reinsertShortcutPreset, std::nullopt);
    EXPECT_EQ(s.soundFeedbackEnabled, std::nullopt);
    EXPECT_EQ(s.enableMirkContextCorrection, std::nullopt);
    EXPECT_EQ(s.allowExternalMirkTransmission, std::nullopt);
    EXPECT_EQ(s.sendFocusedContextToMirk, std::nullopt);
    EXPECT_EQ(s.vocabularySchemaVersion, std::nullopt);
    JapaneseInputOptions expected;
    expected.removeFillers = false;
    EXPECT_EQ(s.inputOptions, expected) << "absent option keys take their defaults";
    ASSERT_EQ(s.customVocabulary.size(), 1u);
    EXPECT_EQ(s.customVocabulary[0].id, "0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9");
    EXPECT_FALSE(s.customVocabulary[0].enabled);
}

// ---- the vocabulary merge of older documents ----

TEST(VocabularyMerge, GivesMatchingEntriesTheMissingAliasesAndAppendsTheRestInBuiltInOrder) {
    const auto& builtIn = JapaneseEmbeddingReranker::defaultVocabulary();
    ASSERT_EQ(builtIn[1].surface, "Core ML");
    ASSERT_EQ(builtIn[4].surface, "PeloraVoice2");
    ASSERT_EQ(builtIn[4].aliases[0], builtIn[4].aliases[1]) << "the built-in list repeats this alias";

    struct Case {
        const char* name;
        std::vector<CustomVocabularyEntry> stored;
        // Expected result: the stored entries as they end up, then the built-ins appended (by index).
        std::vector<CustomVocabularyEntry> mergedStored;
        std::vector<std::size_t> appended;
    };
    const std::string userID = "11111111-2222-4333-8444-555555555555";
    const std::string otherID = "AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE";
    const auto user = entry(userID, "こあ", "core ml", {"コアML", "mine"}, {"推論", "自分"}, false);
    const auto userMerged = entry(userID, "こあ", "core ml", {"コアML", "mine", "コアエムエル", "CoreML"},
                                  {"推論", "自分", "モデル", "Apple", "Neural"}, false);
    const auto pelora = entry(otherID, "ぺ", "PELORAVOICE2", {}, {});
    const auto peloraMerged = entry(otherID, "ぺ", "PELORAVOICE2", {"ペロラボイス2", "PeloraVoice 2"},
                                    {"アプリ", "音声入力", "ツール"});
    const auto unrelated = entry(otherID, "べつ", "別の語", {"ベツ"}, {});
    std::vector<std::size_t> allButCoreML = {0, 2, 3, 4, 5, 6, 7, 8, 9};
    std::vector<std::size_t> allButPelora2 = {0, 1, 2, 3, 5, 6, 7, 8, 9};
    std::vector<std::size_t> all = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};

    const Case cases[] = {
        {"empty stored list", {}, {}, all},
        {"user entry with a built-in surface in other letter case", {user}, {userMerged}, allButCoreML},
        {"a repeated built-in alias is added once", {pelora}, {peloraMerged}, allButPelora2},
        {"unrelated entries stay first", {unrelated, user}, {unrelated, userMerged}, allButCoreML},
    };
    for (const Case& c : cases) {
        const auto merged = mergeBuiltInVocabulary(c.stored, builtIn);
        std::vector<CustomVocabularyEntry> expected = c.mergedStored;
        for (std::size_t index : c.appended) expected.push_back(builtIn[index]);
        ASSERT_EQ(merged.size(), expected.size()) << c.name;
        for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(merged[i], expected[i]) << c.name << " #" << i;
    }

    // A built-in entry also matches one appended before it in the same merge.
    std::vector<CustomVocabularyEntry> twice = {entry(otherID, "a", "A", {"x"}, {}), entry(userID, "b", "a", {"y", "x"}, {"h"})};
    const auto merged = mergeBuiltInVocabulary({}, twice);
    ASSERT_EQ(merged.size(), 1u);
    EXPECT_EQ(merged[0].aliases, (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(merged[0].contextHints, (std::vector<std::string>{"h"}));
}

TEST(VocabularyMerge, ComparesSurfacesByUnicodeCaseFolding) {
    // Full folding: "STRASSE" and "Straße" are one word; so are the composed and decomposed é.
    const std::vector<CustomVocabularyEntry> builtIn = {
        entry("00000000-0000-4000-8000-000000000001", "", "Straße", {"a"}, {}),
        entry("00000000-0000-4000-8000-000000000002", "", "Caf\u00e9", {"b"}, {}),
        entry("00000000-0000-4000-8000-000000000003", "", "ΣΟΦΙΑ", {"c"}, {}),
    };
    const std::vector<CustomVocabularyEntry> stored = {
        entry("00000000-0000-4000-8000-00000000000A", "", "STRASSE", {}, {}),
        entry("00000000-0000-4000-8000-00000000000B", "", "CAFE\u0301", {}, {}),
        entry("00000000-0000-4000-8000-00000000000C", "", "σοφια", {}, {}),
    };
    const auto merged = mergeBuiltInVocabulary(stored, builtIn);
    ASSERT_EQ(merged.size(), 3u);
    EXPECT_EQ(merged[0].aliases, std::vector<std::string>{"a"});
    EXPECT_EQ(merged[1].aliases, std::vector<std::string>{"b"});
    EXPECT_EQ(merged[2].aliases, std::vector<std::string>{"c"});
}

// ---- the file ----

TEST(AppSettingsDocument, LivesUnderTheUserConfigFolder) {
    TempDir home;
    ScopedEnvironment homeVariable("HOME", home.path().string());
    struct Case {
        std::optional<std::string> xdgConfigHome;
        fs::path folder;
    };
    const Case cases[] = {
        {home.path().string() + "/xdg", home / "xdg"},
        {std::nullopt, home / ".config"},
        {"", home / ".config"},
        {"relative/config", home / ".config"},
    };
    for (const Case& c : cases) {
        ScopedEnvironment xdg("XDG_CONFIG_HOME", c.xdgConfigHome);
        EXPECT_EQ(AppSettingsDocument::defaultLocation(), c.folder / "PeloraVoice2/PeloraVoice2.Settings.v2.json")
            << c.xdgConfigHome.value_or("(unset)");
    }
}

TEST(AppSettingsDocument, SavesPrivatelyAndReadsBack) {
    TempDir home;
    const fs::path folder = home / "config/PeloraVoice2";
    AppSettingsDocument document(folder / "PeloraVoice2.Settings.v2.json");
    EXPECT_EQ(document.load(someMoment), std::nullopt) << "no document yet";
    EXPECT_FALSE(fs::exists(folder)) << "reading creates nothing";

    ASSERT_TRUE(document.save(fullSettings()));
    EXPECT_EQ(modeOf(home / "config"), 0700u);
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(document.file()), 0600u);
    EXPECT_EQ(readFile(document.file()), fullSettings().toJSON());
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"PeloraVoice2.Settings.v2.json"}) << "no temporary file is left";
    EXPECT_EQ(AppSettingsDocument(document.file()).load(someMoment), fullSettings());

    // An existing folder keeps its mode.
    fs::permissions(folder, fs::perms(0750));
    ASSERT_TRUE(document.save(PersistedSettings{}));
    EXPECT_EQ(modeOf(folder), 0750u);
    EXPECT_EQ(AppSettingsDocument(document.file()).load(someMoment), PersistedSettings{});
}

TEST(AppSettingsDocument, MovesAnUndecodableDocumentAsideBeforeAnythingReplacesIt) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty file", ""},
        {"not JSON", "{\"engineMode\":\"hybrid_ja_en\",\"pushTo"},
        {"a JSON array", "[]"},
        {"a newer version's value", R"({"engineMode":"cloud_ja"})"},
    };
    for (const Case& c : cases) {
        TempDir home;
        const fs::path file = home / "PeloraVoice2/PeloraVoice2.Settings.v2.json";
        writeFile(file, c.bytes);
        AppSettingsDocument document(file);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(document.load(someMoment), std::nullopt) << c.name;
        const std::string said = ::testing::internal::GetCapturedStderr();
        const fs::path aside = file.string() + ".unreadable-" + someMomentStamp;
        EXPECT_EQ(document.asideLocation(someMoment), aside);
        EXPECT_FALSE(fs::exists(file)) << c.name;
        ASSERT_TRUE(fs::exists(aside)) << c.name;
        EXPECT_EQ(readFile(aside), c.bytes) << c.name;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_NE(said.find(aside.string()), std::string::npos) << said;

        EXPECT_TRUE(document.save(fullSettings())) << c.name;
        EXPECT_EQ(readFile(aside), c.bytes) << "the moved copy stays: " << c.name;
    }
}

TEST(AppSettingsDocument, NeverMovesOverAnEarlierCopy) {
    TempDir home;
    const fs::path file = home / "PeloraVoice2.Settings.v2.json";
    const fs::path first = file.string() + ".unreadable-" + someMomentStamp;
    writeFile(first, "earlier copy");
    writeFile(file, "second damaged document");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(AppSettingsDocument(file).load(someMoment), std::nullopt);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(readFile(first), "earlier copy");
    EXPECT_EQ(readFile(first.string() + "-2"), "second damaged document");
}

TEST(AppSettingsDocument, RemovesTemporaryFilesThatACrashLeftBehind) {
    TempDir home;
    const fs::path file = home / "PeloraVoice2.Settings.v2.json";
    writeFile(file, fullSettings().toJSON());
    writeFile(home / "PeloraVoice2.Settings.v2.json.tmp-a1B2c3", "{\"engi");
    writeFile(home / "notes.txt", "mine");
    EXPECT_EQ(AppSettingsDocument(file).load(someMoment), fullSettings());
    EXPECT_EQ(namesIn(home.path()), (std::vector<std::string>{"PeloraVoice2.Settings.v2.json", "notes.txt"}));
}

// Writes bigger than `bytes` fail (EFBIG) while the object lives; works for root too.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        ::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_{};
    sighandler_t oldHandler_;
};

TEST(AppSettingsDocument, AFullDiskKeepsThePreviousDocument) {
    TempDir home;
    AppSettingsDocument document(home / "PeloraVoice2/PeloraVoice2.Settings.v2.json");
    ASSERT_TRUE(document.save(PersistedSettings{}));
    PersistedSettings big = fullSettings();
    big.customVocabulary.assign(200, big.customVocabulary.front());
    {
        FileSizeLimit limit(4096);
        EXPECT_FALSE(document.save(big));
    }
    EXPECT_EQ(readFile(document.file()), PersistedSettings{}.toJSON());
    EXPECT_EQ(namesIn(document.file().parent_path()), std::vector<std::string>{"PeloraVoice2.Settings.v2.json"});
}

// Folders made read-only for a test: by their mode for a user, by a read-only bind mount of
// the folder above them in a private mount namespace for root (whom modes do not stop).
constexpr const char* readOnlyFolderVariable = "PELORA_TEST_READ_ONLY_FOLDER";

TEST(AppSettingsDocument, AReadOnlyFolderFailsQuietlyAndKeepsTheDocument) {
    std::optional<TempDir> home;
    fs::path top;
    if (const char* given = testing::isRerunOfCurrentTest() ? std::getenv(readOnlyFolderVariable) : nullptr) {
        top = given;
    } else {
        home.emplace();
        top = home->path();
        ASSERT_TRUE(AppSettingsDocument(top / "good/PeloraVoice2.Settings.v2.json").save(fullSettings()));
        writeFile(top / "damaged/PeloraVoice2.Settings.v2.json", "damaged");
        if (::geteuid() == 0) {
            if (testing::rerunCurrentTestIn(
                    {"unshare", "-m", "sh", "-c", "mount -o bind,ro \"$0\" \"$0\" && exec \"$@\"", top.string()},
                    {{readOnlyFolderVariable, top.string()}}))
                return;
        } else {
            fs::permissions(top / "good", fs::perms(0500));
            fs::permissions(top / "damaged", fs::perms(0500));
        }
    }

    AppSettingsDocument document(top / "good/PeloraVoice2.Settings.v2.json");
    EXPECT_EQ(document.load(someMoment), fullSettings());
    bool saved = true;
    EXPECT_NO_THROW(saved = document.save(PersistedSettings{}));
    EXPECT_FALSE(saved);
    EXPECT_EQ(readFile(document.file()), fullSettings().toJSON());
    EXPECT_EQ(namesIn(top / "good"), std::vector<std::string>{"PeloraVoice2.Settings.v2.json"});

    // A damaged document there can be neither decoded nor moved aside: it stays, and this
    // run never replaces it, even once the folder can be written again.
    AppSettingsDocument damaged(top / "damaged/PeloraVoice2.Settings.v2.json");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(damaged.load(someMoment), std::nullopt);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_TRUE(damaged.isKeepingUnreadableDocument());
    EXPECT_EQ(readFile(damaged.file()), "damaged");
    if (::geteuid() != 0) {
        fs::permissions(top / "good", fs::perms(0700));
        fs::permissions(top / "damaged", fs::perms(0700));
        EXPECT_FALSE(damaged.save(fullSettings()));
        EXPECT_EQ(readFile(damaged.file()), "damaged");
    }
}

// ---- crash safety ----

TEST(AppSettingsDocument, AProcessKilledWhileSavingLeavesAWholeDocument) {
    TempDir home;
    const fs::path file = home / "PeloraVoice2/PeloraVoice2.Settings.v2.json";
    const std::string initial = PersistedSettings{}.toJSON();
    ASSERT_TRUE(AppSettingsDocument(file).saveBytes(initial));

    std::mt19937 random(20261210);
    std::uniform_int_distribution<int> delayMicroseconds(0, 25000);
    for (int kill = 0; kill < 200; ++kill) {
        testing::ChildProcess saver({{PELORA_SETTINGS_SAVE_LOOP, file.string()}});
        // Kill it only once it is saving: its first save replaces the initial document.
        ASSERT_TRUE(testing::waitUntil(std::chrono::seconds(60), [&] { return readFile(file) != initial; }))
            << "the saver never saved";
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicroseconds(random)));
        saver.signal(SIGKILL);
        saver.stop();

        const std::string bytes = readFile(file);
        nlohmann::ordered_json json;
        ASSERT_NO_THROW(json = nlohmann::ordered_json::parse(bytes)) << "kill " << kill << ": " << bytes.size();
        ASSERT_EQ(json.size(), std::size(sixteenKeys)) << "kill " << kill;
        std::size_t index = 0;
        for (const auto& item : json.items()) EXPECT_EQ(item.key(), sixteenKeys[index++]) << "kill " << kill;
        ASSERT_NO_THROW(PersistedSettings::fromJSON(bytes)) << "kill " << kill;
        ASSERT_TRUE(AppSettingsDocument(file).saveBytes(initial));
    }
}

}  // namespace
}  // namespace pelora
