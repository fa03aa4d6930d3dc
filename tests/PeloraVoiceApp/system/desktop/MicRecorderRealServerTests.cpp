#include "PeloraVoiceApp/system/MicRecorder.h"
#include "PeloraVoiceApp/controller/AppViewModel.h"
#include "PeloraVoiceApp/QtMainThreadScheduler.h"
#include "tests/PeloraVoiceApp/system/desktop/MainLoop.h"
#include "PeloraVoiceApp/system/SoundFeedback.h"
#include "engine/recognition/PeloraVoiceError.h"
#include "platform/audio/PulseAudioService.h"
#include "tests/support/PrivateSoundServer.h"
#include "tests/support/RunCommand.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

using namespace std::chrono_literals;
using pelora::MicRecorder;
using pelora::PeloraVoiceError;
using pelora::audio::PulseAudioService;
using pelora::testing::CommandResult;
using pelora::testing::PrivateSoundServer;
using pelora::testing::runCommand;
using pelora::testing::ScopedEnvironment;
using pelora::testing::TempDir;

namespace {

const std::string noMicrophone = "有効なマイク入力デバイスが見つかりません";

// A sine tone file made with ffmpeg.
std::string tone(const TempDir& dir, double amplitude, int rate, int channels, double seconds) {
    static int made = 0;
    const auto path = (dir / ("tone-" + std::to_string(++made) + ".wav")).string();
    const std::string expression = std::to_string(amplitude) + "*sin(2*PI*440*t)";
    const auto result = runCommand({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                    "aevalsrc=" + expression + ":s=" + std::to_string(rate) + ":d=" + std::to_string(seconds),
                                    "-ac", std::to_string(channels), "-c:a", "pcm_f32le", path});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return path;
}

// Played into the sink the microphone hears, with a short latency (the default arrives a
// second late).
std::vector<std::string> playIntoMicrophone(const std::string& file) {
    return {"paplay", "--latency-msec=10", "-d", "micfeed", file};
}

// The levels a recorder reported, as the audio thread handed them over.
class Levels {
public:
    std::function<void(float)> callback() {
        return [this](float level) {
            std::lock_guard lock(mutex_);
            levels_.push_back(level);
        };
    }
    std::vector<float> all() {
        std::lock_guard lock(mutex_);
        return levels_;
    }
    std::size_t count() {
        std::lock_guard lock(mutex_);
        return levels_.size();
    }

private:
    std::mutex mutex_;
    std::vector<float> levels_;
};

bool pollUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

double rms(const std::vector<float>& samples, std::size_t from, std::size_t to) {
    to = std::min(to, samples.size());
    if (to <= from) return 0;
    double sum = 0;
    for (std::size_t i = from; i < to; ++i) sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(to - from));
}

double loudestWindow(const std::vector<float>& samples, std::size_t window) {
    double loudest = 0;
    for (std::size_t at = 0; at + window <= samples.size(); at += window / 10) loudest = std::max(loudest, rms(samples, at, at + window));
    return loudest;
}

// The error text a failed start gives, or empty when it started.
std::string startFailure(MicRecorder& recorder) {
    try {
        recorder.start();
        return {};
    } catch (const PeloraVoiceError& error) {
        return error.what();
    } catch (const std::exception& error) {
        return std::string("other: ") + error.what();
    }
}

// Against the private desktop's sound server.
class MicRecorderOnTheDesktop : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::getenv("PULSE_SERVER")) << "runs in the private desktop";
        ASSERT_TRUE(pollUntil([&] { return recorder.requestPermission(); })) << "the desktop's microphone is usable";
    }
    PulseAudioService audio;
    MicRecorder recorder{audio};
    TempDir dir;
};

