#include "engine/recognition/SpeechModelDownload.h"

#include <atomic>
#include <future>
#include <latch>
#include <thread>

#include <gtest/gtest.h>

#include "engine/recognition/JapaneseSpeechAssets.h"
#include "platform/http/Sha1.h"
#include "tests/support/FileDownloadServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/TinyWhisperModel.h"

namespace pelora {
namespace {

namespace fs = std::filesystem;
using testing::FileDownloadServer;
using testing::TempDir;

constexpr const char* kRepositoryPath = "/ggerganov/whisper.cpp/resolve/main/";
constexpr const char* kFileName = "ggml-tiny-random.bin";
constexpr const char* kStoragePath = "/storage/ggml-tiny-random.bin";

std::vector<std::string> folderContents(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Two servers on 127.0.0.1 laid out like the public repository: the repository path
// answers with a redirect to a storage host, which serves the file over https.
class SpeechModelDownloadTest : public ::testing::Test {
public:
    static void SetUpTestSuite() {
        TempDir dir;
        testing::writeTinyWhisperModel(dir / "model.bin");
        model_ = new std::string(testing::readFile(dir / "model.bin"));
        certificates_ = new TempDir();
        certificate_ = new FileDownloadServer::Certificate(FileDownloadServer::Certificate::makeIn(certificates_->path()));
    }
    static void TearDownTestSuite() {
        delete model_;
        delete certificate_;
        delete certificates_;
    }

    void SetUp() override {
        storage_ = std::make_unique<FileDownloadServer>(*certificate_);
        storage_->serve(kStoragePath, *model_);
        repository_.redirect(std::string(kRepositoryPath) + kFileName, storage_->url(kStoragePath));
    }

    SpeechModelCatalogue catalogue(std::string sha1 = {}) const {
        return SpeechModelCatalogue({{"tiny-random", static_cast<std::int64_t>(model_->size()),
                                      sha1.empty() ? http::Sha1::ofBytes(*model_) : sha1}},
                                    repository_.url(kRepositoryPath));
    }

    SpeechModelDownload::Options options() {
        SpeechModelDownload::Options o;
        o.certificateAuthorities = certificate_->certificate.string();
        o.progressInterval = std::chrono::milliseconds(0);
        return o;
    }

    // The recogniser as the system builds it for the catalogue route, over the test's catalogue.
    std::shared_ptr<speech::SpeechRecognition> recognition(SpeechModelCatalogue catalogue, std::string name,
                                                           SpeechModelDownload::Options downloadOptions) {
        speech::SpeechAssetConfiguration configuration;
        configuration.assetFolder = folder_;
        configuration.modelFileName = std::string("ggml-") + name + ".bin";
        configuration.otherModelFilesServe = false;
        configuration.installer = [catalogue, name, downloadOptions](const fs::path& folder,
                                                                     const speech::AssetProgressCallback& onProgress) {
            SpeechModelDownload::Options o = downloadOptions;
            o.onProgress = onProgress;
            JapaneseSpeechAssets::installCatalogueModel(folder, catalogue, name, o);
        };
        return speech::makeSpeechRecognition(configuration);
    }

    std::string install(speech::SpeechRecognition& recognition) {
        try {
            JapaneseSpeechAssets::ensureJapaneseSpeechAssets(
                recognition, [this](const std::string& line) { texts_.push_back(line); },
                [this](const speech::AssetDownloadProgress& p) { progress_.push_back(p); });
            return {};
        } catch (const speech::SpeechRecognitionError& error) {
            return error.what();
        }
    }

    static std::string* model_;
    static TempDir* certificates_;
    static FileDownloadServer::Certificate* certificate_;
    FileDownloadServer repository_;
    FileDownloadServer plain_;
    std::unique_ptr<FileDownloadServer> storage_;
    TempDir dir_;
    fs::path folder_ = dir_ / "PeloraVoice2" / "speech" / "ja";
    std::vector<std::string> texts_;
    std::vector<speech::AssetDownloadProgress> progress_;
};

std::string* SpeechModelDownloadTest::model_ = nullptr;
TempDir* SpeechModelDownloadTest::certificates_ = nullptr;
FileDownloadServer::Certificate* SpeechModelDownloadTest::certificate_ = nullptr;

TEST_F(SpeechModelDownloadTest, TheModelIsDownloadedThroughTheRedirectVerifiedAndInstalled) {
    auto recognition = this->recognition(catalogue(), "tiny-random", options());
    ASSERT_EQ(recognition->assetStatus("ja_JP"), speech::AssetStatus::supported);
    EXPECT_EQ(install(*recognition), "");
    EXPECT_EQ(texts_, std::vector<std::string>{JapaneseSpeechAssets::installingProgressText}) << "the text once";
    ASSERT_FALSE(progress_.empty());
    EXPECT_EQ(progress_.back().fileName, kFileName);
    EXPECT_EQ(progress_.back().receivedBytes, static_cast<std::int64_t>(model_->size()));
    EXPECT_EQ(progress_.back().totalBytes, static_cast<std::int64_t>(model_->size()));
    for (std::size_t i = 1; i < progress_.size(); ++i) {
        EXPECT_GE(progress_[i].receivedBytes, progress_[i - 1].receivedBytes) << "progress never goes back";
    }
    EXPECT_EQ(folderContents(folder_), std::vector<std::string>{kFileName});
    EXPECT_TRUE(testing::readFile(folder_ / kFileName) == *model_);
    EXPECT_EQ(repository_.requestCount(std::string(kRepositoryPath) + kFileName), 1u);
    EXPECT_EQ(storage_->requestCount(kStoragePath), 1u);
    EXPECT_EQ(recognition->assetStatus("ja_JP"), speech::AssetStatus::installed);

    // Installed: the next run neither reports nor downloads.
    texts_.clear();
    EXPECT_EQ(install(*recognition), "");
    EXPECT_TRUE(texts_.empty());
    EXPECT_EQ(storage_->requestCount(kStoragePath), 1u);
}

TEST_F(SpeechModelDownloadTest, FailuresLeaveNoModelInstalledAndSayWhatAndWhere) {
    struct Case {
        const char* name;
        std::function<void(SpeechModelDownloadTest&, SpeechModelDownload::Options&)> arrange;
        std::string digest;  // empty: the model's own
        std::string expectedPart;
        bool storageAsked;
    };
    const Case cases[] = {
        {"digest mismatch", [](auto&, auto&) {}, http::Sha1::ofBytes("something else"), "SHA-1", true},
        {"redirect to plain http",
         [](SpeechModelDownloadTest& t, auto&) {
             t.plain_.serve(kStoragePath, *model_);
             t.repository_.redirect(std::string(kRepositoryPath) + kFileName, t.plain_.url(kStoragePath));
         },
         "", "ダウンロードできませんでした", false},
        {"missing on the server",
         [](SpeechModelDownloadTest& t, auto&) {
             t.repository_.redirect(std::string(kRepositoryPath) + kFileName, t.storage_->url("/storage/other.bin"));
         },
         "", "HTTP 404", false},
        {"not enough space", [](auto&, SpeechModelDownload::Options& o) { o.freeSpace = [](const fs::path&) { return 1000; }; },
         "", "空き容量が足りません", false},
        {"a server that trickles",
         [](SpeechModelDownloadTest& t, SpeechModelDownload::Options& o) {
             t.storage_->trickle(std::chrono::milliseconds(20));
             o.minimumRate = {1024, std::chrono::milliseconds(300)};
         },
         "", "slower than", true},
    };
    for (const Case& c : cases) {
        SetUp();
        fs::remove_all(folder_);
        progress_.clear();
        SpeechModelDownload::Options o = options();
        c.arrange(*this, o);
        auto recognition = this->recognition(catalogue(c.digest), "tiny-random", o);
        const std::string message = install(*recognition);
        EXPECT_NE(message.find(c.expectedPart), std::string::npos) << c.name << ": " << message;
        EXPECT_NE(message.find(folder_.string()), std::string::npos) << c.name << ": " << message;
        EXPECT_EQ(recognition->assetStatus("ja_JP"), speech::AssetStatus::supported) << c.name;
        EXPECT_FALSE(fs::exists(folder_ / kFileName)) << c.name;
        EXPECT_EQ(storage_->requestCount(kStoragePath) > 0, c.storageAsked) << c.name;
        if (std::string(c.name) == "digest mismatch") {
            EXPECT_TRUE(folderContents(folder_).empty()) << c.name << ": the unverified file is removed";
        }
    }
}

TEST_F(SpeechModelDownloadTest, AnInterruptedTransferContinuesWithARangeRequest) {
    struct Case {
        const char* name;
        bool storageHonoursRanges;
        bool secondRequestAnsweredFromTheCut;
    };
    const Case cases[] = {
        {"storage honours ranges", true, true},
        {"storage ignores ranges and sends it all again", false, false},
    };
    for (const Case& c : cases) {
        SetUp();
        fs::remove_all(folder_);
        storage_->cutNextTransferAfter(model_->size() / 2);
        auto recognition = this->recognition(catalogue(), "tiny-random", options());
        const std::string first = install(*recognition);
        EXPECT_NE(first, "") << c.name << ": the cut transfer is an error";
        const fs::path partial = folder_ / (std::string(kFileName) + SpeechModelDownload::partialSuffix);
        ASSERT_TRUE(fs::exists(partial)) << c.name << ": what arrived stays";
        const auto kept = fs::file_size(partial);
        EXPECT_EQ(recognition->assetStatus("ja_JP"), speech::AssetStatus::supported) << c.name << ": a partial file is no model";

        storage_->honourRanges(c.storageHonoursRanges);
        EXPECT_EQ(install(*recognition), "") << c.name;
        EXPECT_TRUE(testing::readFile(folder_ / kFileName) == *model_) << c.name << ": not byte-identical";
        EXPECT_EQ(folderContents(folder_), std::vector<std::string>{kFileName}) << c.name;
        const auto requests = storage_->requests();
        ASSERT_GE(requests.size(), 2u) << c.name;
        EXPECT_EQ(requests.back().range, "bytes=" + std::to_string(kept) + "-") << c.name;
        ASSERT_FALSE(progress_.empty());
        EXPECT_EQ(progress_.back().receivedBytes, static_cast<std::int64_t>(model_->size())) << c.name;
    }
}

TEST_F(SpeechModelDownloadTest, ASecondInstallerWaitsForTheFirstAndDownloadsNothing) {
    std::latch downloading(1);
    std::atomic<bool> firstReport = true;
    auto first = this->recognition(catalogue(), "tiny-random", options());
    auto second = this->recognition(catalogue(), "tiny-random", options());  // its own store, as another process has
    auto installing = std::async(std::launch::async, [&] {
        return JapaneseSpeechAssets::ensureJapaneseSpeechAssets(*first, {}, [&](const speech::AssetDownloadProgress&) {
            if (firstReport.exchange(false)) {
                downloading.count_down();
                std::this_thread::sleep_for(std::chrono::milliseconds(500));  // still holding the lock
            }
        });
    });
    downloading.wait();
    EXPECT_EQ(install(*second), "");
    EXPECT_EQ(installing.get(), "ja_JP");
    EXPECT_EQ(storage_->requestCount(kStoragePath), 1u) << "one download";
    EXPECT_EQ(folderContents(folder_), std::vector<std::string>{kFileName}) << "no lock file stays behind";
}

TEST(SpeechModelCatalogueTest, NamesOutsideTheCatalogueAreAClearError) {
    struct Case {
        const char* name;
        std::vector<std::string> expectedParts;
    };
    const Case cases[] = {
        {"nope", {"\"nope\"", "PELORAVOICE_SPEECH_MODEL_NAME", "tiny, base, small, medium, large-v1"}},
        {"small.en", {"\"small.en\"", "英語専用", "large-v3-turbo-q5_0"}},
        {"", {"\"\"", "small"}},
    };
    for (const Case& c : cases) {
        try {
            SpeechModelCatalogue::builtIn().entry(c.name);
            ADD_FAILURE() << c.name << ": expected an error";
        } catch (const speech::SpeechRecognitionError& error) {
            for (const std::string& part : c.expectedParts) {
                EXPECT_NE(std::string(error.what()).find(part), std::string::npos) << c.name << ": " << error.what();
            }
        }
    }
    const SpeechModelCatalogue& builtIn = SpeechModelCatalogue::builtIn();
    const SpeechModelCatalogueEntry& small = builtIn.entry(SpeechModelCatalogue::defaultModelName);
    EXPECT_EQ(builtIn.url(small), "https://huggingface.co/ggerganov/whisper.cpp/resolve/main/ggml-small.bin");
    for (const SpeechModelCatalogueEntry& entry : builtIn.entries()) {
        EXPECT_EQ(entry.name.find(".en"), std::string::npos) << entry.name << " is English-only";
        EXPECT_EQ(entry.sha1.size(), 40u) << entry.name;
        EXPECT_GT(entry.publishedBytes, 0) << entry.name;
    }
}

}  // namespace
}  // namespace pelora
