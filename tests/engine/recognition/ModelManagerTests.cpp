#include "engine/recognition/ModelManager.h"

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "engine/recognition/PeloraVoiceError.h"
#include "platform/http/HttpError.h"
#include "platform/http/Sha256.h"
#include "tests/support/LocalHttpServer.h"
#include "tests/support/TempDir.h"

namespace pelora {
namespace {

namespace fs = std::filesystem;
using pelora::testing::LocalHttpServer;
using pelora::testing::readFile;
using pelora::testing::TempDir;
using pelora::testing::writeFile;
using Reply = LocalHttpServer::Reply;

// The model server URLs are fixed for the life of the process, so one server serves
// every test of this program; each test scripts its own routes.
class ModelServerEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        server = std::make_unique<LocalHttpServer>();
        setenv(ModelManager::serverEnvironmentVariable, server->baseURL().c_str(), 1);
    }
    void TearDown() override { server.reset(); }
    static inline std::unique_ptr<LocalHttpServer> server;
};
[[maybe_unused]] ::testing::Environment* const modelServerEnvironment =
    ::testing::AddGlobalTestEnvironment(new ModelServerEnvironment);

LocalHttpServer& modelServer() { return *ModelServerEnvironment::server; }

std::string bytesFor(const std::string& seed, std::size_t size) {
    std::string bytes;
    bytes.reserve(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes.push_back(static_cast<char>((seed.size() * 31 + i * 7 + seed[i % seed.size()]) & 0xff));
    return bytes;
}

// The smallest folder that passes the required-asset checks.
void writeCompleteAssets(const fs::path& folder) {
    writeFile(folder / "hann_320.f32", bytesFor("hann", 1280));
    writeFile(folder / "mel_filters_257x128.f32", bytesFor("mel", 131584));
    for (const char* bundle : {"eg2_audio_l11.mlmodelc", "reader_P6.mlmodelc", "scorer_blk_d128_k16_b4_t500.mlmodelc",
                               "punct_headonly.mlmodelc"})
        writeFile(folder / bundle / "model.onnx", bytesFor(bundle, 64));
    writeFile(folder / "reader_P6.json", R"({"scale": 40})");
    writeFile(folder / "reader_words.json", R"(["a","b"])");
    writeFile(folder / "word_unit_f16.bin", bytesFor("table", 1536 * 2));
    writeFile(folder / "punct_case.json", "{}");
}

struct ServedFile {
    std::string path;
    std::string bytes;
    std::string url;  // as written in the manifest
};

// A model set as the server offers it. The files of the last bundle come last, so
// that a download cut short there already has all ten required names in place.
std::vector<ServedFile> modelSet() {
    const std::string files = "/models/v5/files/";
    std::vector<ServedFile> set = {
        {"hann_320.f32", bytesFor("hann", 1280), "v5/files/hann_320.f32"},
        {"mel_filters_257x128.f32", bytesFor("mel", 131584), files + "mel_filters_257x128.f32"},
        {"reader_P6.json", R"({"scale": 40, "bias": -0.5})", "v5/files/reader_P6.json"},
        {"reader_words.json", R"(["hello","world"])", "v5/files/reader_words.json"},
        {"word_unit_f16.bin", bytesFor("table", 1536 * 2), "v5/files/word_unit_f16.bin"},
        {"punct_case.json", R"({"api":2})", "v5/files/punct_case.json"},
        {"eg2_audio_l11.mlmodelc/model.onnx", bytesFor("encoder", 900), "v5/files/eg2_audio_l11.mlmodelc/model.onnx"},
        {"reader_P6.mlmodelc/model.onnx", bytesFor("reader", 700), "v5/files/reader_P6.mlmodelc/model.onnx"},
        {"scorer_blk_d128_k16_b4_t500.mlmodelc/model.onnx", bytesFor("scorer", 500),
         "v5/files/scorer_blk_d128_k16_b4_t500.mlmodelc/model.onnx"},
        {"punct_headonly.mlmodelc/model.onnx", bytesFor("punct", 300), "v5/files/punct_headonly.mlmodelc/model.onnx"},
        {"punct_headonly.mlmodelc/weights.bin", bytesFor("punct-weights", 2000),
         modelServer().url(files + "punct_headonly.mlmodelc/weights.bin")},
    };
    return set;
}

std::string serverPath(const ServedFile& file) { return "/models/v5/files/" + file.path; }

std::int64_t totalSize(const std::vector<ServedFile>& files) {
    std::int64_t total = 0;
    for (const auto& f : files) total += static_cast<std::int64_t>(f.bytes.size());
    return total;
}

nlohmann::json manifestFor(const std::vector<ServedFile>& files) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& f : files) {
        list.push_back({{"path", f.path},
                        {"url", f.url},
                        {"size", f.bytes.size()},
                        {"sha256", http::sha256Hex(f.bytes)},
                        {"note", "ignored"}});
    }
    return {{"version", 5}, {"total_bytes", totalSize(files)}, {"files", list}, {"generator", "test"}};
}

