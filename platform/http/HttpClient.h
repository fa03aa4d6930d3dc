#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/http/HttpError.h"

namespace pelora::http {

struct RequestOptions {
    std::vector<std::pair<std::string, std::string>> headers;  // name, value
    std::chrono::milliseconds connectTimeout{30000};
    std::chrono::milliseconds totalTimeout{0};  // whole request; 0 = no limit
    std::chrono::milliseconds stallTimeout{0};  // longest wait for the next byte; 0 = no limit
    std::int64_t maxBytes = -1;                 // a longer body aborts the transfer; < 0 = no limit
    // Called on the calling thread as body bytes arrive: (received, expected or -1 when unknown).
    std::function<void(std::int64_t, std::int64_t)> onProgress;
    std::stop_token stopToken;  // a stop request cancels the transfer promptly
};

struct Response {
    long status = 0;
    std::string body;
    bool ok() const { return status >= 200 && status <= 299; }
};

// Blocking HTTP(S) requests, one at a time per call, on the calling thread. Redirects
// are followed; only http and https are spoken; TLS peers are verified.
// Failures to get a complete response throw HttpError; an HTTP error status is
// returned to the caller, who decides what it means.
class HttpClient {
public:
    using Options = RequestOptions;

    // GET into memory; the body is kept whatever the status.
    static Response get(const std::string& url, const Options& options = {});

    // GET into `file` (created or truncated). Returns the status. The file holds the
    // body only for a 2xx status; for any other status, and when the transfer throws,
    // the file is removed. `maxBytes` applies to a 2xx body.
    static long download(const std::string& url, const std::filesystem::path& file, const Options& options = {});

    // POST of a JSON body ("Content-Type: application/json" is added); the body of
    // the reply is kept whatever the status.
    static Response postJson(const std::string& url, std::string_view json, const Options& options = {});

    // `reference` resolved against `base` (RFC 3986); none when either is not a valid URL.
    static std::optional<std::string> resolve(std::string_view base, std::string_view reference);

    // Percent-encodes everything outside the unreserved characters, keeping "/".
    static std::string escapePath(std::string_view path);
};

}  // namespace pelora::http