TEST_F(MicRecorderOnTheDesktop, AStereo48kToneComesBackAs16kMonoOfItsLengthAndLoudness) {
    const auto file = tone(dir, 0.5, 48000, 2, 1.0);
    const auto begun = std::chrono::steady_clock::now();
    recorder.start();
    ASSERT_EQ(runCommand(playIntoMicrophone(file)).exitCode, 0);
    std::this_thread::sleep_for(200ms);
    const auto samples = recorder.stop();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    EXPECT_GE(samples.size(), 15500u) << "the whole second of tone";
    EXPECT_LE(double(samples.size()), (seconds + 0.2) * 16000) << "no more than the time recorded";
    // RMS of the 0.5 sine is 0.354; the test server's sink, monitor and remap chain passes
    // it at -3 to -6 dB: present, not clipped.
    const double loudest = loudestWindow(samples, 8000);
    EXPECT_GT(loudest, 0.15);
    EXPECT_LT(loudest, 0.4);
    EXPECT_TRUE(recorder.stop().empty());
}

TEST_F(MicRecorderOnTheDesktop, AShortHoldInAQuietRoomKeepsItsSamples) {
    // The key held for 0.35 s while nothing plays, a few times with pauses between (the
    // server's devices idle in them): a microphone hands over samples from the start, so
    // each recording is long enough for the controller to transcribe.
    for (int hold = 1; hold <= 3; ++hold) {
        std::this_thread::sleep_for(500ms);
        recorder.start();
        std::this_thread::sleep_for(350ms);
        const double seconds = double(recorder.stop().size()) / 16000.0;
        EXPECT_GE(seconds, pelora::AppViewModel::shortestRecordingSeconds) << "hold " << hold;
    }
}

TEST_F(MicRecorderOnTheDesktop, LevelsOfSilenceAQuietToneAndALoudOne) {
    // The test server's gain for such a tone, so that the recorder's input has the RMS wanted.
    recorder.start();
    ASSERT_EQ(runCommand(playIntoMicrophone(tone(dir, 0.5, 48000, 1, 0.6))).exitCode, 0);
    std::this_thread::sleep_for(100ms);
    const double gain = loudestWindow(recorder.stop(), 3200) / (0.5 / std::sqrt(2.0));
    ASSERT_GT(gain, 0.3);
    ASSERT_LT(gain, 1.2);
    struct Case {
        const char* name;
        double rms;       // arriving at the recorder
        float expected;   // level while it plays: RMS × 12, at most 1
        float tolerance;
    };
    const Case cases[] = {
        {"silence", 0.0, 0.0f, 0.0f},
        {"RMS 0.05", 0.05, 0.6f, 0.06f},
        {"RMS 1/12 and above", 0.15, 1.0f, 0.0f},
    };
    for (const auto& c : cases) {
        const auto file = tone(dir, c.rms * std::sqrt(2.0) / gain, 48000, 1, 0.8);
        Levels levels;
        recorder.onLevel = levels.callback();
        recorder.start();
        ASSERT_EQ(runCommand(playIntoMicrophone(file)).exitCode, 0) << c.name;
        std::this_thread::sleep_for(100ms);
        recorder.stop();
        auto heard = levels.all();
        ASSERT_GE(heard.size(), 30u) << c.name << ": a level for every fragment of about 20 ms";
        // While the tone plays: the fragments well inside it.
        std::vector<float> during;
        for (float level : heard) {
            if (level > 0.01f || c.rms == 0.0) during.push_back(level);
        }
        ASSERT_GE(during.size(), 20u) << c.name;
        std::sort(during.begin(), during.end());
        const float median = during[during.size() / 2];
        EXPECT_NEAR(median, c.expected, c.tolerance + 1e-6f) << c.name;
        EXPECT_LE(during.back(), 1.0f) << c.name;
    }
}

TEST_F(MicRecorderOnTheDesktop, DestroyedWhileCapturingItStopsBeforeItGoes) {
    const auto file = tone(dir, 0.5, 48000, 1, 1.0);
    std::atomic<bool> gone{false};
    std::atomic<int> callsAfter{0};
    std::atomic<int> calls{0};
    std::thread feed([&] { runCommand(playIntoMicrophone(file)); });
    {
        PulseAudioService ownAudio;
        ASSERT_TRUE(pollUntil([&] { return ownAudio.sourceState().hasUsableDefaultSource; }));
        auto capturing = std::make_unique<MicRecorder>(ownAudio);
        capturing->onLevel = [&](float) {
            ++calls;
            if (gone) ++callsAfter;
        };
        capturing->start();
        EXPECT_TRUE(pollUntil([&] { return calls > 5; })) << "samples arrive";
        capturing.reset();
        gone = true;
        std::this_thread::sleep_for(300ms);  // while the tone still plays
    }
    feed.join();
    EXPECT_EQ(callsAfter, 0);
}

