#include "platform/audio/PulseAudioService.h"
#include "tests/support/RunCommand.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <filesystem>
#include <sstream>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;
using namespace pelora::audio;
using pelora::testing::runCommand;
using pelora::testing::TempDir;

namespace {

// What a capture delivered, as the audio thread handed it over.
class Collector {
public:
    CaptureHandlers handlers() {
        return {[this](std::span<const float> fragment) {
                    std::lock_guard lock(mutex_);
                    samples_.insert(samples_.end(), fragment.begin(), fragment.end());
                    fragments_.push_back(fragment.size());
                    changed_.notify_all();
                },
                [this] {
                    std::lock_guard lock(mutex_);
                    interruptedAt_ = samples_.size();
                    changed_.notify_all();
                }};
    }
    std::vector<float> samples() {
        std::lock_guard lock(mutex_);
        return samples_;
    }
    std::vector<std::size_t> fragments() {
        std::lock_guard lock(mutex_);
        return fragments_;
    }
    std::optional<std::size_t> interruptedAt() {
        std::lock_guard lock(mutex_);
        return interruptedAt_;
    }
    bool waitUntil(const std::function<bool(const std::vector<float>&, std::optional<std::size_t>)>& done,
                   std::chrono::milliseconds limit = 10s) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return done(samples_, interruptedAt_); });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<float> samples_;
    std::vector<std::size_t> fragments_;
    std::optional<std::size_t> interruptedAt_;
};

double rms(const std::vector<float>& samples, std::size_t from, std::size_t to) {
    double sum = 0;
    to = std::min(to, samples.size());
    if (to <= from) return 0;
    for (std::size_t i = from; i < to; ++i) sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(to - from));
}

// A sine tone file made with ffmpeg.
std::string tone(const TempDir& dir, double frequency, double amplitude, int rate, int channels, double seconds) {
    const auto path = (dir / ("tone-" + std::to_string(int(frequency)) + "-" + std::to_string(int(amplitude * 1000)) +
                              "-" + std::to_string(rate) + ".wav"))
                          .string();
    const std::string expression = std::to_string(amplitude) + "*sin(2*PI*" + std::to_string(frequency) + "*t)";
    auto result = runCommand({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                              "aevalsrc=" + expression + ":s=" + std::to_string(rate) + ":d=" + std::to_string(seconds),
                              "-ac", std::to_string(channels), "-c:a", "pcm_f32le", path});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return path;
}

// Plays a file into a sink of the test server with a short latency (the default arrives
// a second late).
pelora::testing::CommandResult play(const std::string& file, const std::string& sink) {
    return runCommand({"paplay", "--latency-msec=10", "-d", sink, file});
}

std::string pactl(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{"pactl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto result = runCommand(argv);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return result.out;
}

class PulseAudioServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::getenv("XDG_RUNTIME_DIR") || std::getenv("PULSE_SERVER")) << "runs beside the test sound server";
        // The connection is made in the background; wait for the first state.
        for (int i = 0; i < 200 && !service.sourceState().serverReachable; ++i) std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(service.sourceState().serverReachable);
    }
    PulseAudioService service;
    TempDir dir;
};

TEST_F(PulseAudioServiceTest, AStereo48kToneArrivesAs16kMonoWithItsLoudness) {
    const auto file = tone(dir, 440, 0.5, 48000, 2, 1.0);
    Collector collected;
    auto started = service.startCapture(collected.handlers(), 2000ms);
    ASSERT_NE(started.capture, nullptr) << started.message;
    ASSERT_EQ(play(file, "micfeed").exitCode, 0);
    std::this_thread::sleep_for(300ms);
    started.capture.reset();
    const auto samples = collected.samples();
    // One second of tone, give or take what came before and after it.
    EXPECT_GE(samples.size(), 15000u);
    EXPECT_LE(samples.size(), 16000u * 20) << "no runaway capture";
    // The loudest 0.5 s window holds the tone (RMS of a 0.5 sine is 0.354; the test
    // server's sink-monitor-remap chain passes it at -3 to -6 dB): present, not clipped.
    double loudest = 0;
    for (std::size_t at = 0; at + 8000 <= samples.size(); at += 800) loudest = std::max(loudest, rms(samples, at, at + 8000));
    EXPECT_GT(loudest, 0.15);
    EXPECT_LT(loudest, 0.4);
    // Fragments of about 20 ms.
    const auto fragments = collected.fragments();
    ASSERT_FALSE(fragments.empty());
    std::size_t typical = fragments[fragments.size() / 2];
    EXPECT_LE(typical, 1600u) << "fragments of at most 0.1 s";
}

