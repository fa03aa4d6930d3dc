#include "platform/speech/SpeechAssetStore.h"

#include <atomic>
#include <cstring>
#include <chrono>
#include <future>
#include <latch>
#include <stdexcept>

#include <gtest/gtest.h>

#include "tests/support/TempDir.h"
#include "tests/support/TinyWhisperModel.h"

namespace pelora::speech {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::writeFile;

// A sound model file (the tiny generated one), made once.
const std::string& modelBytes() {
    static const std::string bytes = [] {
        TempDir dir;
        testing::writeTinyWhisperModel(dir / "model.bin");
        return testing::readFile(dir / "model.bin");
    }();
    return bytes;
}

// The first bytes of every ggml model file, then nothing a model needs.
std::string magicAlone() { return "lmgg" + std::string(2048, '\0'); }

std::string manifestListing(const std::string& path, std::int64_t size) {
    return R"({"total_bytes":)" + std::to_string(size) + R"(,"version":1,"files":[{"sha256":"","url":")" + path +
           R"(","size":)" + std::to_string(size) + R"(,"path":")" + path + R"("}]})";
}

TEST(SpeechAssetStore, InstalledModelIsASoundGgmlFileTheManifestAgreesWith) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;  // name in the folder, bytes
        std::optional<std::string> expected;                     // file name, or not installed
    };
    const std::string& model = modelBytes();
    const auto size = static_cast<std::int64_t>(model.size());
    std::string typeNinetyNine = model;
    const std::int32_t badType = 99;
    std::memcpy(typeNinetyNine.data() + 44, &badType, sizeof badType);  // the weight type field
    const Case cases[] = {
        {"empty folder", {}, std::nullopt},
        {"a ggml model file", {{"ggml-small.bin", model}}, "ggml-small.bin"},
        {"an error page saved under the model's name", {{"ggml-small.bin", "<html>404</html>"}}, std::nullopt},
        {"a file shorter than the magic", {{"ggml-small.bin", "lm"}}, std::nullopt},
        {"the magic number and nothing a model needs", {{"ggml-small.bin", magicAlone()}}, std::nullopt},
        {"a model with an unknown weight type", {{"ggml-small.bin", typeNinetyNine}}, std::nullopt},
        {"a model cut short", {{"ggml-small.bin", model.substr(0, model.size() - 1)}}, std::nullopt},
        {"a model without the .bin name", {{"ggml-small.bin.partial", model}}, std::nullopt},
        {"the first sound ggml file by name",
         {{"a.bin", "not a model"}, {"c.bin", model}, {"b.bin", model}, {"a2.bin", magicAlone()}}, "b.bin"},
        {"size matches the manifest",
         {{"ggml-small.bin", model}, {"manifest.json", manifestListing("ggml-small.bin", size)}}, "ggml-small.bin"},
        {"size differs from the manifest",
         {{"ggml-small.bin", model}, {"manifest.json", manifestListing("ggml-small.bin", size + 1)}}, std::nullopt},
        {"a file the manifest does not list",
         {{"mine.bin", model}, {"manifest.json", manifestListing("ggml-small.bin", size + 1)}}, "mine.bin"},
        {"an unreadable manifest lists nothing",
         {{"ggml-small.bin", model}, {"manifest.json", "{not json"}}, "ggml-small.bin"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        for (const auto& [name, bytes] : c.files) writeFile(dir / name, bytes);
        SpeechAssetStore store({dir.path(), std::nullopt, nullptr});
        const std::optional<fs::path> installed = store.installedModel();
        if (c.expected) {
            ASSERT_TRUE(installed) << c.name;
            EXPECT_EQ(installed->filename(), *c.expected) << c.name;
        } else {
            EXPECT_FALSE(installed) << c.name << ": " << installed.value_or("").string();
        }
    }
}

TEST(SpeechAssetStore, MissingFolderHoldsNoModel) {
    TempDir dir;
    SpeechAssetStore store({dir / "not-yet", std::nullopt, nullptr});
    EXPECT_FALSE(store.installedModel());
}

