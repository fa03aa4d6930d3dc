#include "platform/http/HttpClient.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <exception>
#include <memory>
#include <system_error>

#include <curl/curl.h>
#include <unistd.h>

namespace pelora::http {

namespace {

using Clock = std::chrono::steady_clock;

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlStringDeleter {
    void operator()(char* text) const { curl_free(text); }
};
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

using Easy = std::unique_ptr<CURL, EasyDeleter>;
using Multi = std::unique_ptr<CURLM, MultiDeleter>;
using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

void initialiseOnce() {
    // Process-wide libcurl set-up must happen once, before any handle exists.
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (result != CURLE_OK) throw HttpError(HttpError::Kind::transport, "libcurl initialisation failed");
}

// Where the body goes and what the transfer has seen so far. Lives on the calling
// thread's stack for one request; libcurl's callbacks run on the same thread.
struct Transfer {
    CURL* easy = nullptr;
    const HttpClient::Options* options = nullptr;
    std::string* memory = nullptr;
    std::FILE* file = nullptr;

    std::int64_t received = 0;
    Clock::time_point lastActivity = Clock::now();

    // Continuing a partial file: where the asked-for range starts, what the final
    // response's Content-Range says, and who sees the bytes.
    bool continuing = false;
    std::int64_t fileOffset = 0;
    std::int64_t contentRangeStart = -1;
    bool bodyStarted = false;
    const HttpClient::BodyObserver* observer = nullptr;
    bool stoppedOnErrorStatus = false;  // a download met a non-2xx status and skipped its body
    std::optional<HttpError> abort;     // why a callback ended the transfer
    std::exception_ptr callbackException;
};

long responseStatus(CURL* easy) {
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    t.lastActivity = Clock::now();
    const std::string_view line(data, size * count);
    if (startsWithIgnoringCase(line, "http/")) {
        t.contentRangeStart = -1;  // a new response (after a redirect or an interim one)
    } else if (startsWithIgnoringCase(line, "content-range:")) {
        // "Content-Range: bytes <first>-<last>/<total>"
        const std::size_t bytes = line.find("bytes");
        if (bytes != std::string_view::npos) {
            std::int64_t first = 0;
            const char* at = line.data() + bytes + 5;
            while (at < line.data() + line.size() && *at == ' ') ++at;
            const auto parsed = std::from_chars(at, line.data() + line.size(), first);
            if (parsed.ec == std::errc() && parsed.ptr < line.data() + line.size() && *parsed.ptr == '-')
                t.contentRangeStart = first;
        }
    }
    return size * count;
}

// The first body bytes of a continued download decide where they go: a 206 for the
// asked-for range is appended, a 200 starts the file over.
bool beginContinuedBody(Transfer& t, long status) {
    t.bodyStarted = true;
    if (status == 206) {
        if (t.contentRangeStart != t.fileOffset) {
            t.abort.emplace(HttpError::Kind::transport,
                            "server answered another range than bytes " + std::to_string(t.fileOffset) + "-");
            return false;
        }
        return true;
    }
    if (t.fileOffset > 0) {
        if (std::fflush(t.file) != 0 || ftruncate(fileno(t.file), 0) != 0) {
            t.abort.emplace(HttpError::Kind::file, std::error_code(errno, std::generic_category()).message());
            return false;
        }
        t.fileOffset = 0;
    }
    return true;
}

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    t.lastActivity = Clock::now();
    const long status = responseStatus(t.easy);
    if (t.file && !(status >= 200 && status <= 299)) {
        // An error page is not the file the caller asked for; stop instead of fetching it.
        t.stoppedOnErrorStatus = true;
        return CURL_WRITEFUNC_ERROR;
    }
    if (t.continuing && !t.bodyStarted && !beginContinuedBody(t, status)) return CURL_WRITEFUNC_ERROR;
    curl_off_t expected = -1;
    curl_easy_getinfo(t.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
    const std::int64_t limit = t.options->maxBytes;
    if (limit >= 0 && (t.received + static_cast<std::int64_t>(n) > limit || expected > limit)) {
        t.abort.emplace(HttpError::Kind::tooLarge, "response body exceeds " + std::to_string(limit) + " bytes");
        return CURL_WRITEFUNC_ERROR;
    }
    if (t.file) {
        if (std::fwrite(data, 1, n, t.file) != n) {
            t.abort.emplace(HttpError::Kind::file, std::error_code(errno, std::generic_category()).message());
            return CURL_WRITEFUNC_ERROR;
        }
    } else {
        t.memory->append(data, n);
    }
    if (t.observer && *t.observer) {
        try {
            (*t.observer)(t.fileOffset + t.received, std::string_view(data, n));
        } catch (...) {
            t.callbackException = std::current_exception();
            return CURL_WRITEFUNC_ERROR;
        }
    }
    t.received += static_cast<std::int64_t>(n);
    if (t.options->onProgress) {
        try {
            if (t.continuing) {
                t.options->onProgress(t.fileOffset + t.received, expected < 0 ? -1 : t.fileOffset + expected);
            } else {
                t.options->onProgress(t.received, static_cast<std::int64_t>(expected));
            }
        } catch (...) {
            // Exceptions must not unwind through libcurl; rethrown once the transfer ends.
            t.callbackException = std::current_exception();
            return CURL_WRITEFUNC_ERROR;
        }
    }
    return n;
}

// Keeps the easy handle attached to the multi handle only while the transfer runs.
class Attachment {
public:
    Attachment(CURLM* multi, CURL* easy) : multi_(multi), easy_(easy) { curl_multi_add_handle(multi_, easy_); }
    ~Attachment() { curl_multi_remove_handle(multi_, easy_); }
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;

private:
    CURLM* multi_;
    CURL* easy_;
};

HttpError failure(HttpError::Kind kind, const std::string& what, const std::string& url) {
    return HttpError(kind, what + ": " + url);
}

// Runs one prepared transfer to its end on the calling thread. The multi interface
// lets a stop request wake the wait at once instead of at libcurl's next progress tick.
void perform(Transfer& t, const std::string& url) {
    Multi multi(curl_multi_init());
    if (!multi) throw failure(HttpError::Kind::transport, "cannot create a transfer", url);
    const HttpClient::Options& options = *t.options;

    CURLcode result = CURLE_OK;
    {
        Attachment attachment(multi.get(), t.easy);
        std::stop_callback wake(options.stopToken, [m = multi.get()] { curl_multi_wakeup(m); });
        t.lastActivity = Clock::now();
        const HttpClient::Options::MinimumRate& minimum = options.minimumRate;
        Clock::time_point windowStart = Clock::now();
        std::int64_t windowStartBytes = 0;
        for (;;) {
            if (options.stopToken.stop_requested()) throw failure(HttpError::Kind::cancelled, "request cancelled", url);
            int running = 0;
            CURLMcode code = curl_multi_perform(multi.get(), &running);
            if (code != CURLM_OK) throw failure(HttpError::Kind::transport, curl_multi_strerror(code), url);
            if (running == 0) break;
            if (options.stallTimeout.count() > 0 && Clock::now() - t.lastActivity > options.stallTimeout)
                throw failure(HttpError::Kind::timeout,
                              "no data received for " + std::to_string(options.stallTimeout.count()) + " ms", url);
            if (minimum.window.count() > 0) {
                const Clock::time_point now = Clock::now();
                if (now - windowStart >= minimum.window) {
                    const double seconds = std::chrono::duration<double>(now - windowStart).count();
                    if (static_cast<double>(t.received - windowStartBytes) < static_cast<double>(minimum.bytesPerSecond) * seconds)
                        throw failure(HttpError::Kind::timeout,
                                      "transfer slower than " + std::to_string(minimum.bytesPerSecond) + " bytes/s for " +
                                          std::to_string(minimum.window.count()) + " ms",
                                      url);
                    windowStart = now;
                    windowStartBytes = t.received;
                }
            }
            curl_multi_poll(multi.get(), nullptr, 0, 50, nullptr);
        }
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == t.easy) result = message->data.result;
        }
    }