TEST_F(PulseAudioServiceTest, LoudnessOfSilentQuietAndLoudInputKeepsItsProportions) {
    // Relative to the loud tone, so that the test server's own gain does not count.
    struct Case {
        double amplitude;
        double expectedRms;
    };
    const Case cases[] = {{0.9, 0.636}, {0.05 * std::sqrt(2.0), 0.05}, {0.0, 0.0}};
    double gain = 0;
    for (auto c : cases) {
        const auto file = tone(dir, 300, c.amplitude, 48000, 1, 0.6);
        Collector collected;
        auto started = service.startCapture(collected.handlers(), 2000ms);
        ASSERT_NE(started.capture, nullptr) << started.message;
        ASSERT_EQ(play(file, "micfeed").exitCode, 0);
        std::this_thread::sleep_for(200ms);
        started.capture.reset();
        const auto samples = collected.samples();
        double loudest = 0;
        for (std::size_t at = 0; at + 3200 <= samples.size(); at += 320) loudest = std::max(loudest, rms(samples, at, at + 3200));
        if (gain == 0) {
            gain = loudest / c.expectedRms;
            EXPECT_GT(gain, 0.3) << "the loud tone came through";
            continue;
        }
        EXPECT_NEAR(loudest / gain, c.expectedRms, 0.003 + c.expectedRms * 0.1) << "amplitude " << c.amplitude;
    }
}

TEST_F(PulseAudioServiceTest, ASourceThatVanishesEndsTheCaptureUnlessItMovesToAnotherMicrophone) {
    struct Case {
        const char* name;
        bool anotherMicrophoneIsDefault;  // else the vanishing source is, and the server falls back to a monitor
    };
    for (auto c : {Case{"fallback onto the speakers' monitor", false}, Case{"move to the other microphone", true}}) {
        const auto voice = tone(dir, 440, 0.5, 48000, 1, 0.4);
        const auto desktop = tone(dir, 1000, 0.5, 48000, 1, 1.0);
        const std::string module =
            pactl({"load-module", "module-remap-source", "source_name=vanishing", "master=micfeed.monitor"});
        pactl({"set-default-source", "vanishing"});
        Collector collected;
        auto started = service.startCapture(collected.handlers(), 2000ms);
        ASSERT_NE(started.capture, nullptr) << started.message;
        // With no other microphone left the server falls back to a monitor.
        std::string virtmicModule;
        if (c.anotherMicrophoneIsDefault) {
            pactl({"set-default-source", "virtmic"});
        } else {
            std::istringstream modules(pactl({"list", "short", "modules"}));
            for (std::string line; std::getline(modules, line);) {
                if (line.find("source_name=virtmic") != std::string::npos) virtmicModule = line.substr(0, line.find('\t'));
            }
            ASSERT_FALSE(virtmicModule.empty());
            pactl({"unload-module", virtmicModule});
        }
        ASSERT_EQ(play(voice, "micfeed").exitCode, 0);
        std::this_thread::sleep_for(200ms);
        const std::size_t before = collected.samples().size();
        pactl({"unload-module", module.substr(0, module.find('\n'))});
        // On the speakers' monitor the capture would hear this.
        std::thread desktopSound([&] { play(desktop, "speaker"); });
        const bool interrupted =
            collected.waitUntil([](auto&, auto interrupted) { return interrupted.has_value(); }, 8s);
        desktopSound.join();
        if (!c.anotherMicrophoneIsDefault) {
            EXPECT_TRUE(interrupted) << c.name;
            EXPECT_EQ(collected.samples().size(), collected.interruptedAt().value_or(0)) << c.name << ": nothing after the end";
            EXPECT_GE(collected.samples().size(), before) << c.name << ": what came before is kept";
            double loudest = 0;
            const auto samples = collected.samples();
            for (std::size_t at = before; at + 1600 <= samples.size(); at += 160) loudest = std::max(loudest, rms(samples, at, at + 1600));
            EXPECT_LT(loudest, 0.01) << c.name << ": no desktop sound";
        } else {
            EXPECT_FALSE(interrupted) << c.name;
            EXPECT_GT(collected.samples().size(), before + 8000) << c.name << ": recording carries on";
        }
        started.capture.reset();
        if (!virtmicModule.empty())
            pactl({"load-module", "module-remap-source", "source_name=virtmic", "master=micfeed.monitor"});
        pactl({"set-default-source", "virtmic"});
    }
}

