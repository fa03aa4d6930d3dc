#include "cli/DownloadProgressLine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace pelora::cli {

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

int percentOf(const speech::AssetDownloadProgress& progress) {
    if (progress.totalBytes <= 0) return -1;
    const double fraction = static_cast<double>(progress.receivedBytes) / static_cast<double>(progress.totalBytes);
    return static_cast<int>(std::clamp(std::floor(fraction * 100.0), 0.0, 100.0));
}

std::string duration(double seconds) {
    const auto whole = static_cast<long long>(std::ceil(seconds));
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    }
    return text;
}

}  // namespace

std::string DownloadProgressLine::text(const speech::AssetDownloadProgress& progress) {
    char buffer[160];
    std::string line = progress.fileName;
    const int percent = percentOf(progress);
    if (percent >= 0) {
        std::snprintf(buffer, sizeof buffer, "  %3d%%  %.1f / %.1f MiB", percent,
                      static_cast<double>(progress.receivedBytes) / kMiB, static_cast<double>(progress.totalBytes) / kMiB);
    } else {
        std::snprintf(buffer, sizeof buffer, "  %.1f MiB", static_cast<double>(progress.receivedBytes) / kMiB);
    }
    line += buffer;
    if (progress.bytesPerSecond > 0) {
        std::snprintf(buffer, sizeof buffer, "  %.1f MiB/s", progress.bytesPerSecond / kMiB);
        line += buffer;
    }
    if (progress.secondsLeft >= 0 && percent < 100) line += "  " + duration(progress.secondsLeft) + " left";
    return line;
}

void DownloadProgressLine::update(const speech::AssetDownloadProgress& progress) {
    if (terminal_) {
        out_ << '\r' << text(progress) << "\x1b[K" << std::flush;  // erase what a longer line left
        open_ = true;
        return;
    }
    const int percent = percentOf(progress);
    if (percent < 0 || percent / 10 <= lastTenth_) return;
    lastTenth_ = percent / 10;
    out_ << text(progress) << '\n' << std::flush;
}

void DownloadProgressLine::finish() {
    if (!open_) return;
    out_ << '\n' << std::flush;
    open_ = false;
}

}  // namespace pelora::cli