    if (t.callbackException) std::rethrow_exception(t.callbackException);
    if (t.abort) throw failure(t.abort->kind(), t.abort->what(), url);
    if (result == CURLE_WRITE_ERROR && t.stoppedOnErrorStatus) return;
    if (result == CURLE_OK) return;
    if (result == CURLE_OPERATION_TIMEDOUT) throw failure(HttpError::Kind::timeout, curl_easy_strerror(result), url);
    throw failure(HttpError::Kind::transport, curl_easy_strerror(result), url);
}

// A configured easy handle; `headers` must outlive the transfer.
Easy prepare(const std::string& url, const HttpClient::Options& options, Transfer& t, HeaderList& headers) {
    initialiseOnce();
    Easy easy(curl_easy_init());
    if (!easy) throw failure(HttpError::Kind::transport, "cannot create a transfer", url);
    CURL* e = easy.get();
    t.easy = e;
    t.options = &options;
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, options.httpsRedirectsOnly ? "https" : "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, options.maxRedirects);
    if (!options.certificateAuthorities.empty())
        curl_easy_setopt(e, CURLOPT_CAINFO, options.certificateAuthorities.c_str());
    curl_easy_setopt(e, CURLOPT_USERAGENT, "PeloraVoice/2");
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeout.count()));
    if (options.totalTimeout.count() > 0)
        curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(options.totalTimeout.count()));
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &t);
    for (const auto& [name, value] : options.headers) {
        const std::string line = name + ": " + value;
        curl_slist* list = curl_slist_append(headers.get(), line.c_str());
        if (!list) throw failure(HttpError::Kind::transport, "cannot build request headers", url);
        if (!headers) headers.reset(list);  // later appends keep the same head
    }
    if (headers) curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
    return easy;
}

}  // namespace

Response HttpClient::get(const std::string& url, const Options& options) {
    Response response;
    Transfer t;
    t.memory = &response.body;
    HeaderList headers;
    Easy easy = prepare(url, options, t, headers);
    curl_easy_setopt(easy.get(), CURLOPT_HTTPGET, 1L);
    perform(t, url);
    response.status = responseStatus(easy.get());
    return response;
}