TEST_F(PulseAudioServiceTest, AMonitorAsDefaultSourceIsNoMicrophone) {
    pactl({"set-default-source", "speaker.monitor"});
    for (int i = 0; i < 200 && service.sourceState().hasUsableDefaultSource; ++i) std::this_thread::sleep_for(10ms);
    const auto state = service.sourceState();
    Collector collected;
    auto started = service.startCapture(collected.handlers(), 2000ms);
    pactl({"set-default-source", "virtmic"});
    EXPECT_EQ(state, (SourceState{true, false}));
    EXPECT_EQ(started.capture, nullptr);
    EXPECT_EQ(started.failure, CaptureStart::Failure::noInputDevice);
    for (int i = 0; i < 200 && !service.sourceState().hasUsableDefaultSource; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(service.sourceState(), (SourceState{true, true})) << "kept current by the server's notifications";
}

TEST_F(PulseAudioServiceTest, NoHandlerRunsAfterTheCaptureIsDestroyed) {
    const auto file = tone(dir, 440, 0.5, 48000, 1, 0.8);
    std::atomic<int> callsAfter{0};
    std::atomic<bool> destroyed{false};
    CaptureHandlers handlers{[&](std::span<const float>) { callsAfter += destroyed ? 1 : 0; },
                             [&] { callsAfter += destroyed ? 1 : 0; }};
    auto started = service.startCapture(std::move(handlers), 2000ms);
    ASSERT_NE(started.capture, nullptr);
    std::thread feed([&] { play(file, "micfeed"); });
    std::this_thread::sleep_for(300ms);
    started.capture.reset();
    destroyed = true;
    feed.join();
    EXPECT_EQ(callsAfter, 0);
}

// A cue's pitch from the zero crossings of what the speakers' monitor heard: the median
// distance between upward crossings, so that a gap in the playback (a busy machine can
// starve the stream for a moment) does not count.
double dominantFrequency(const std::vector<float>& samples, int rate) {
    std::vector<std::size_t> periods;
    std::optional<std::size_t> lastUp;
    float peak = 0;  // since the last upward crossing
    for (std::size_t i = 1; i < samples.size(); ++i) {
        peak = std::max(peak, std::fabs(samples[i]));
        if (!(samples[i - 1] < 0 && samples[i] >= 0)) continue;
        if (lastUp && peak > 0.05f) periods.push_back(i - *lastUp);
        lastUp = i;
        peak = 0;
    }
    if (periods.size() < 5) return 0;
    std::sort(periods.begin(), periods.end());
    return double(rate) / double(periods[periods.size() / 2]);
}

// Raw float samples: a recorder stopped by a signal leaves no finished file header.
std::vector<float> readRaw(const std::string& path) {
    const std::string bytes = pelora::testing::readFile(path);
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

TEST_F(PulseAudioServiceTest, EachCueSoundsAtItsOwnPitch) {
    for (Cue cue : {Cue::tink, Cue::pop, Cue::basso}) {
        const auto recording = (dir / ("cue-" + std::to_string(int(cue)) + ".raw")).string();
        pelora::testing::CommandResult result;
        std::thread recorder([&] {
            result = runCommand({"timeout", "5", "parecord", "--latency-msec=10", "-d", "speaker.monitor",
                                 "--rate=48000", "--channels=1", "--format=float32le", "--raw", recording});
        });
        // Once the recorder writes, it hears the speakers.
        for (int i = 0; i < 300; ++i) {
            std::error_code error;
            if (std::filesystem::file_size(recording, error) > 4800 && !error) break;
            std::this_thread::sleep_for(10ms);
        }
        service.playCue(cue);
        recorder.join();
        const double heard = dominantFrequency(readRaw(recording), 48000);
        EXPECT_NEAR(heard, PulseAudioService::cueFrequency(cue), PulseAudioService::cueFrequency(cue) * 0.05)
            << "cue " << int(cue) << ": " << result.err;
    }
}

TEST(PulseAudioServiceWithoutServer, NoServerMeansNoMicrophoneAndSilentCues) {
    TempDir nowhere;
    pelora::testing::ScopedEnvironment server("PULSE_SERVER", "unix:" + (nowhere / "none").string());
    PulseAudioService service;
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(service.sourceState(), (SourceState{false, false}));
    const auto begun = std::chrono::steady_clock::now();
    auto started = service.startCapture({}, 2000ms);
    EXPECT_EQ(started.capture, nullptr);
    EXPECT_EQ(started.failure, CaptureStart::Failure::noInputDevice);
    EXPECT_LT(std::chrono::steady_clock::now() - begun, 2500ms);
    service.playCue(Cue::basso);  // nothing, and no error
}

}  // namespace
