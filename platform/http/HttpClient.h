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

    // A body arriving slower than this on average over a whole window ends the transfer
    // as a timeout (a network error): a trickling server cannot keep it going for ever.
    // Off while the window is zero.
    struct MinimumRate {
        std::int64_t bytesPerSecond = 0;
        std::chrono::milliseconds window{0};
    };
    MinimumRate minimumRate;
    long maxRedirects = 10;
    bool httpsRedirectsOnly = false;  // a redirect to anything but https fails the transfer
    // PEM file of the certificate authorities to trust instead of the system's; empty = system.
    std::string certificateAuthorities;
};

// How a download that continues a partial file went.
struct ContinuedDownload {
    long status = 0;
    std::int64_t resumedFrom = 0;  // bytes kept from before; 0 when the file started over
    std::int64_t fileBytes = 0;    // bytes in the file afterwards
    bool ok() const { return status >= 200 && status <= 299; }
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

    // GET into `file`, continuing what it already holds: when it has bytes, only the rest
    // is asked for with a range request and appended; a server that answers with the
    // whole body (200) makes the file start over. The file stays whatever happens, so a
    // later call continues it; for a non-2xx status it is left as it was. A 206 answer for
    // another range than the one asked for fails as a transport error. `onProgress`
    // receives (bytes in the file, whole size or -1); `onBody` (may be empty) sees every
    // byte written, with its offset in the file (offset 0 again after a start-over).
    using BodyObserver = std::function<void(std::int64_t offset, std::string_view bytes)>;
    static ContinuedDownload continueDownload(const std::string& url, const std::filesystem::path& file,
                                              const Options& options = {}, const BodyObserver& onBody = {});

    // POST of a JSON body ("Content-Type: application/json" is added); the body of
    // the reply is kept whatever the status.
    static Response postJson(const std::string& url, std::string_view json, const Options& options = {});

    // `reference` resolved against `base` (RFC 3986); none when either is not a valid URL.
    static std::optional<std::string> resolve(std::string_view base, std::string_view reference);

    // Percent-encodes everything outside the unreserved characters, keeping "/".
    static std::string escapePath(std::string_view path);
};

}  // namespace pelora::http
