#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace pelora::testing {

// A real HTTP server on 127.0.0.1 with an ephemeral port, running on its own threads
// for the life of the object. Tests script the answer per method and path, and read
// back every request it received. Unscripted paths answer 404.
class LocalHttpServer {
public:
    struct Request {
        std::string method;
        std::string path;  // without the query
        std::vector<std::pair<std::string, std::string>> headers;
        std::string body;
        // First value of a header, compared case-insensitively; empty when absent.
        std::string header(std::string_view name) const;
    };

    struct Reply {
        int status = 200;
        std::string body;
        std::string contentType = "application/octet-stream";
        std::vector<std::pair<std::string, std::string>> headers;
        std::chrono::milliseconds delay{0};  // wait before answering (cut short when the server stops)
        // Announce the whole body but close the connection after this many bytes of it.
        std::optional<std::size_t> dropAfterBytes;

        static Reply ok(std::string body, std::string contentType = "application/octet-stream");
        static Reply withStatus(int code, std::string body = {});
        Reply withHeader(std::string name, std::string value) const;
        Reply after(std::chrono::milliseconds wait) const;
        Reply droppedAfter(std::size_t bytes) const;
    };

    using Handler = std::function<Reply(const Request&)>;

    LocalHttpServer();   // listening when the constructor returns
    ~LocalHttpServer();  // stops and joins its threads
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    int port() const { return port_; }
    std::string baseURL() const;  // "http://127.0.0.1:<port>"
    std::string url(std::string_view path) const { return baseURL() + std::string(path); }

    void route(const std::string& method, const std::string& path, Handler handler);
    void serve(const std::string& path, Reply reply);  // GET answered with a fixed reply
    void clearRoutes();

    std::vector<Request> requests() const;
    std::size_t requestCount(std::string_view path) const;
    void clearRequests();

private:
    struct Impl;
    Reply answer(const Request& request);
    bool waitUnlessStopping(std::chrono::milliseconds delay);

    std::unique_ptr<Impl> impl_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable stopping_;
    bool stopped_ = false;
    std::map<std::pair<std::string, std::string>, Handler> routes_;
    std::vector<Request> requests_;
};

}  // namespace pelora::testing