// Serves the manifest and every file; returns the manifest bytes.
std::string serveModels(const std::vector<ServedFile>& files, const nlohmann::json& manifest) {
    const std::string bytes = manifest.dump(2);
    modelServer().serve("/models/v5/manifest.json", Reply::ok(bytes, "application/json"));
    for (const auto& f : files) modelServer().serve(serverPath(f), Reply::ok(f.bytes));
    return bytes;
}

std::vector<fs::path> partialFiles(const fs::path& folder) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (it->path().filename().string().ends_with(".partial")) found.push_back(it->path());
    return found;
}

template <typename Call>
std::optional<PeloraVoiceError> peloraErrorOf(Call call) {
    try {
        call();
    } catch (const PeloraVoiceError& error) {
        return error;
    } catch (const std::exception& error) {
        ADD_FAILURE() << "unexpected error: " << error.what();
        return std::nullopt;
    }
    ADD_FAILURE() << "expected a PeloraVoiceError";
    return std::nullopt;
}

class ModelManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        modelServer().clearRoutes();
        modelServer().clearRequests();
        if (const char* old = std::getenv("XDG_DATA_HOME")) savedDataHome_ = old;
        useDataHome(dir.path() / "data");
    }
    void TearDown() override {
        if (savedDataHome_)
            setenv("XDG_DATA_HOME", savedDataHome_->c_str(), 1);
        else
            unsetenv("XDG_DATA_HOME");
    }
    void useDataHome(const fs::path& data) { setenv("XDG_DATA_HOME", data.c_str(), 1); }

    // Runs a download, collecting its progress lines.
    fs::path download() {
        return ModelManager::ensureOrDownloadModels([this](const std::string& line) { lines.push_back(line); });
    }

    TempDir dir;
    std::vector<std::string> lines;

private:
    std::optional<std::string> savedDataHome_;
};

TEST_F(ModelManagerTest, LocationsFollowTheDataHomeAndConfiguredServer) {
    EXPECT_EQ(ModelManager::sharedModelsDirectory(), dir.path() / "data" / "PeloraVoice2" / "models");
    EXPECT_EQ(ModelManager::legacyModelsDirectory(), dir.path() / "data" / "ai.mosvik.eg2demo" / "models");
    EXPECT_EQ(ModelManager::remoteBaseURL(), modelServer().baseURL() + "/models/");
    EXPECT_EQ(ModelManager::remoteManifestURL(), modelServer().baseURL() + "/models/v5/manifest.json");

    const char* home = std::getenv("HOME");
    ASSERT_NE(home, nullptr);
    for (const char* ignored : {"", "relative/data"}) {
        setenv("XDG_DATA_HOME", ignored, 1);
        EXPECT_EQ(ModelManager::applicationSupportDirectory(), fs::path(home) / ".local" / "share") << ignored;
    }
    const auto bundle = ModelManager::bundleModelsDirectory();
    ASSERT_TRUE(bundle);
    EXPECT_EQ(*bundle, fs::read_symlink("/proc/self/exe").parent_path() / "models") << "beside the program";
}

