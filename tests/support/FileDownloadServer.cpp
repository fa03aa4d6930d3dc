#include "tests/support/FileDownloadServer.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

#include <httplib.h>

#include "tests/support/RunCommand.h"

namespace pelora::testing {

namespace fs = std::filesystem;

struct FileDownloadServer::Impl {
    std::unique_ptr<httplib::Server> server;
};

FileDownloadServer::Certificate FileDownloadServer::Certificate::makeIn(const fs::path& folder) {
    Certificate made{folder / "server.crt", folder / "server.key"};
    runChecked({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1",
                "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", made.key.string(), "-out",
                made.certificate.string()});
    return made;
}

namespace {

// "bytes=<first>-" as the only form clients of ours send; none for anything else.
std::optional<std::size_t> rangeStart(const std::string& header) {
    constexpr std::string_view prefix = "bytes=";
    if (header.rfind(prefix, 0) != 0) return std::nullopt;
    std::size_t first = 0;
    const char* begin = header.data() + prefix.size();
    const char* end = header.data() + header.size();
    const auto parsed = std::from_chars(begin, end, first);
    if (parsed.ec != std::errc() || parsed.ptr == end || *parsed.ptr != '-') return std::nullopt;
    return first;
}

}  // namespace

FileDownloadServer::FileDownloadServer(std::optional<Certificate> tls) : impl_(std::make_unique<Impl>()) {
    tls_ = tls.has_value();
    if (tls) {
        impl_->server = std::make_unique<httplib::SSLServer>(tls->certificate.c_str(), tls->key.c_str());
    } else {
        impl_->server = std::make_unique<httplib::Server>();
    }
    httplib::Server& server = *impl_->server;
    if (!server.is_valid()) throw std::runtime_error("FileDownloadServer: cannot set up TLS");
    server.set_keep_alive_timeout(1);
    server.Get(".*", [this](const httplib::Request& in, httplib::Response& out) {
        const std::string range = in.get_header_value("Range");
        // Ranges are answered here, or ignored on purpose: the library must not apply them.
        const_cast<httplib::Request&>(in).ranges.clear();
        std::shared_ptr<const std::string> file;
        std::optional<std::size_t> cut;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back({in.path, range});
            if (const auto redirect = redirects_.find(in.path); redirect != redirects_.end()) {
                out.status = redirect->second.first;
                out.set_header("Location", redirect->second.second);
                return;
            }
            const auto found = files_.find(in.path);
            if (found == files_.end()) {
                out.status = 404;
                out.set_content("not found", "text/plain");
                return;
            }
            file = found->second;
            std::swap(cut, cutAfter_);
        }
        std::size_t start = 0;
        if (honourRanges_ && !range.empty()) {
            const std::optional<std::size_t> first = rangeStart(range);
            if (!first || *first >= file->size()) {
                out.status = 416;
                out.set_header("Content-Range", "bytes */" + std::to_string(file->size()));
                return;
            }
            start = *first;
            out.status = 206;
            out.set_header("Content-Range", "bytes " + std::to_string(start) + "-" + std::to_string(file->size() - 1) +
                                                "/" + std::to_string(file->size()));
        } else {
            out.status = 200;
        }
        out.set_header("Accept-Ranges", honourRanges_ ? "bytes" : "none");
        const std::size_t length = file->size() - start;
        const std::size_t limit = cut ? std::min(*cut, length) : length;
        const std::chrono::milliseconds perByte = trickle_.load();
        out.set_content_provider(
            length, "application/octet-stream",
            [this, file, start, limit, perByte](std::size_t offset, std::size_t available, httplib::DataSink& sink) {
                if (stopping_ || offset >= limit) return false;  // closes the connection short of the length
                if (perByte.count() > 0) {
                    std::this_thread::sleep_for(perByte);
                    return sink.write(file->data() + start + offset, 1);
                }
                const std::size_t n = std::min({available, limit - offset, std::size_t(1) << 20});
                return sink.write(file->data() + start + offset, n);
            });
    });
    port_ = server.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("FileDownloadServer: cannot bind 127.0.0.1");
    auto ended = std::make_shared<std::atomic<bool>>(false);
    thread_ = std::thread([&server, ended] {
        server.listen_after_bind();
        *ended = true;
    });
    while (!server.is_running() && !*ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (*ended) {
        thread_.join();
        throw std::runtime_error("FileDownloadServer: cannot listen on 127.0.0.1");
    }
}

FileDownloadServer::~FileDownloadServer() {
    stopping_ = true;
    impl_->server->stop();
    if (thread_.joinable()) thread_.join();
}

std::string FileDownloadServer::baseURL() const {
    return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

void FileDownloadServer::serve(const std::string& path, std::string bytes) {
    std::lock_guard lock(mutex_);
    files_[path] = std::make_shared<const std::string>(std::move(bytes));
}

void FileDownloadServer::redirect(const std::string& path, std::string location, int status) {
    std::lock_guard lock(mutex_);
    redirects_[path] = {status, std::move(location)};
}

void FileDownloadServer::cutNextTransferAfter(std::size_t bytes) {
    std::lock_guard lock(mutex_);
    cutAfter_ = bytes;
}

std::vector<FileDownloadServer::Request> FileDownloadServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t FileDownloadServer::requestCount(const std::string& path) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(requests_.begin(), requests_.end(), [&](const Request& r) { return r.path == path; }));
}

}  // namespace pelora::testing
