#include "platform/http/HttpClient.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/LocalHttpServer.h"
#include "tests/support/TempDir.h"

namespace pelora::http {
namespace {

using namespace std::chrono_literals;
using pelora::testing::LocalHttpServer;
using pelora::testing::readFile;
using pelora::testing::TempDir;
using Reply = LocalHttpServer::Reply;

std::string pattern(std::size_t size) {
    std::string bytes;
    for (std::size_t i = 0; i < size; ++i) bytes.push_back(static_cast<char>('a' + i % 26));
    return bytes;
}

HttpClient::Options withMaxBytes(std::int64_t maxBytes) {
    HttpClient::Options options;
    options.maxBytes = maxBytes;
    return options;
}

// Runs `call` expecting an HttpError of `kind`; returns how long it took.
template <typename Call>
std::chrono::milliseconds expectHttpError(HttpError::Kind kind, Call call) {
    const auto start = std::chrono::steady_clock::now();
    try {
        call();
        ADD_FAILURE() << "expected an HttpError";
    } catch (const HttpError& error) {
        EXPECT_EQ(error.kind(), kind) << error.what();
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

class HttpClientTest : public ::testing::Test {
protected:
    LocalHttpServer server;
    TempDir dir;
};

TEST_F(HttpClientTest, GetKeepsBodyAndStatusOfAnyAnswer) {
    server.serve("/ok", Reply::ok("hello"));
    server.serve("/gone", Reply::withStatus(410, "gone for good"));
    HttpClient::Options options;
    options.headers = {{"X-Probe", "1"}};
    auto ok = HttpClient::get(server.url("/ok"), options);
    EXPECT_EQ(ok.status, 200);
    EXPECT_TRUE(ok.ok());
    EXPECT_EQ(ok.body, "hello");
    auto gone = HttpClient::get(server.url("/gone"));
    EXPECT_EQ(gone.status, 410);
    EXPECT_FALSE(gone.ok());
    EXPECT_EQ(gone.body, "gone for good");
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[0].method, "GET");
    EXPECT_EQ(server.requests()[0].header("x-probe"), "1");
}

TEST_F(HttpClientTest, GetFollowsRedirects) {
    server.serve("/old", Reply::withStatus(302).withHeader("Location", "/new"));
    server.serve("/new", Reply::ok("moved here"));
    auto response = HttpClient::get(server.url("/old"));
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, "moved here");
}

TEST_F(HttpClientTest, DownloadWritesBodyAndReportsProgress) {
    const std::string body = pattern(300000);
    server.serve("/file.bin", Reply::ok(body));
    std::int64_t last = 0;
    std::int64_t expectedSeen = 0;
    int calls = 0;
    HttpClient::Options options;
    options.onProgress = [&](std::int64_t received, std::int64_t expected) {
        EXPECT_GT(received, last) << "progress must grow";
        last = received;
        expectedSeen = expected;
        ++calls;
    };
    const long status = HttpClient::download(server.url("/file.bin"), dir / "file.bin", options);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(readFile(dir / "file.bin"), body);
    EXPECT_GE(calls, 1);
    EXPECT_EQ(last, 300000);
    EXPECT_EQ(expectedSeen, 300000);
}

TEST_F(HttpClientTest, DownloadOfBodyWithinTheLimitSucceeds) {
    server.serve("/exact.bin", Reply::ok(pattern(4096)));
    EXPECT_EQ(HttpClient::download(server.url("/exact.bin"), dir / "exact.bin", withMaxBytes(4096)), 200);
    EXPECT_EQ(std::filesystem::file_size(dir / "exact.bin"), 4096u);
}

TEST_F(HttpClientTest, DownloadWithErrorStatusLeavesNoFile) {
    server.serve("/missing.bin", Reply::withStatus(404, pattern(100000)));
    EXPECT_EQ(HttpClient::download(server.url("/missing.bin"), dir / "missing.bin"), 404);
    EXPECT_FALSE(std::filesystem::exists(dir / "missing.bin"));
}

TEST_F(HttpClientTest, FailedDownloadsThrowAndLeaveNoFile) {
    struct Case {
        const char* name;
        Reply reply;
        std::int64_t maxBytes;
        HttpError::Kind kind;
    };
    const Case cases[] = {
        {"dropped mid-body", Reply::ok(pattern(200000)).droppedAfter(70000), -1, HttpError::Kind::transport},
        {"announced length over the limit", Reply::ok(pattern(5000)), 4999, HttpError::Kind::tooLarge},
        {"dropped body over the limit", Reply::ok(pattern(200000)).droppedAfter(150000), 100000,
         HttpError::Kind::tooLarge},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.serve("/f.bin", c.reply);
        expectHttpError(c.kind,
                        [&] { HttpClient::download(server.url("/f.bin"), dir / "f.bin", withMaxBytes(c.maxBytes)); });
        EXPECT_FALSE(std::filesystem::exists(dir / "f.bin"));
    }
}

TEST_F(HttpClientTest, DownloadIntoMissingFolderIsAFileError) {
    server.serve("/f.bin", Reply::ok("x"));
    expectHttpError(HttpError::Kind::file,
                    [&] { HttpClient::download(server.url("/f.bin"), dir / "no" / "such" / "f.bin"); });
}

TEST_F(HttpClientTest, GetBeyondTheLimitIsTooLarge) {
    server.serve("/big", Reply::ok(pattern(10000)));
    expectHttpError(HttpError::Kind::tooLarge, [&] { HttpClient::get(server.url("/big"), withMaxBytes(1000)); });
}

TEST_F(HttpClientTest, PostSendsJsonWithBearerKeyAndReturnsReply) {
    server.route("POST", "/v1/ask", [](const LocalHttpServer::Request& request) {
        Reply reply = Reply::ok("{\"echo\":" + request.body + "}", "application/json");
        if (request.header("Authorization") != "Bearer k-123") reply.status = 401;
        return reply;
    });
    HttpClient::Options options;
    options.headers = {{"Authorization", "Bearer k-123"}};
    options.totalTimeout = 2000ms;
    auto response = HttpClient::postJson(server.url("/v1/ask"), R"({"q":1})", options);
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, R"({"echo":{"q":1}})");
    const auto request = server.requests().at(0);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_EQ(request.body, R"({"q":1})");