TEST_F(ModelManagerTest, CompletenessFollowsAssetsAndManifest) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> change;
        bool complete;
    };
    const std::string manifestOfHann =
        R"({"version":5,"total_bytes":1280,"files":[{"path":"hann_320.f32","url":"x","size":SIZE,"sha256":""}]})";
    auto manifestWithSize = [&](const std::string& size) {
        std::string text = manifestOfHann;
        return text.replace(text.find("SIZE"), 4, size);
    };
    const Case cases[] = {
        {"all assets, no manifest", [](const fs::path&) {}, true},
        {"manifest that is not JSON", [](const fs::path& f) { writeFile(f / "manifest.json", "{not json"); }, true},
        {"manifest missing a key", [](const fs::path& f) { writeFile(f / "manifest.json", R"({"files":[]})"); }, true},
        {"manifest with a number beyond any double",
         [](const fs::path& f) { writeFile(f / "manifest.json", R"({"version":1e400,"total_bytes":0,"files":[]})"); },
         true},
        {"manifest with no files",
         [](const fs::path& f) { writeFile(f / "manifest.json", R"({"version":5,"total_bytes":0,"files":[]})"); },
         true},
        {"manifest sizes match", [&](const fs::path& f) { writeFile(f / "manifest.json", manifestWithSize("1280")); },
         true},
        {"manifest lists a wrong size",
         [&](const fs::path& f) { writeFile(f / "manifest.json", manifestWithSize("1281")); }, false},
        {"manifest lists a missing file",
         [](const fs::path& f) {
             writeFile(
                 f / "manifest.json",
                 R"({"version":5,"total_bytes":1,"files":[{"path":"extra/x.bin","url":"x","size":1,"sha256":""}]})");
         },
         false},
        {"manifest lists an unsafe path",
         [](const fs::path& f) {
             writeFile(f / "manifest.json",
                       R"({"version":5,"total_bytes":1,"files":[{"path":"../x","url":"x","size":1,"sha256":""}]})");
         },
         false},
        {"hann of 1279 bytes", [](const fs::path& f) { writeFile(f / "hann_320.f32", std::string(1279, 'h')); }, false},
        {"hann of 1281 bytes", [](const fs::path& f) { writeFile(f / "hann_320.f32", std::string(1281, 'h')); }, false},
        {"mel filters one byte short",
         [](const fs::path& f) { writeFile(f / "mel_filters_257x128.f32", std::string(131583, 'm')); }, false},
        {"word table of 3 rows and a byte",
         [](const fs::path& f) { writeFile(f / "word_unit_f16.bin", std::string(1536 * 3 + 1, 'w')); }, false},
        {"word table of exactly one row",
         [](const fs::path& f) { writeFile(f / "word_unit_f16.bin", std::string(1536, 'w')); }, true},
        {"empty word table", [](const fs::path& f) { writeFile(f / "word_unit_f16.bin", ""); }, false},
        {"empty json file", [](const fs::path& f) { writeFile(f / "reader_words.json", ""); }, false},
        {"missing json file", [](const fs::path& f) { fs::remove(f / "punct_case.json"); }, false},
        {"json file that is a folder",
         [](const fs::path& f) {
             fs::remove(f / "reader_P6.json");
             fs::create_directory(f / "reader_P6.json");
         },
         false},
        {"bundle that is a plain file",
         [](const fs::path& f) {
             fs::remove_all(f / "reader_P6.mlmodelc");
             writeFile(f / "reader_P6.mlmodelc", "not a folder");
         },
         false},
        {"empty bundle folder",
         [](const fs::path& f) {
             fs::remove_all(f / "eg2_audio_l11.mlmodelc");
             fs::create_directory(f / "eg2_audio_l11.mlmodelc");
         },
         false},
        {"bundle of empty files",
         [](const fs::path& f) {
             fs::remove_all(f / "punct_headonly.mlmodelc");
             writeFile(f / "punct_headonly.mlmodelc" / "a", "");
             writeFile(f / "punct_headonly.mlmodelc" / "b", "");
         },
         false},
        {"bundle with one non-empty file among empty ones",
         [](const fs::path& f) { writeFile(f / "punct_headonly.mlmodelc" / "empty", ""); }, true},
        {"missing bundle", [](const fs::path& f) { fs::remove_all(f / "scorer_blk_d128_k16_b4_t500.mlmodelc"); },
         false},
    };
    int index = 0;
    for (const Case& c : cases) {
        const fs::path folder = dir.path() / ("case" + std::to_string(index++));
        writeCompleteAssets(folder);
        c.change(folder);
        EXPECT_EQ(ModelManager::isCompleteModelDirectory(folder), c.complete) << c.name;
    }
    EXPECT_FALSE(ModelManager::isCompleteModelDirectory(dir.path() / "nowhere"));
}

TEST_F(ModelManagerTest, SafeRelativeAssetPaths) {
    struct Case {
        const char* path;
        bool safe;
    };
    const Case cases[] = {
        {"punct_headonly.mlmodelc/model.onnx", true},
        {"hann_320.f32", true},
        {"  reader_P6.json\n", true},
        {"a/b/c.bin", true},
        {"", false},
        {" \t\n", false},
        {"/etc/passwd", false},
        {"~/models/x", false},
        {"a\\b", false},
        {"a//b", false},
        {"a/", false},
        {"./a", false},
        {"a/./b", false},
        {"..", false},
        {"../outside", false},
        {"a/../../outside", false},
        {"a/..", false},
    };
    const fs::path base = dir.path() / "models";
    for (const Case& c : cases)
        EXPECT_EQ(ModelManager::isSafeRelativeAssetPath(c.path, base), c.safe) << "path: \"" << c.path << "\"";
    EXPECT_FALSE(ModelManager::isSafeRelativeAssetPath(std::string("a\0/x", 4), base)) << "embedded NUL";
}

