#include "cli/DownloadProgressLine.h"

#include <sstream>

#include <gtest/gtest.h>

namespace pelora::cli {
namespace {

constexpr std::int64_t MiB = 1024 * 1024;

speech::AssetDownloadProgress at(std::int64_t received, std::int64_t total, double rate = 0, double left = -1) {
    return {"ggml-small.bin", received, total, rate, left};
}

TEST(DownloadProgressLineTest, TextShowsPercentMebibytesRateAndTimeLeft) {
    struct Case {
        speech::AssetDownloadProgress progress;
        std::string expected;
    };
    const Case cases[] = {
        {at(0, 466 * MiB), "ggml-small.bin    0%  0.0 / 466.0 MiB"},
        {at(233 * MiB, 466 * MiB, 12.5 * MiB, 18.6), "ggml-small.bin   50%  233.0 / 466.0 MiB  12.5 MiB/s  0:19 left"},
        {at(466 * MiB, 466 * MiB, 10 * MiB, 0), "ggml-small.bin  100%  466.0 / 466.0 MiB  10.0 MiB/s"},
        {at(1 * MiB, 3000 * MiB, 0.1 * MiB, 29990), "ggml-small.bin    0%  1.0 / 3000.0 MiB  0.1 MiB/s  8:19:50 left"},
        {at(5 * MiB, -1, 1 * MiB), "ggml-small.bin  5.0 MiB  1.0 MiB/s"},
    };
    for (const Case& c : cases) EXPECT_EQ(DownloadProgressLine::text(c.progress), c.expected);
}

TEST(DownloadProgressLineTest, ATerminalGetsOneLineRewrittenOthersALineEveryTenPercent) {
    std::vector<speech::AssetDownloadProgress> updates;
    for (std::int64_t done = 0; done <= 100; done += 7) updates.push_back(at(done * MiB, 100 * MiB));
    updates.push_back(at(100 * MiB, 100 * MiB));

    std::ostringstream terminal;
    DownloadProgressLine live(terminal, true);
    for (const auto& p : updates) live.update(p);
    live.finish();
    live.finish();
    const std::string shown = terminal.str();
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 1) << "one line, ended once";
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '\r'), static_cast<long>(updates.size()));
    EXPECT_TRUE(shown.ends_with("ggml-small.bin  100%  100.0 / 100.0 MiB\x1b[K\n")) << shown;

    std::ostringstream log;
    DownloadProgressLine plain(log, false);
    for (const auto& p : updates) plain.update(p);
    plain.finish();
    std::vector<std::string> lines;
    std::istringstream in(log.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line.substr(0, line.find(" MiB")));
    const std::vector<std::string> expected = {
        "ggml-small.bin    0%  0.0 / 100.0",   "ggml-small.bin   14%  14.0 / 100.0", "ggml-small.bin   21%  21.0 / 100.0",
        "ggml-small.bin   35%  35.0 / 100.0",  "ggml-small.bin   42%  42.0 / 100.0", "ggml-small.bin   56%  56.0 / 100.0",
        "ggml-small.bin   63%  63.0 / 100.0",  "ggml-small.bin   70%  70.0 / 100.0", "ggml-small.bin   84%  84.0 / 100.0",
        "ggml-small.bin   91%  91.0 / 100.0",  "ggml-small.bin  100%  100.0 / 100.0",
    };
    EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace pelora::cli
