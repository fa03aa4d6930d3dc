// The throttle between a file's stages and the window, on a manual clock: at most one
// value per 100 ms (the latest wins, a waiting one comes when its time is up), never back
// within a phase, and no return to an earlier phase.
#include "PeloraVoiceApp/controller/FileTranscriptionProgress.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using namespace pelora;
using namespace std::chrono_literals;

namespace {

using Phase = FileTranscriptionProgress::Phase;
using Step = FileTranscriptionProgressThrottle::Step;
using Duration = FileTranscriptionProgressThrottle::Duration;

std::string describe(const std::optional<FileTranscriptionProgress>& value) {
    if (!value) return "-";
    std::ostringstream out;
    out << (value->phase == Phase::decoding ? "decoding " : "recognizing ");
    if (value->fraction)
        out << *value->fraction;
    else
        out << "?";
    return out.str();
}

std::string describe(const Step& step) {
    std::ostringstream out;
    out << "publish " << describe(step.publish) << ", wake ";
    if (step.wakeAt)
        out << std::chrono::duration_cast<std::chrono::milliseconds>(*step.wakeAt).count() << " ms";
    else
        out << "-";
    return out.str();
}

FileTranscriptionProgress at(Phase phase, std::optional<double> fraction) { return {phase, fraction}; }

TEST(FileTranscriptionProgressThrottle, ThrottlesToTenASecondAndNeverGoesBack) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    struct Row {
        int ms;
        const char* what;
        std::optional<FileTranscriptionProgress> report;  // none: the timer asked for went off
        Step expected;
    };
    const Row rows[] = {
        {10, "too soon after the start: waits", at(Phase::decoding, 0.05), {std::nullopt, 100ms}},
        {20, "a newer value replaces the waiting one", at(Phase::decoding, 0.10), {}},
        {100, "the wait is over: the latest value", std::nullopt, {at(Phase::decoding, 0.10), std::nullopt}},
        {150, "a route starting over shows no step back", at(Phase::decoding, 0.08), {}},
        {180, "no fraction keeps the one shown", at(Phase::decoding, std::nullopt), {}},
        {250, "an interval later: at once", at(Phase::decoding, 0.30), {at(Phase::decoding, 0.30), std::nullopt}},
        {260, "the next phase waits its turn too", at(Phase::recognizing, std::nullopt), {std::nullopt, 350ms}},
        {300, "a late report of the earlier phase is dropped", at(Phase::decoding, 0.90), {}},
        {350, "the next phase, without a fraction", std::nullopt, {at(Phase::recognizing, std::nullopt), std::nullopt}},
        {500, "the recogniser's first fraction", at(Phase::recognizing, 0.17), {at(Phase::recognizing, 0.17), std::nullopt}},
        {520, "not a number counts as none", at(Phase::recognizing, nan), {}},
        {540, "lower: nothing new to show", at(Phase::recognizing, 0.12), {}},
        {700, "beyond the end is the end", at(Phase::recognizing, 1.7), {at(Phase::recognizing, 1.0), std::nullopt}},
        {710, "a wake with nothing waiting", std::nullopt, {}},
        {720, "the same again is no news", at(Phase::recognizing, 1.0), {}},
    };
    FileTranscriptionProgressThrottle throttle;
    EXPECT_EQ(throttle.start(at(Phase::decoding, std::nullopt), 0ms), at(Phase::decoding, std::nullopt));
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.ms) + " ms: " + row.what);
        const Duration now = std::chrono::milliseconds(row.ms);
        const Step step = row.report ? throttle.report(*row.report, now) : throttle.wake(now);
        EXPECT_EQ(step, row.expected) << "got " << describe(step) << ", expected " << describe(row.expected);
    }

    // A new file starts from scratch: its first value is shown at once, lower or not.
    EXPECT_EQ(throttle.start(at(Phase::decoding, -0.5), 800ms), at(Phase::decoding, 0.0));
    EXPECT_EQ(throttle.report(at(Phase::decoding, 0.01), 900ms), (Step{at(Phase::decoding, 0.01), std::nullopt}));
}

TEST(FileTranscriptionProgressThrottle, ABurstIsShownTenTimesASecondEndingWithItsLastValue) {
    // A decoder telling its fraction every millisecond for two seconds, the timer served
    // when it is due.
    FileTranscriptionProgressThrottle throttle;
    throttle.start(at(Phase::decoding, std::nullopt), 0ms);
    std::optional<Duration> wakeAt;
    std::vector<std::pair<Duration, double>> shown;
    auto take = [&](const Step& step, Duration now) {
        if (step.publish) {
            ASSERT_TRUE(step.publish->fraction);
            shown.emplace_back(now, *step.publish->fraction);
        }
        if (step.wakeAt) wakeAt = step.wakeAt;
    };
    for (int ms = 1; ms <= 2000; ++ms) {
        const Duration now = std::chrono::milliseconds(ms);
        if (wakeAt && *wakeAt <= now) {
            wakeAt.reset();
            take(throttle.wake(now), now);
        }
        take(throttle.report(at(Phase::decoding, ms / 2000.0), now), now);
    }
    while (wakeAt) {
        const Duration now = *wakeAt;
        wakeAt.reset();
        take(throttle.wake(now), now);
    }
    ASSERT_FALSE(shown.empty());
    EXPECT_LE(shown.size(), 21u);
    EXPECT_GE(shown.size(), 19u);
    for (std::size_t i = 1; i < shown.size(); ++i) {
        EXPECT_GE(shown[i].first - shown[i - 1].first, 100ms) << "at " << i;
        EXPECT_GT(shown[i].second, shown[i - 1].second) << "at " << i;
    }
    EXPECT_EQ(shown.back().second, 1.0) << "the last report is never lost";
}

}  // namespace
