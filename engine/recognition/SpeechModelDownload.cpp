#include "engine/recognition/SpeechModelDownload.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <fstream>
#include <system_error>
#include <vector>

#include "platform/http/HttpError.h"
#include "platform/http/Sha1.h"

namespace pelora {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kMB = 1024.0 * 1024.0;
// Published sizes are rounded; the space check leaves room for that.
constexpr double kSpaceMargin = 1.05;

std::string megabytes(double bytes) { return std::to_string(static_cast<std::int64_t>(std::ceil(bytes / kMB))); }

std::string lowerTrimmed(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (!std::isspace(static_cast<unsigned char>(c))) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

speech::SpeechRecognitionError failure(const std::string& detail, const fs::path& folder,
                                       const SpeechModelCatalogueEntry& entry, const std::string& url) {
    return speech::SpeechRecognitionError(
        "日本語音声認識モデルをダウンロードできませんでした (" + detail + ")。ネットワークにつながらない場合は " + url +
        " を別の機器でダウンロードし、" + (folder / entry.fileName()).string() + " に置いてください。");
}

// Rate over the last few seconds, so that the time left follows the network as it is now.
class ProgressReporter {
public:
    ProgressReporter(const speech::AssetProgressCallback& callback, std::string fileName, std::chrono::milliseconds interval)
        : callback_(callback), interval_(interval) {
        progress_.fileName = std::move(fileName);
    }

    void update(std::int64_t received, std::int64_t total, bool force = false) {
        if (!callback_) return;
        const Clock::time_point now = Clock::now();
        if (!started_) {
            started_ = true;
            sampleTime_ = now;
            sampleBytes_ = received;
            lastReport_ = now - interval_;
        }
        const double elapsed = std::chrono::duration<double>(now - sampleTime_).count();
        if (elapsed >= 1.0) {
            const double rate = static_cast<double>(received - sampleBytes_) / elapsed;
            progress_.bytesPerSecond = progress_.bytesPerSecond > 0 ? 0.5 * progress_.bytesPerSecond + 0.5 * rate : rate;
            sampleTime_ = now;
            sampleBytes_ = received;
        }
        progress_.receivedBytes = received;
        progress_.totalBytes = total;
        progress_.secondsLeft = progress_.bytesPerSecond > 0 && total >= received
                                    ? static_cast<double>(total - received) / progress_.bytesPerSecond
                                    : -1;
        if (!force && now - lastReport_ < interval_) return;
        lastReport_ = now;
        callback_(progress_);
    }

private:
    const speech::AssetProgressCallback& callback_;
    std::chrono::milliseconds interval_;
    speech::AssetDownloadProgress progress_;
    bool started_ = false;
    Clock::time_point sampleTime_{};
    std::int64_t sampleBytes_ = 0;
    Clock::time_point lastReport_{};
};

// SHA-1 computed on its own thread while the transfer goes on, so that verifying costs
// the download no time on a fast link. At most `kMaxQueued` bytes wait (the file is
// streamed, never held in memory); a full queue makes the transfer wait for the digest.
class BackgroundSha1 {
public:
    BackgroundSha1() : worker_([this](std::stop_token) { run(); }) {}
    ~BackgroundSha1() {
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
        }
        changed_.notify_all();
    }

    void update(std::string_view bytes) {
        if (bytes.empty()) return;
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return queuedBytes_ < kMaxQueued; });
        queue_.emplace_back(bytes);
        queuedBytes_ += bytes.size();
        changed_.notify_all();
    }

    // Forgets everything fed so far.
    void reset() {
        std::lock_guard lock(mutex_);
        queue_.clear();
        queuedBytes_ = 0;
        queue_.emplace_back();  // an empty piece is the marker
        resetPending_ = true;
        changed_.notify_all();
    }

    // The digest of everything fed since the last reset; waits for the queue to drain.
    std::string hex() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return queue_.empty() && !busy_; });
        return digest_.hex();
    }

private:
    static constexpr std::size_t kMaxQueued = 16u << 20;

    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return closed_ || !queue_.empty(); });
            if (queue_.empty()) return;  // closed
            std::string piece = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
            const bool restart = piece.empty() && resetPending_;
            if (restart) resetPending_ = false;
            lock.unlock();
            if (restart) {
                digest_.reset();
            } else {
                digest_.update(piece);
            }
            lock.lock();
            queuedBytes_ -= piece.size();
            busy_ = false;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> queue_;
    std::size_t queuedBytes_ = 0;
    bool busy_ = false;
    bool closed_ = false;
    bool resetPending_ = false;
    http::Sha1 digest_;
    std::jthread worker_;  // last: stopped and joined before the rest goes
};