TEST_F(MicRecorderOnTheDesktop, AMonitorAsDefaultSourceIsNoMicrophone) {
    ASSERT_EQ(runCommand({"pactl", "set-default-source", "speaker.monitor"}).exitCode, 0);
    EXPECT_TRUE(pollUntil([&] { return !recorder.requestPermission(); })) << "the kept state follows the server";
    const std::string failure = startFailure(recorder);
    runCommand({"pactl", "set-default-source", "virtmic"});
    EXPECT_NE(failure.find(noMicrophone), std::string::npos) << failure;
    EXPECT_FALSE(recorder.isCapturing());
    EXPECT_TRUE(pollUntil([&] { return recorder.requestPermission(); }));
    EXPECT_EQ(startFailure(recorder), "") << "usable again";
    recorder.stop();
}

// Against a sound server of the test's own, which it kills and stops.
class MicRecorderOwnServer : public ::testing::Test {
protected:
    PrivateSoundServer server;
    ScopedEnvironment address{"PULSE_SERVER", server.address()};
    PulseAudioService audio;
    MicRecorder recorder{audio};
    TempDir dir;

    void SetUp() override { ASSERT_TRUE(pollUntil([&] { return recorder.requestPermission(); })); }
    CommandResult play(const std::string& file) { return server.run(playIntoMicrophone(file)); }
};

TEST_F(MicRecorderOwnServer, AServerThatDiesKeepsWhatCameBeforeAndIsFoundAgainWhenItReturns) {
    Levels levels;
    recorder.onLevel = levels.callback();
    recorder.start();
    const auto file = tone(dir, 0.5, 48000, 1, 3.0);
    std::thread feed([&] { play(file); });
    // The tone has begun (a level of 1 for its fragments), and a little more of it came.
    ASSERT_TRUE(pollUntil([&] {
        const auto all = levels.all();
        return std::count(all.begin(), all.end(), 1.0f) >= 5;
    }));
    std::this_thread::sleep_for(300ms);
    server.kill();
    feed.join();
    EXPECT_TRUE(pollUntil([&] { return !recorder.requestPermission(); })) << "no server: no microphone";
    const auto before = recorder.stop();
    EXPECT_GE(before.size(), 1600u) << "what came before the end is kept";
    EXPECT_GT(loudestWindow(before, 1600), 0.1);
    EXPECT_NE(startFailure(recorder).find(noMicrophone), std::string::npos);
    EXPECT_FALSE(recorder.isCapturing());

    server.start();
    ASSERT_TRUE(pollUntil([&] { return recorder.requestPermission(); }, 15s)) << "the connection is made again";
    recorder.onLevel = nullptr;
    ASSERT_EQ(startFailure(recorder), "");
    ASSERT_EQ(play(tone(dir, 0.5, 48000, 1, 0.5)).exitCode, 0);
    std::this_thread::sleep_for(100ms);
    EXPECT_GT(loudestWindow(recorder.stop(), 1600), 0.1) << "recording works again";
}

TEST_F(MicRecorderOwnServer, AStoppedServerFailsTheStartWithinItsLimitAndNothingElseWaits) {
    recorder.start();
    server.pause();
    // A capture whose server sleeps is ended at once.
    const auto begun = std::chrono::steady_clock::now();
    recorder.stop();
    EXPECT_TRUE(recorder.requestPermission()) << "answered from the kept state";
    pelora::SoundFeedback(audio).playRecordingStart(true);
    const auto quickCalls = std::chrono::steady_clock::now() - begun;
    const std::string failure = startFailure(recorder);
    const auto startTook = std::chrono::steady_clock::now() - begun - quickCalls;
    server.resume();
    EXPECT_LT(quickCalls, 1500ms) << "stop, permission and cue never wait for the server";
    EXPECT_NE(failure.find(noMicrophone), std::string::npos) << failure;
    EXPECT_LT(startTook, 8s) << "the start gives up after its limit";
    EXPECT_FALSE(recorder.isCapturing());

    ASSERT_EQ(startFailure(recorder), "") << "the server answers again";
    ASSERT_EQ(play(tone(dir, 0.5, 48000, 1, 0.5)).exitCode, 0);
    std::this_thread::sleep_for(100ms);
    EXPECT_GT(loudestWindow(recorder.stop(), 1600), 0.1);
}

