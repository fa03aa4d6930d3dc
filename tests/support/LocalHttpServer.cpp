#include "tests/support/LocalHttpServer.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <stdexcept>

#include <httplib.h>

namespace pelora::testing {

namespace {

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

struct LocalHttpServer::Impl {
    httplib::Server server;
};

std::string LocalHttpServer::Request::header(std::string_view name) const {
    for (const auto& [key, value] : headers)
        if (sameName(key, name)) return value;
    return {};
}

LocalHttpServer::Reply LocalHttpServer::Reply::ok(std::string body, std::string contentType) {
    Reply reply;
    reply.body = std::move(body);
    reply.contentType = std::move(contentType);
    return reply;
}

LocalHttpServer::Reply LocalHttpServer::Reply::withStatus(int code, std::string body) {
    Reply reply;
    reply.status = code;
    reply.body = std::move(body);
    reply.contentType = "text/plain";
    return reply;
}

LocalHttpServer::Reply LocalHttpServer::Reply::withHeader(std::string name, std::string value) const {
    Reply reply = *this;
    reply.headers.emplace_back(std::move(name), std::move(value));
    return reply;
}

LocalHttpServer::Reply LocalHttpServer::Reply::after(std::chrono::milliseconds wait) const {
    Reply reply = *this;
    reply.delay = wait;
    return reply;
}

LocalHttpServer::Reply LocalHttpServer::Reply::droppedAfter(std::size_t bytes) const {
    Reply reply = *this;
    reply.dropAfterBytes = bytes;
    return reply;
}

LocalHttpServer::LocalHttpServer() : impl_(std::make_unique<Impl>()) {
    httplib::Server& server = impl_->server;
    server.set_keep_alive_timeout(1);
    auto handle = [this](const httplib::Request& in, httplib::Response& out) {
        Request request;
        request.method = in.method;
        request.path = in.path;
        for (const auto& [key, value] : in.headers) request.headers.emplace_back(key, value);
        request.body = in.body;
        Reply reply = answer(request);
        if (!waitUnlessStopping(reply.delay)) {
            out.status = 503;
            return;
        }
        out.status = reply.status;
        for (const auto& [key, value] : reply.headers) out.set_header(key, value);
        if (!reply.dropAfterBytes) {
            out.set_content(reply.body, reply.contentType);
            return;
        }
        const std::size_t cut = std::min(*reply.dropAfterBytes, reply.body.size());
        auto body = std::make_shared<std::string>(std::move(reply.body));
        out.set_content_provider(body->size(), reply.contentType,
                                 [body, cut](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                     if (offset < cut) sink.write(body->data() + offset, cut - offset);
                                     return false;  // closes the connection short of the announced length
                                 });
    };
    server.Get(".*", handle);
    server.Post(".*", handle);
    server.Put(".*", handle);
    server.Delete(".*", handle);
    port_ = server.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("LocalHttpServer: cannot bind 127.0.0.1");
    auto ended = std::make_shared<std::atomic<bool>>(false);
    thread_ = std::thread([&server, ended] {
        server.listen_after_bind();
        *ended = true;
    });
    // stop() only takes effect once the accept loop runs, so the destructor must not race it.
    while (!server.is_running() && !*ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (*ended) {
        thread_.join();
        throw std::runtime_error("LocalHttpServer: cannot listen on 127.0.0.1");
    }
}

LocalHttpServer::~LocalHttpServer() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    stopping_.notify_all();
    impl_->server.stop();
    if (thread_.joinable()) thread_.join();
}

std::string LocalHttpServer::baseURL() const { return "http://127.0.0.1:" + std::to_string(port_); }

void LocalHttpServer::route(const std::string& method, const std::string& path, Handler handler) {
    std::lock_guard lock(mutex_);
    routes_[{method, path}] = std::move(handler);
}

void LocalHttpServer::serve(const std::string& path, Reply reply) {
    route("GET", path, [reply = std::move(reply)](const Request&) { return reply; });
}

void LocalHttpServer::clearRoutes() {
    std::lock_guard lock(mutex_);
    routes_.clear();
}

std::vector<LocalHttpServer::Request> LocalHttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t LocalHttpServer::requestCount(std::string_view path) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(requests_.begin(), requests_.end(), [&](const Request& r) { return r.path == path; }));
}

void LocalHttpServer::clearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

LocalHttpServer::Reply LocalHttpServer::answer(const Request& request) {
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        auto found = routes_.find({request.method, request.path});
        if (found == routes_.end()) return Reply::withStatus(404, "not found");
        handler = found->second;
    }
    return handler(request);  // outside the lock: a handler may inspect the server
}

bool LocalHttpServer::waitUnlessStopping(std::chrono::milliseconds delay) {
    std::unique_lock lock(mutex_);
    if (delay.count() > 0) stopping_.wait_for(lock, delay, [this] { return stopped_; });
    return !stopped_;
}

}  // namespace pelora::testing