// Feeds the digest with what the file already holds.
bool hashPrefix(const fs::path& file, std::int64_t length, BackgroundSha1& digest) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> block(1 << 20);
    while (length > 0 && in) {
        in.read(block.data(), static_cast<std::streamsize>(std::min<std::int64_t>(length, static_cast<std::int64_t>(block.size()))));
        const std::streamsize n = in.gcount();
        if (n <= 0) break;
        digest.update(std::string_view(block.data(), static_cast<std::size_t>(n)));
        length -= n;
    }
    return length == 0;
}

}  // namespace

fs::path SpeechModelDownload::install(const fs::path& folder, const SpeechModelCatalogueEntry& entry,
                                      const std::string& url, const Options& options) {
    fs::create_directories(folder);
    const fs::path destination = folder / entry.fileName();
    const fs::path partial = folder / (entry.fileName() + partialSuffix);

    std::error_code error;
    std::int64_t kept = fs::exists(partial, error) ? static_cast<std::int64_t>(fs::file_size(partial, error)) : 0;
    if (error) kept = 0;
    const double needed = std::max(0.0, static_cast<double>(entry.publishedBytes) * kSpaceMargin - static_cast<double>(kept));
    std::int64_t available = 0;
    if (options.freeSpace) {
        available = options.freeSpace(folder);
    } else {
        const fs::space_info space = fs::space(folder, error);
        available = error ? INT64_MAX : static_cast<std::int64_t>(space.available);
    }
    if (static_cast<double>(available) < needed) {
        throw speech::SpeechRecognitionError("空き容量が足りません: " + folder.string() + " に " + entry.fileName() + " の " +
                                             megabytes(needed) + " MB が必要ですが、空きは " +
                                             megabytes(static_cast<double>(available)) + " MB です。");
    }

    BackgroundSha1 digest;
    std::int64_t hashed = 0;
    if (kept > 0 && hashPrefix(partial, kept, digest)) {
        hashed = kept;
    } else if (kept > 0) {
        fs::remove(partial, error);  // unreadable: start over
        digest.reset();
    }
    const http::HttpClient::BodyObserver observe = [&](std::int64_t offset, std::string_view bytes) {
        if (offset != hashed) {
            if (offset != 0) throw std::runtime_error("download out of order");
            digest.reset();  // the server sent the whole file again
            hashed = 0;
        }
        digest.update(bytes);
        hashed += static_cast<std::int64_t>(bytes.size());
    };

    ProgressReporter reporter(options.onProgress, entry.fileName(), options.progressInterval);
    http::HttpClient::Options request;
    request.connectTimeout = std::chrono::seconds(30);
    request.minimumRate = options.minimumRate;
    request.httpsRedirectsOnly = true;
    request.maxRedirects = maxRedirects;
    request.certificateAuthorities = options.certificateAuthorities;
    std::int64_t total = -1;
    request.onProgress = [&](std::int64_t done, std::int64_t whole) {
        total = whole;
        reporter.update(done, whole);
    };

    std::string actual;
    try {
        for (int attempt = 0;; ++attempt) {
            const http::ContinuedDownload result = http::HttpClient::continueDownload(url, partial, request, observe);
            if (result.status == 416 && attempt == 0) {
                // Asked for bytes past the end: the partial file may already be whole.
                const std::optional<std::string> whole = http::Sha1::ofFile(partial);
                if (whole && *whole == lowerTrimmed(entry.sha1)) {
                    actual = *whole;
                    break;
                }
                fs::remove(partial, error);
                digest.reset();
                hashed = 0;
                continue;
            }
            if (!result.ok()) throw failure("HTTP " + std::to_string(result.status) + ": " + url, folder, entry, url);
            actual = digest.hex();
            break;
        }
    } catch (const http::HttpError& transfer) {
        throw failure(transfer.what(), folder, entry, url);
    }

    if (actual != lowerTrimmed(entry.sha1)) {
        fs::remove(partial, error);
        throw failure("Downloaded file failed SHA-1 verification: " + entry.fileName(), folder, entry, url);
    }
    fs::rename(partial, destination);
    const std::int64_t size = static_cast<std::int64_t>(fs::file_size(destination, error));
    reporter.update(size, total > 0 ? total : size, /*force=*/true);
    return destination;
}

}  // namespace pelora