TEST_F(ModelManagerTest, FileMatchesChecksSizeThenDigest) {
    const std::string bytes = "model bytes";
    const std::string digest = http::sha256Hex(bytes);
    std::string upper = digest;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    writeFile(dir / "file.bin", bytes);
    fs::create_directory(dir / "folder");
    struct Case {
        const char* name;
        fs::path file;
        std::int64_t size;
        std::string sha256;
        bool matches;
    };
    const std::int64_t size = static_cast<std::int64_t>(bytes.size());
    const Case cases[] = {
        {"size and digest", dir / "file.bin", size, digest, true},
        {"upper-case digest", dir / "file.bin", size, upper, true},
        {"digest with white space", dir / "file.bin", size, "  " + digest + "\n", true},
        {"other digest", dir / "file.bin", size, http::sha256Hex("other"), false},
        {"wrong size", dir / "file.bin", size + 1, digest, false},
        {"empty digest: size alone", dir / "file.bin", size, "", true},
        {"short digest: size alone", dir / "file.bin", size, digest.substr(1), true},
        {"size zero", dir / "file.bin", 0, digest, false},
        {"missing file", dir / "missing.bin", size, digest, false},
        {"a folder", dir / "folder", size, "", false},
    };
    for (const Case& c : cases) EXPECT_EQ(ModelManager::fileMatches(c.file, c.size, c.sha256), c.matches) << c.name;
}