long HttpClient::download(const std::string& url, const std::filesystem::path& file, const Options& options) {
    std::unique_ptr<std::FILE, FileCloser> out(std::fopen(file.c_str(), "wb"));
    if (!out)
        throw HttpError(HttpError::Kind::file, "cannot create " + file.string() + ": " +
                                                   std::error_code(errno, std::generic_category()).message());
    // Whatever goes wrong below, no partial or foreign body stays behind under the caller's name.
    struct RemoveUnlessKept {
        const std::filesystem::path& file;
        bool keep = false;
        ~RemoveUnlessKept() {
            if (keep) return;
            std::error_code ignored;
            std::filesystem::remove(file, ignored);
        }
    } cleanup{file};

    Transfer t;
    t.file = out.get();
    HeaderList headers;
    Easy easy = prepare(url, options, t, headers);
    curl_easy_setopt(easy.get(), CURLOPT_HTTPGET, 1L);
    perform(t, url);
    const long status = responseStatus(easy.get());
    if (std::fflush(out.get()) != 0 || std::fclose(out.release()) != 0)
        throw HttpError(HttpError::Kind::file, "cannot write " + file.string());
    cleanup.keep = status >= 200 && status <= 299;
    return status;
}

ContinuedDownload HttpClient::continueDownload(const std::string& url, const std::filesystem::path& file,
                                               const Options& options, const BodyObserver& onBody) {
    std::error_code sizeError;
    const auto existing = std::filesystem::exists(file, sizeError) ? std::filesystem::file_size(file, sizeError) : 0;
    if (sizeError)
        throw HttpError(HttpError::Kind::file, "cannot read " + file.string() + ": " + sizeError.message());
    // Appending: every write lands at the end, also after the file starts over.
    std::unique_ptr<std::FILE, FileCloser> out(std::fopen(file.c_str(), "ab"));
    if (!out)
        throw HttpError(HttpError::Kind::file, "cannot open " + file.string() + ": " +
                                                   std::error_code(errno, std::generic_category()).message());

    Transfer t;
    t.file = out.get();
    t.continuing = true;
    t.fileOffset = static_cast<std::int64_t>(existing);
    t.observer = &onBody;
    HeaderList headers;
    Easy easy = prepare(url, options, t, headers);
    curl_easy_setopt(easy.get(), CURLOPT_HTTPGET, 1L);
    // Large files: fewer, larger writes.
    curl_easy_setopt(easy.get(), CURLOPT_BUFFERSIZE, 256L * 1024);
    const std::string range = std::to_string(existing) + "-";
    if (existing > 0) curl_easy_setopt(easy.get(), CURLOPT_RANGE, range.c_str());
    const ContinuedDownload kept{0, t.fileOffset, t.fileOffset};
    try {
        perform(t, url);
    } catch (...) {
        std::fflush(out.get());  // what arrived stays for the next attempt
        throw;
    }
    ContinuedDownload result = kept;
    result.status = responseStatus(easy.get());
    if (std::fflush(out.get()) != 0 || std::fclose(out.release()) != 0)
        throw HttpError(HttpError::Kind::file, "cannot write " + file.string());
    if (result.ok()) {
        result.resumedFrom = t.fileOffset;
        result.fileBytes = t.fileOffset + t.received;
    }
    return result;
}

Response HttpClient::postJson(const std::string& url, std::string_view json, const Options& options) {
    Options withType = options;
    withType.headers.emplace_back("Content-Type", "application/json");
    Response response;
    Transfer t;
    t.memory = &response.body;
    HeaderList headers;
    Easy easy = prepare(url, withType, t, headers);
    curl_easy_setopt(easy.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(json.size()));
    curl_easy_setopt(easy.get(), CURLOPT_COPYPOSTFIELDS, json.data());
    perform(t, url);
    response.status = responseStatus(easy.get());
    return response;
}

std::optional<std::string> HttpClient::resolve(std::string_view base, std::string_view reference) {
    std::unique_ptr<CURLU, UrlDeleter> handle(curl_url());
    if (!handle) return std::nullopt;
    const std::string baseText(base);
    const std::string referenceText(reference);
    if (curl_url_set(handle.get(), CURLUPART_URL, baseText.c_str(), 0) != CURLUE_OK) return std::nullopt;
    // With a URL already set, a relative reference is resolved against it.
    if (curl_url_set(handle.get(), CURLUPART_URL, referenceText.c_str(), 0) != CURLUE_OK) return std::nullopt;
    char* text = nullptr;
    if (curl_url_get(handle.get(), CURLUPART_URL, &text, 0) != CURLUE_OK || !text) return std::nullopt;
    std::unique_ptr<char, CurlStringDeleter> owned(text);
    return std::string(owned.get());
}

std::string HttpClient::escapePath(std::string_view path) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
        if (unreserved) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 0x0f]);
        }
    }
    return out;
}

}  // namespace pelora::http
