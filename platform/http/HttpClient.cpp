#include "platform/http/HttpClient.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <system_error>

#include <curl/curl.h>

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
    bool stoppedOnErrorStatus = false;  // a download met a non-2xx status and skipped its body
    std::optional<HttpError> abort;     // why a callback ended the transfer
    std::exception_ptr callbackException;
};

long responseStatus(CURL* easy) {
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

std::size_t onHeader(char*, std::size_t size, std::size_t count, void* user) {
    static_cast<Transfer*>(user)->lastActivity = Clock::now();
    return size * count;
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
    t.received += static_cast<std::int64_t>(n);
    if (t.options->onProgress) {
        try {
            t.options->onProgress(t.received, static_cast<std::int64_t>(expected));
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
        for (;;) {
            if (options.stopToken.stop_requested()) throw failure(HttpError::Kind::cancelled, "request cancelled", url);
            int running = 0;
            CURLMcode code = curl_multi_perform(multi.get(), &running);
            if (code != CURLM_OK) throw failure(HttpError::Kind::transport, curl_multi_strerror(code), url);
            if (running == 0) break;
            if (options.stallTimeout.count() > 0 && Clock::now() - t.lastActivity > options.stallTimeout)
                throw failure(HttpError::Kind::timeout,
                              "no data received for " + std::to_string(options.stallTimeout.count()) + " ms", url);
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
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
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