TEST(ModelManagerProgressTest, ProgressLineFigures) {
    struct Case {
        std::int64_t completed;
        std::int64_t total;
        const char* line;
    };
    const std::int64_t mb = 1048576;
    const Case cases[] = {
        {0, 0, "初回モデルダウンロード中... 0% (0 / 1 MB)"},
        {5, 0, "初回モデルダウンロード中... 99% (0 / 1 MB)"},
        {0, 300 * mb, "初回モデルダウンロード中... 0% (0 / 300 MB)"},
        {150 * mb, 300 * mb, "初回モデルダウンロード中... 50% (150 / 300 MB)"},
        {299 * mb, 300 * mb, "初回モデルダウンロード中... 99% (299 / 300 MB)"},
        {300 * mb, 300 * mb, "初回モデルダウンロード中... 99% (300 / 300 MB)"},
        {mb / 2 - 1, 10 * mb, "初回モデルダウンロード中... 4% (0 / 10 MB)"},
        {3 * mb / 2 + 1, 10 * mb, "初回モデルダウンロード中... 15% (2 / 10 MB)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ModelManager::progressLine(c.completed, c.total), c.line) << c.completed << " of " << c.total;
}

TEST(ModelManagerSourceTest, SourceURLsResolveAgainstTheBase) {
    struct Case {
        const char* url;
        const char* source;
    };
    const std::string base = "https://models.example/models/";
    const Case cases[] = {
        {"v5/files/a.bin", "https://models.example/models/v5/files/a.bin"},
        {"/other/a.bin", "https://models.example/other/a.bin"},
        {"https://cdn.example/a.bin", "https://cdn.example/a.bin"},
        {"", "https://models.example/models/"},
    };
    for (const Case& c : cases) EXPECT_EQ(ModelManager::sourceURL(c.url, base), c.source) << "url: " << c.url;
}

TEST(ModelManagerManifestTest, DecodingRequiresEveryKeyWithItsType) {
    struct Case {
        const char* name;
        const char* json;
        bool decodes;
    };
    const Case cases[] = {
        {"complete, unknown keys ignored",
         R"({"version":5,"total_bytes":10,"x":1,"files":[{"sha256":"","url":"u","size":10,"path":"p","y":2}]})", true},
        {"no files", R"({"version":5,"total_bytes":0,"files":[]})", true},
        {"missing version", R"({"total_bytes":0,"files":[]})", false},
        {"missing total_bytes", R"({"version":5,"files":[]})", false},
        {"missing files", R"({"version":5,"total_bytes":0})", false},
        {"files not an array", R"({"version":5,"total_bytes":0,"files":{}})", false},
        {"size as text", R"({"version":5,"total_bytes":0,"files":[{"sha256":"","url":"u","size":"10","path":"p"}]})",
         false},
        {"size as fraction", R"({"version":5,"total_bytes":0,"files":[{"sha256":"","url":"u","size":1.5,"path":"p"}]})",
         false},
        {"missing path", R"({"version":5,"total_bytes":0,"files":[{"sha256":"","url":"u","size":1}]})", false},
        {"sha256 null", R"({"version":5,"total_bytes":0,"files":[{"sha256":null,"url":"u","size":1,"path":"p"}]})",
         false},
        {"top level array", "[]", false},
        {"not JSON", "<html>", false},
        {"version beyond any double", R"({"version":1e400,"total_bytes":0,"files":[]})", false},
        {"size beyond any double",
         R"({"version":5,"total_bytes":0,"files":[{"sha256":"","url":"u","size":-1e999,"path":"p"}]})", false},
        {"size beyond 64 bits",
         R"({"version":5,"total_bytes":0,"files":[{"sha256":"","url":"u","size":18446744073709551615,"path":"p"}]})",
         false},
    };
    for (const Case& c : cases) {
        bool decoded = true;
        try {
            RemoteManifest::decode(c.json);
        } catch (const std::invalid_argument&) {
            decoded = false;
        }
        EXPECT_EQ(decoded, c.decodes) << c.name;
    }
    const RemoteManifest manifest = RemoteManifest::decode(cases[0].json);
    EXPECT_EQ(manifest.version, 5);
    EXPECT_EQ(manifest.totalBytes, 10);
    ASSERT_EQ(manifest.files.size(), 1u);
    EXPECT_EQ(manifest.files[0].url, "u");
    EXPECT_EQ(manifest.files[0].size, 10);
    EXPECT_EQ(manifest.files[0].path, "p");
}

TEST_F(ModelManagerTest, ResolveTakesTheSharedFolderBeforeTheLegacyOne) {
    struct Case {
        bool shared;
        bool legacy;
        std::optional<fs::path> (*expected)();
    };
    const Case cases[] = {
        {false, false, [] { return std::optional<fs::path>(); }},
        {false, true, [] { return std::optional<fs::path>(ModelManager::legacyModelsDirectory()); }},
        {true, false, [] { return std::optional<fs::path>(ModelManager::sharedModelsDirectory()); }},
        {true, true, [] { return std::optional<fs::path>(ModelManager::sharedModelsDirectory()); }},
    };
    int index = 0;
    for (const Case& c : cases) {
        useDataHome(dir.path() / ("data" + std::to_string(index++)));
        if (c.shared) writeCompleteAssets(ModelManager::sharedModelsDirectory());
        if (c.legacy) writeCompleteAssets(ModelManager::legacyModelsDirectory());
        EXPECT_EQ(ModelManager::resolveModelsDirectory(), c.expected())
            << "shared " << c.shared << " legacy " << c.legacy;
    }
}

TEST_F(ModelManagerTest, SharedLocationLinksToTheLegacyFolder) {
    const fs::path legacy = ModelManager::legacyModelsDirectory();
    const fs::path shared = ModelManager::sharedModelsDirectory();
    writeCompleteAssets(legacy);
    EXPECT_EQ(ModelManager::ensureSharedModelsDirectory(), shared);
    ASSERT_TRUE(fs::is_symlink(shared));
    EXPECT_EQ(fs::read_symlink(shared), legacy);
    // The second call finds the shared path complete and returns it directly.
    EXPECT_EQ(ModelManager::ensureSharedModelsDirectory(), shared);
    EXPECT_EQ(fs::read_symlink(shared), legacy);
}

TEST_F(ModelManagerTest, SharedLocationOccupiedByAnotherFolderIsLeftAlone) {
    const fs::path legacy = ModelManager::legacyModelsDirectory();
    const fs::path shared = ModelManager::sharedModelsDirectory();
    writeCompleteAssets(legacy);
    writeFile(shared / "hann_320.f32", "partial");
    EXPECT_EQ(ModelManager::ensureSharedModelsDirectory(), legacy);
    EXPECT_FALSE(fs::is_symlink(shared));
    EXPECT_EQ(readFile(shared / "hann_320.f32"), "partial");
}

TEST_F(ModelManagerTest, NoCompleteFolderIsReportedWithTheSharedPath) {
    writeFile(ModelManager::legacyModelsDirectory() / "hann_320.f32", std::string(1280, 'h'));
    const auto error = peloraErrorOf([] { ModelManager::ensureSharedModelsDirectory(); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->errorCase(), PeloraVoiceError::Case::modelsNotFound);
    EXPECT_EQ(error->payload(), ModelManager::sharedModelsDirectory().string());
    EXPECT_EQ(std::string(error->what()),
              "EG2モデルが見つかりません: " + ModelManager::sharedModelsDirectory().string());
    EXPECT_FALSE(fs::exists(fs::symlink_status(ModelManager::sharedModelsDirectory())));
}

TEST_F(ModelManagerTest, DownloadFillsTheSharedFolderFileByFile) {
    const auto files = modelSet();
    const std::string manifestBytes = serveModels(files, manifestFor(files));

    const fs::path folder = download();

    const fs::path shared = ModelManager::sharedModelsDirectory();
    EXPECT_EQ(folder, shared);
    EXPECT_FALSE(fs::is_symlink(shared));
    EXPECT_TRUE(ModelManager::isCompleteModelDirectory(shared));
    EXPECT_EQ(ModelManager::resolveModelsDirectory(), shared);
    EXPECT_EQ(readFile(shared / "manifest.json"), manifestBytes);
    std::vector<std::string> expectedLines = {"音声認識モデル構成を取得中..."};
    std::int64_t completed = 0;
    for (const auto& f : files) {
        EXPECT_EQ(readFile(shared / f.path), f.bytes) << f.path;
        EXPECT_EQ(modelServer().requestCount(serverPath(f)), 1u) << f.path;
        expectedLines.push_back(ModelManager::progressLine(completed, totalSize(files)));
        completed += static_cast<std::int64_t>(f.bytes.size());
    }
    EXPECT_EQ(lines, expectedLines);
    EXPECT_EQ(lines[1], "初回モデルダウンロード中... 0% (0 / 1 MB)");
    EXPECT_EQ(lines[3], "初回モデルダウンロード中... 94% (0 / 1 MB)") << "after both feature tables";
    EXPECT_TRUE(partialFiles(shared).empty());

    // Once complete, nothing is fetched again.
    modelServer().clearRequests();
    lines.clear();
    EXPECT_EQ(download(), shared);
    EXPECT_TRUE(lines.empty());
    EXPECT_TRUE(modelServer().requests().empty());
}

TEST_F(ModelManagerTest, CompleteFolderElsewhereIsUsedWithoutNetwork) {
    writeCompleteAssets(ModelManager::legacyModelsDirectory());
    EXPECT_EQ(download(), ModelManager::sharedModelsDirectory());
    EXPECT_TRUE(fs::is_symlink(ModelManager::sharedModelsDirectory()));
    EXPECT_TRUE(lines.empty());
    EXPECT_TRUE(modelServer().requests().empty());
}

TEST_F(ModelManagerTest, LinkToAnIncompleteFolderIsReplacedByARealFolder) {
    const fs::path elsewhere = dir.path() / "old-models";
    writeFile(elsewhere / "hann_320.f32", "stale");
    const fs::path shared = ModelManager::sharedModelsDirectory();
    fs::create_directories(shared.parent_path());
    fs::create_directory_symlink(elsewhere, shared);
    const auto files = modelSet();
    serveModels(files, manifestFor(files));

    EXPECT_EQ(download(), shared);
    EXPECT_FALSE(fs::is_symlink(shared));
    EXPECT_TRUE(ModelManager::isCompleteModelDirectory(shared));
    EXPECT_EQ(readFile(elsewhere / "hann_320.f32"), "stale") << "the link's old target is not touched";
}

TEST_F(ModelManagerTest, InterruptedDownloadResumesWithTheMissingFilesOnly) {
    const auto files = modelSet();
    const std::size_t cut = 6;  // the first bundle file
    serveModels(files, manifestFor(files));
    modelServer().serve(serverPath(files[cut]), Reply::ok(files[cut].bytes).droppedAfter(100));

    try {
        download();
        ADD_FAILURE() << "the dropped connection must fail the download";
    } catch (const http::HttpError& error) {
        EXPECT_EQ(error.kind(), http::HttpError::Kind::transport) << error.what();
    }
    const fs::path shared = ModelManager::sharedModelsDirectory();
    EXPECT_EQ(ModelManager::resolveModelsDirectory(), std::nullopt);
    for (std::size_t i = 0; i < cut; ++i) EXPECT_EQ(readFile(shared / files[i].path), files[i].bytes);
    EXPECT_FALSE(fs::exists(shared / files[cut].path));
    EXPECT_TRUE(partialFiles(shared).empty());

    // The server recovers; files already in place are neither fetched nor announced again.
    serveModels(files, manifestFor(files));
    modelServer().clearRequests();
    lines.clear();
    EXPECT_EQ(download(), shared);
    std::vector<std::string> expectedLines = {"音声認識モデル構成を取得中..."};
    std::int64_t completed = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(modelServer().requestCount(serverPath(files[i])), i < cut ? 0u : 1u) << files[i].path;
        if (i >= cut) expectedLines.push_back(ModelManager::progressLine(completed, totalSize(files)));
        completed += static_cast<std::int64_t>(files[i].bytes.size());
    }
    EXPECT_EQ(lines, expectedLines);
    EXPECT_TRUE(ModelManager::isCompleteModelDirectory(shared));
}

TEST_F(ModelManagerTest, DownloadCutShortInTheLastBundleIsNeverTakenForComplete) {
    const auto files = modelSet();
    serveModels(files, manifestFor(files));
    const ServedFile& last = files.back();
    modelServer().serve(serverPath(last), Reply::ok(last.bytes).droppedAfter(10));

    EXPECT_THROW(download(), http::HttpError);
    const fs::path shared = ModelManager::sharedModelsDirectory();
    for (std::string_view name : ModelManager::requiredAssets)
        EXPECT_TRUE(fs::exists(shared / name)) << name << " is already in place";
    EXPECT_FALSE(ModelManager::isCompleteModelDirectory(shared));
    EXPECT_EQ(ModelManager::resolveModelsDirectory(), std::nullopt);
    EXPECT_THROW(ModelManager::ensureSharedModelsDirectory(), PeloraVoiceError);

    serveModels(files, manifestFor(files));
    modelServer().clearRequests();
    EXPECT_EQ(download(), shared);
    EXPECT_EQ(modelServer().requests().size(), 2u) << "the manifest and the one missing file";
    EXPECT_EQ(modelServer().requestCount(serverPath(last)), 1u);
}

TEST_F(ModelManagerTest, FailedFilesAreReportedAndLeaveNothingBehind) {
    const auto files = modelSet();
    const std::size_t failing = 2;  // reader_P6.json
    const std::string& good = files[failing].bytes;
    struct Case {
        const char* name;
        Reply reply;
        PeloraVoiceError::Case errorCase;
        std::string payload;
    };
    const std::string verification = "Downloaded file failed size/SHA-256 verification: reader_P6.json";
    std::string sameSizeOtherBytes = good;
    sameSizeOtherBytes[0] = '[';
    const Case cases[] = {
        {"not found", Reply::withStatus(404, "no such file"), PeloraVoiceError::Case::modelsNotFound,
         "HTTP 404: reader_P6.json"},
        {"server error", Reply::withStatus(500), PeloraVoiceError::Case::modelsNotFound, "HTTP 500: reader_P6.json"},
        {"shorter than listed", Reply::ok(good.substr(0, good.size() - 1)), PeloraVoiceError::Case::invalidModelAsset,
         verification},
        {"longer than listed", Reply::ok(good + std::string(100000, 'x')), PeloraVoiceError::Case::invalidModelAsset,
         verification},
        // Stopped at the listed size: the rest is never waited for.
        {"longer than listed, never finished", Reply::ok(good + std::string(100000, 'x')).droppedAfter(60000),
         PeloraVoiceError::Case::invalidModelAsset, verification},
        {"other bytes of the same size", Reply::ok(sameSizeOtherBytes), PeloraVoiceError::Case::invalidModelAsset,
         verification},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        useDataHome(dir.path() / ("data" + std::to_string(index++)));
        serveModels(files, manifestFor(files));
        modelServer().serve(serverPath(files[failing]), c.reply);
        const auto error = peloraErrorOf([this] { download(); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->errorCase(), c.errorCase);
        EXPECT_EQ(error->payload(), c.payload);
        const fs::path shared = ModelManager::sharedModelsDirectory();
        EXPECT_FALSE(fs::exists(shared / files[failing].path));
        EXPECT_TRUE(partialFiles(shared).empty());
        for (std::size_t i = 0; i < failing; ++i) EXPECT_EQ(readFile(shared / files[i].path), files[i].bytes);
    }
    // The user sees the failure with its prefix.
    EXPECT_EQ(PeloraVoiceError::modelsNotFound("HTTP 404: reader_P6.json").errorDescription(),
              "EG2モデルが見つかりません: HTTP 404: reader_P6.json");
}

TEST_F(ModelManagerTest, ManifestProblemsStopBeforeAnyFileIsFetched) {
    const auto files = modelSet();
    auto withEntry = [&](const std::string& key, const std::string& value) {
        nlohmann::json manifest = manifestFor(files);
        manifest["files"][2][key] = value;
        return Reply::ok(manifest.dump(), "application/json");
    };
    struct Case {
        const char* name;
        Reply manifest;
        std::optional<PeloraVoiceError::Case> errorCase;  // none: a decoding error
        std::string payload;
    };
    const std::string manifestURL = ModelManager::remoteManifestURL();
    const Case cases[] = {
        {"manifest not found", Reply::withStatus(404, "<html>missing</html>"), PeloraVoiceError::Case::modelsNotFound,
         "HTTP 404: " + manifestURL},
        {"manifest server error", Reply::withStatus(503), PeloraVoiceError::Case::modelsNotFound,
         "HTTP 503: " + manifestURL},
        {"manifest not JSON", Reply::ok("<html>hello</html>"), std::nullopt, ""},
        {"manifest missing a key", Reply::ok(R"({"version":5,"files":[]})"), std::nullopt, ""},
        {"version beyond any double", Reply::ok(R"({"version":1e400,"total_bytes":0,"files":[]})"), std::nullopt, ""},
        {"path climbing out", withEntry("path", "../outside.bin"), PeloraVoiceError::Case::invalidModelAsset,
         "Unsafe manifest path: ../outside.bin"},
        {"absolute path", withEntry("path", "/tmp/outside.bin"), PeloraVoiceError::Case::invalidModelAsset,
         "Unsafe manifest path: /tmp/outside.bin"},
        {"empty digest", withEntry("sha256", ""), PeloraVoiceError::Case::invalidModelAsset,
         "Manifest entry has no valid SHA-256: reader_P6.json"},
        {"digest of 64 non-hex characters", withEntry("sha256", std::string(64, 'z')),
         PeloraVoiceError::Case::invalidModelAsset, "Manifest entry has no valid SHA-256: reader_P6.json"},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        useDataHome(dir.path() / ("data" + std::to_string(index++)));
        serveModels(files, manifestFor(files));
        modelServer().serve("/models/v5/manifest.json", c.manifest);
        modelServer().clearRequests();
        if (c.errorCase) {
            const auto error = peloraErrorOf([this] { download(); });
            ASSERT_TRUE(error);
            EXPECT_EQ(error->errorCase(), *c.errorCase);
            EXPECT_EQ(error->payload(), c.payload);
        } else {
            EXPECT_THROW(download(), std::invalid_argument);
        }
        EXPECT_EQ(modelServer().requests().size(), 1u) << "only the manifest is fetched";
        EXPECT_FALSE(fs::exists(ModelManager::sharedModelsDirectory() / "manifest.json"));
        EXPECT_FALSE(fs::exists(dir.path() / ("data" + std::to_string(index - 1)) / "PeloraVoice2" / "outside.bin"));
    }
}

TEST_F(ModelManagerTest, StaleDestinationsAreReplacedInPlace) {
    const auto files = modelSet();
    serveModels(files, manifestFor(files));
    const fs::path shared = ModelManager::sharedModelsDirectory();
    std::string sameSize = files[2].bytes;
    sameSize[1] = '!';
    writeFile(shared / files[2].path, sameSize);                   // right size, wrong digest
    writeFile(shared / files[5].path / "leftover", "in the way");  // a folder where a file belongs
    writeFile(shared / files[0].path, files[0].bytes);             // already right

    EXPECT_EQ(download(), shared);
    EXPECT_EQ(readFile(shared / files[2].path), files[2].bytes);
    EXPECT_EQ(readFile(shared / files[5].path), files[5].bytes);
    EXPECT_EQ(modelServer().requestCount(serverPath(files[0])), 0u);
    EXPECT_EQ(lines.size(), files.size()) << "one status line plus one per downloaded file";
}

TEST_F(ModelManagerTest, VerifiedDownloadInstallsASingleFile) {
    const std::string bytes = bytesFor("speech-model", 5000);
    modelServer().serve("/assets/model.bin", Reply::ok(bytes));
    const fs::path destination = dir.path() / "assets" / "sub" / "model.bin";
    ModelManager::downloadVerifiedFile(modelServer().url("/assets/model.bin"), destination, 5000,
                                       http::sha256Hex(bytes), "model.bin");
    EXPECT_EQ(readFile(destination), bytes);

    // A failed replacement keeps the file that was there.
    modelServer().serve("/assets/model.bin", Reply::ok(bytesFor("other", 5000)));
    EXPECT_THROW(ModelManager::downloadVerifiedFile(modelServer().url("/assets/model.bin"), destination, 5000,
                                                    http::sha256Hex(bytes), "model.bin"),
                 PeloraVoiceError);
    EXPECT_EQ(readFile(destination), bytes);
    EXPECT_TRUE(partialFiles(dir.path() / "assets").empty());
}

}  // namespace
}  // namespace pelora