TEST(SpeechAssetStore, NamedModelFileStandsForTheFolder) {
    TempDir dir;
    writeFile(dir / "folder" / "ggml-small.bin", modelBytes());
    writeFile(dir / "elsewhere.gguf", modelBytes());
    writeFile(dir / "damaged.bin", magicAlone());
    SpeechAssetStore named({dir / "folder", dir / "elsewhere.gguf", nullptr});
    EXPECT_EQ(named.installedModel(), dir / "elsewhere.gguf");

    SpeechAssetStore damaged({dir / "folder", dir / "damaged.bin", nullptr});
    EXPECT_FALSE(damaged.installedModel()) << "a damaged named file is not replaced by the folder's";
    try {
        damaged.install();
        FAIL() << "expected an error";
    } catch (const SpeechRecognitionError& error) {
        EXPECT_NE(std::string(error.what()).find("vocabulary size"), std::string::npos) << error.what();
    }

    SpeechAssetStore missing({dir / "folder", dir / "missing.bin", nullptr});
    EXPECT_FALSE(missing.installedModel()) << "a named file that is missing is not replaced by the folder's";
    int installs = 0;
    SpeechAssetStore withInstaller({dir / "folder", dir / "missing.bin", [&](const fs::path&, const AssetProgressCallback&) { ++installs; }});
    try {
        withInstaller.install();
        FAIL() << "expected an error";
    } catch (const SpeechRecognitionError& error) {
        EXPECT_NE(std::string(error.what()).find((dir / "missing.bin").string()), std::string::npos) << error.what();
    }
    EXPECT_EQ(installs, 0) << "nothing is downloaded in place of a file the user named";
}

TEST(SpeechAssetStore, InstallRunsTheInstallerOnlyWhenNothingIsInstalled) {
    TempDir dir;
    int installs = 0;
    SpeechAssetStore store({dir / "ja", std::nullopt, [&](const fs::path& folder, const AssetProgressCallback&) {
                                ++installs;
                                writeFile(folder / "ggml-small.bin", modelBytes());
                            }});
    store.install();
    EXPECT_EQ(installs, 1);
    EXPECT_EQ(store.installedModel(), dir / "ja" / "ggml-small.bin");
    store.install();
    EXPECT_EQ(installs, 1) << "already installed";
}

TEST(SpeechAssetStore, InstallFailuresNameTheFolderWhereAModelCanBePlaced) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&, const AssetProgressCallback&)> installer;
        std::string expectedPart;
    };
    const Case cases[] = {
        {"installer fails", [](const fs::path&, const AssetProgressCallback&) { throw std::runtime_error("connection refused"); },
         "connection refused"},
        {"installer leaves no model", [](const fs::path& folder, const AssetProgressCallback&) { writeFile(folder / "readme.txt", "x"); }, ".bin"},
        {"installer leaves a damaged model",
         [](const fs::path& folder, const AssetProgressCallback&) { writeFile(folder / "ggml-small.bin", magicAlone()); }, "vocabulary size"},
        {"no installer", nullptr, "インストールされていません"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        SpeechAssetStore store({dir / "speech" / "ja", std::nullopt, c.installer});
        try {
            store.install();
            ADD_FAILURE() << c.name << ": expected an error";
        } catch (const SpeechRecognitionError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find(c.expectedPart), std::string::npos) << c.name << ": " << message;
            EXPECT_NE(message.find((dir / "speech" / "ja").string()), std::string::npos) << c.name << ": " << message;
        }
        EXPECT_FALSE(store.isInstalling()) << c.name;
    }
}

TEST(SpeechAssetStore, ConcurrentInstallsRunTheInstallerOnce) {
    TempDir dir;
    std::atomic<int> installs = 0;
    std::latch entered(1);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    SpeechAssetStore store({dir.path(), std::nullopt, [&](const fs::path& folder, const AssetProgressCallback&) {
                                ++installs;
                                entered.count_down();
                                released.wait();
                                writeFile(folder / "ggml-small.bin", modelBytes());
                            }});
    auto first = std::async(std::launch::async, [&] { store.install(); });
    entered.wait();
    EXPECT_TRUE(store.isInstalling());
    auto second = std::async(std::launch::async, [&] { store.install(); });
    EXPECT_EQ(second.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout) << "waits for the first";
    release.set_value();
    first.get();
    second.get();
    EXPECT_EQ(installs, 1);
    EXPECT_FALSE(store.isInstalling());
}

}  // namespace
}  // namespace pelora::speech