    server.route("POST", "/v1/busy", [](const LocalHttpServer::Request&) { return Reply::withStatus(503); });
    EXPECT_EQ(HttpClient::postJson(server.url("/v1/busy"), "{}").status, 503);
}

TEST_F(HttpClientTest, SlowAnswersRunOutOfTime) {
    server.serve("/slow", Reply::ok("late").after(5000ms));
    server.route("POST", "/slow", [](const LocalHttpServer::Request&) { return Reply::ok("late").after(5000ms); });
    HttpClient::Options budget;
    budget.totalTimeout = 150ms;
    HttpClient::Options stall;
    stall.stallTimeout = 150ms;
    struct Case {
        const char* name;
        HttpClient::Options options;
    };
    const Case cases[] = {{"total budget", budget}, {"stall", stall}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto took = expectHttpError(HttpError::Kind::timeout, [&] { HttpClient::get(server.url("/slow"), c.options); });
        EXPECT_LT(took, 2000ms);
    }
    auto took =
        expectHttpError(HttpError::Kind::timeout, [&] { HttpClient::postJson(server.url("/slow"), "{}", budget); });
    EXPECT_LT(took, 2000ms);
}

TEST_F(HttpClientTest, StopRequestCancelsAWaitingTransferPromptly) {
    server.route("POST", "/slow", [](const LocalHttpServer::Request&) { return Reply::ok("").after(5000ms); });
    std::stop_source stop;
    std::jthread canceller([&] {
        std::this_thread::sleep_for(100ms);
        stop.request_stop();
    });
    HttpClient::Options options;
    options.stopToken = stop.get_token();
    auto took =
        expectHttpError(HttpError::Kind::cancelled, [&] { HttpClient::postJson(server.url("/slow"), "{}", options); });
    EXPECT_LT(took, 2000ms);
}

TEST_F(HttpClientTest, AlreadyStoppedRequestSendsNothing) {
    std::stop_source stop;
    stop.request_stop();
    HttpClient::Options options;
    options.stopToken = stop.get_token();
    expectHttpError(HttpError::Kind::cancelled, [&] { HttpClient::postJson(server.url("/any"), "{}", options); });
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(HttpClientTest, UnreachableOrForbiddenTargetsAreTransportErrors) {
    std::string closedPort;
    {
        LocalHttpServer gone;
        closedPort = gone.url("/x");
    }
    const std::string urls[] = {closedPort, "file:///etc/hostname", "not a url"};
    for (const std::string& url : urls) {
        SCOPED_TRACE(url);
        expectHttpError(HttpError::Kind::transport, [&] { HttpClient::get(url); });
    }
}

TEST(HttpClientResolveTest, ResolvesReferencesAgainstBase) {
    struct Case {
        const char* base;
        const char* reference;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"https://h.example/models/", "a/b.bin", "https://h.example/models/a/b.bin"},
        {"https://h.example/models/", "/other/c.bin", "https://h.example/other/c.bin"},
        {"https://h.example/models/", "../v4/d.bin", "https://h.example/v4/d.bin"},
        {"https://h.example/models/", "http://127.0.0.1:8/e.bin", "http://127.0.0.1:8/e.bin"},
        {"not a url", "a.bin", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HttpClient::resolve(c.base, c.reference), c.expected) << c.base << " + " << c.reference;
    }
}

TEST(HttpClientResolveTest, EscapesPathKeepingSlashes) {
    EXPECT_EQ(HttpClient::escapePath("a b/c%d/é.bin"), "a%20b/c%25d/%C3%A9.bin");
}

}  // namespace
}  // namespace pelora::http
