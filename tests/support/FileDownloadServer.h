#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace pelora::testing {

// A file server on 127.0.0.1 (HTTP, or HTTPS with a certificate made for 127.0.0.1)
// for download tests: it serves byte strings by path with or without honouring range
// requests, redirects, cuts a transfer short or trickles it, and records each request
// with its Range header.
class FileDownloadServer {
public:
    // A self-signed certificate for 127.0.0.1, made with the openssl tool; the
    // certificate file doubles as the only authority a client needs to trust.
    struct Certificate {
        std::filesystem::path certificate;
        std::filesystem::path key;
        static Certificate makeIn(const std::filesystem::path& folder);
    };

    struct Request {
        std::string path;
        std::string range;  // the Range header, empty when none
    };

    explicit FileDownloadServer(std::optional<Certificate> tls = std::nullopt);
    ~FileDownloadServer();
    FileDownloadServer(const FileDownloadServer&) = delete;
    FileDownloadServer& operator=(const FileDownloadServer&) = delete;

    std::string baseURL() const;  // "http(s)://127.0.0.1:<port>"
    std::string url(const std::string& path) const { return baseURL() + path; }

    void serve(const std::string& path, std::string bytes);
    void redirect(const std::string& path, std::string location, int status = 302);
    void honourRanges(bool honour) { honourRanges_ = honour; }
    // The next transfer of a file sends this many body bytes and closes the connection.
    void cutNextTransferAfter(std::size_t bytes);
    // Every transfer sends one byte, then waits this long before the next (zero: no wait).
    void trickle(std::chrono::milliseconds perByte) { trickle_ = perByte; }

    std::vector<Request> requests() const;
    std::size_t requestCount(const std::string& path) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    bool tls_ = false;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<const std::string>> files_;
    std::map<std::string, std::pair<int, std::string>> redirects_;
    std::optional<std::size_t> cutAfter_;
    std::vector<Request> requests_;
    std::atomic<bool> honourRanges_{true};
    std::atomic<std::chrono::milliseconds> trickle_{std::chrono::milliseconds(0)};
    std::atomic<bool> stopping_{false};
};

}  // namespace pelora::testing
