#include <chrono>
#include <functional>

#include <gtest/gtest.h>

#include "platform/http/HttpClient.h"
#include "platform/http/Sha1.h"
#include "tests/support/FileDownloadServer.h"
#include "tests/support/TempDir.h"

namespace pelora::http {
namespace {

namespace fs = std::filesystem;
using testing::FileDownloadServer;
using testing::TempDir;

std::string patterned(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xff);
    return bytes;
}

// What the body observer saw: the offset of each piece, and the bytes put together the
// way a digest over the file would see them (starting over at offset 0).
struct Observed {
    std::vector<std::int64_t> offsets;
    std::string file;
    HttpClient::BodyObserver observer() {
        return [this](std::int64_t offset, std::string_view bytes) {
            offsets.push_back(offset);
            file.resize(static_cast<std::size_t>(offset));
            file.append(bytes);
        };
    }
};

TEST(ContinuedDownload, ContinuesAPartialFileOrStartsOverWhenTheServerIgnoresRanges) {
    const std::string body = patterned(300000);
    struct Case {
        const char* name;
        std::size_t alreadyThere;
        bool serverHonoursRanges;
        std::string expectedRange;
        std::int64_t expectedResumedFrom;
    };
    const Case cases[] = {
        {"nothing there yet", 0, true, "", 0},
        {"half there", 150000, true, "bytes=150000-", 150000},
        {"all but one byte there", 299999, true, "bytes=299999-", 299999},
        {"half there, server ignores ranges", 150000, false, "bytes=150000-", 0},
    };
    for (const Case& c : cases) {
        FileDownloadServer server;
        server.serve("/f.bin", body);
        server.honourRanges(c.serverHonoursRanges);
        TempDir dir;
        const fs::path file = dir / "f.bin.partial";
        if (c.alreadyThere > 0) testing::writeFile(file, body.substr(0, c.alreadyThere));
        Observed observed;
        observed.file = body.substr(0, c.alreadyThere);
        std::vector<std::pair<std::int64_t, std::int64_t>> progress;
        HttpClient::Options options;
        options.onProgress = [&](std::int64_t done, std::int64_t total) { progress.emplace_back(done, total); };

        const ContinuedDownload result = HttpClient::continueDownload(server.url("/f.bin"), file, options, observed.observer());
        EXPECT_EQ(result.status, c.serverHonoursRanges && c.alreadyThere > 0 ? 206 : 200) << c.name;
        EXPECT_EQ(result.resumedFrom, c.expectedResumedFrom) << c.name;
        EXPECT_EQ(result.fileBytes, static_cast<std::int64_t>(body.size())) << c.name;
        EXPECT_TRUE(testing::readFile(file) == body) << c.name << ": the file is not byte-identical";
        EXPECT_TRUE(observed.file == body) << c.name << ": the observer did not see the file's bytes";
        ASSERT_FALSE(observed.offsets.empty()) << c.name;
        EXPECT_EQ(observed.offsets.front(), c.expectedResumedFrom) << c.name;
        ASSERT_EQ(server.requests().size(), 1u) << c.name;
        EXPECT_EQ(server.requests()[0].range, c.expectedRange) << c.name;
        ASSERT_FALSE(progress.empty()) << c.name;
        EXPECT_EQ(progress.back(), std::make_pair(static_cast<std::int64_t>(body.size()),
                                                  static_cast<std::int64_t>(body.size())))
            << c.name << ": progress counts the whole file";
    }
}

TEST(ContinuedDownload, ACutTransferKeepsWhatArrivedAndTheNextCallFinishesIt) {
    const std::string body = patterned(400000);
    FileDownloadServer server;
    server.serve("/f.bin", body);
    server.cutNextTransferAfter(body.size() / 2);
    TempDir dir;
    const fs::path file = dir / "f.bin.partial";
    EXPECT_THROW(HttpClient::continueDownload(server.url("/f.bin"), file), HttpError);
    ASSERT_TRUE(fs::exists(file));
    const auto kept = fs::file_size(file);
    EXPECT_GT(kept, 0u);
    EXPECT_LE(kept, body.size() / 2);

    const ContinuedDownload result = HttpClient::continueDownload(server.url("/f.bin"), file);
    EXPECT_EQ(result.status, 206);
    EXPECT_EQ(result.resumedFrom, static_cast<std::int64_t>(kept));
    EXPECT_TRUE(testing::readFile(file) == body);
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[1].range, "bytes=" + std::to_string(kept) + "-");
}

TEST(ContinuedDownload, AnErrorStatusLeavesThePartialFileAsItWas) {
    FileDownloadServer server;
    TempDir dir;
    const fs::path file = dir / "f.bin.partial";
    testing::writeFile(file, "kept");
    const ContinuedDownload result = HttpClient::continueDownload(server.url("/missing.bin"), file);
    EXPECT_EQ(result.status, 404);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(testing::readFile(file), "kept");
}