// What a start handed to the main thread: nothing yet, started (empty), or the failure.
std::string describe(std::exception_ptr failure) {
    if (!failure) return "";
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& error) {
        return error.what();
    }
    return "?";
}

TEST_F(MicRecorderOwnServer, AStartAgainstAStoppedServerLeavesTheMainThreadFree) {
    main_loop::application();
    MainThreadScheduler& scheduler = QtMainThreadScheduler::shared();
    MicRecorder waiting(audio, scheduler);
    int ticks = 0;
    auto ticker = scheduler.repeatEvery(10ms, [&] { ++ticks; });

    {
        SCOPED_TRACE("the server sleeps: the main loop turns until the start fails");
        server.pause();
        std::optional<std::string> answer;
        const auto begun = std::chrono::steady_clock::now();
        waiting.start([&](std::exception_ptr failure) { answer = describe(failure); });
        EXPECT_LT(std::chrono::steady_clock::now() - begun, 1500ms) << "the call returns before the server answers";
        EXPECT_TRUE(waiting.isStarting());
        ASSERT_TRUE(main_loop::spinUntil([&] { return answer.has_value(); }, 15000));
        server.resume();
        EXPECT_NE(answer->find(noMicrophone), std::string::npos) << *answer;
        EXPECT_GE(ticks, 20) << "timers ran while the server was asked";
        EXPECT_FALSE(waiting.isStarting());
        EXPECT_FALSE(waiting.isCapturing());
    }
    {
        SCOPED_TRACE("a stop while the server sleeps withdraws the start");
        server.pause();
        bool answered = false;
        waiting.start([&](std::exception_ptr) { answered = true; });
        EXPECT_TRUE(waiting.stop().empty());
        EXPECT_FALSE(waiting.isStarting());
        server.resume();  // the withdrawn stream may now come up; it is dropped
        main_loop::spinFor(2500);
        EXPECT_FALSE(answered);
        EXPECT_FALSE(waiting.isCapturing());
    }
    {
        SCOPED_TRACE("an answering server: the capture runs and records");
        std::optional<std::string> answer;
        waiting.start([&](std::exception_ptr failure) { answer = describe(failure); });
        ASSERT_TRUE(main_loop::spinUntil([&] { return answer.has_value(); }, 15000));
        EXPECT_EQ(*answer, "");
        EXPECT_TRUE(waiting.isCapturing());
        ASSERT_EQ(play(tone(dir, 0.5, 48000, 1, 0.5)).exitCode, 0);
        std::this_thread::sleep_for(100ms);
        EXPECT_GT(loudestWindow(waiting.stop(), 1600), 0.1);
    }
    {
        SCOPED_TRACE("destroyed while the server sleeps: no answer after it is gone");
        bool answered = false;
        server.pause();
        {
            MicRecorder gone(audio, scheduler);
            gone.start([&](std::exception_ptr) { answered = true; });
        }
        server.resume();
        main_loop::spinFor(300);
        EXPECT_FALSE(answered);
    }
}

TEST(MicRecorderWithoutServer, TheStartSaysThereIsNoMicrophone) {
    TempDir nowhere;
    ScopedEnvironment address("PULSE_SERVER", "unix:" + (nowhere / "none").string());
    PulseAudioService audio;
    MicRecorder recorder(audio);
    EXPECT_FALSE(recorder.requestPermission());
    EXPECT_NE(startFailure(recorder).find(noMicrophone), std::string::npos);
    EXPECT_TRUE(recorder.stop().empty());
}

}  // namespace