TEST(ContinuedDownload, RedirectsAreFollowedOnlyToHttpsAndOnlyFiveTimes) {
    TempDir certificates;
    const FileDownloadServer::Certificate certificate = FileDownloadServer::Certificate::makeIn(certificates.path());
    FileDownloadServer secure(certificate);
    FileDownloadServer plain;
    const std::string body = patterned(5000);
    secure.serve("/storage/f.bin", body);
    plain.serve("/storage/f.bin", body);
    // Chains of hops on the secure server ending at the file.
    for (int hops = 1; hops <= 6; ++hops) {
        for (int hop = 0; hop < hops; ++hop) {
            const std::string from = "/chain" + std::to_string(hops) + "/" + std::to_string(hop);
            const std::string to = hop + 1 == hops ? "/storage/f.bin"
                                                   : "/chain" + std::to_string(hops) + "/" + std::to_string(hop + 1);
            secure.redirect(from, secure.url(to));
        }
    }
    plain.redirect("/to-secure", secure.url("/storage/f.bin"));
    plain.redirect("/to-plain", plain.url("/storage/f.bin"));
    secure.redirect("/secure-to-plain", plain.url("/storage/f.bin"));

    struct Case {
        const char* name;
        std::string url;
        bool succeeds;
    };
    const Case cases[] = {
        {"plain to https storage", plain.url("/to-secure"), true},
        {"plain to plain", plain.url("/to-plain"), false},
        {"https to plain", secure.url("/secure-to-plain"), false},
        {"five hops", secure.url("/chain5/0"), true},
        {"six hops", secure.url("/chain6/0"), false},
    };
    HttpClient::Options options;
    options.httpsRedirectsOnly = true;
    options.maxRedirects = 5;
    options.certificateAuthorities = certificate.certificate.string();
    for (const Case& c : cases) {
        TempDir dir;
        const fs::path file = dir / "f.bin.partial";
        if (c.succeeds) {
            try {
                const ContinuedDownload result = HttpClient::continueDownload(c.url, file, options);
                EXPECT_TRUE(result.ok()) << c.name << ": status " << result.status;
                EXPECT_TRUE(testing::readFile(file) == body) << c.name;
            } catch (const HttpError& error) {
                ADD_FAILURE() << c.name << ": " << error.what();
            }
        } else {
            EXPECT_THROW(HttpClient::continueDownload(c.url, file, options), HttpError) << c.name;
            EXPECT_EQ(fs::exists(file) ? fs::file_size(file) : 0u, 0u) << c.name << ": nothing of the body arrived";
        }
    }
}

TEST(ContinuedDownload, ATricklingServerEndsTheTransferAsATimeoutWithProgressMeanwhile) {
    const std::string body = patterned(100000);
    FileDownloadServer server;
    server.serve("/f.bin", body);
    TempDir dir;
    HttpClient::Options options;
    options.minimumRate = {1024, std::chrono::milliseconds(400)};
    int progressCalls = 0;
    options.onProgress = [&](std::int64_t, std::int64_t) { ++progressCalls; };

    // Fast enough: the whole file.
    EXPECT_TRUE(HttpClient::continueDownload(server.url("/f.bin"), dir / "fast.partial", options).ok());

    // One byte every 20 ms is about 50 bytes/s: the transfer ends, it does not go on for ever.
    server.trickle(std::chrono::milliseconds(20));
    progressCalls = 0;
    const auto started = std::chrono::steady_clock::now();
    try {
        HttpClient::continueDownload(server.url("/f.bin"), dir / "slow.partial", options);
        ADD_FAILURE() << "expected a timeout";
    } catch (const HttpError& error) {
        EXPECT_EQ(error.kind(), HttpError::Kind::timeout) << error.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
    EXPECT_GT(progressCalls, 0) << "progress is reported while the bytes trickle in";
    EXPECT_GT(fs::file_size(dir / "slow.partial"), 0u) << "what arrived stays for the next attempt";
}

TEST(Sha1, KnownDigestsOfBytesAndOfFilePrefixes) {
    EXPECT_EQ(Sha1::ofBytes(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(Sha1::ofBytes("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    Sha1 pieces;
    pieces.update("a");
    pieces.update("bc");
    EXPECT_EQ(pieces.hex(), "a9993e364706816aba3e25717850c26c9cd0d89d");
    TempDir dir;
    testing::writeFile(dir / "f", "abcdef");
    EXPECT_EQ(Sha1::ofFile(dir / "f", 3), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(Sha1::ofFile(dir / "f"), Sha1::ofBytes("abcdef"));
    EXPECT_EQ(Sha1::ofFile(dir / "f", 7), std::nullopt) << "shorter than asked";
    EXPECT_EQ(Sha1::ofFile(dir / "missing"), std::nullopt);
}

}  // namespace
}  // namespace pelora::http
