#include "PeloraVoiceApp/system/MicRecorder.h"
#include "engine/recognition/PeloraVoiceError.h"
#include "tests/support/FakeAudioService.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

using pelora::MicRecorder;
using pelora::PeloraVoiceError;
using pelora::testing::FakeAudioService;

namespace {

std::vector<float> constant(float value, std::size_t count = 320) { return std::vector<float>(count, value); }

TEST(MicRecorder, LevelIsTwelveTimesTheRootMeanSquareCappedAtOne) {
    struct Case {
        std::vector<float> fragment;
        float expected;
    };
    const Case cases[] = {
        {constant(0.0f), 0.0f},
        {constant(0.05f), 0.6f},
        {constant(-0.05f), 0.6f},
        {constant(1.0f / 12.0f), 1.0f},
        {constant(0.9f), 1.0f},
        {{0.1f, -0.1f, 0.1f, -0.1f}, 1.0f},
        {{}, 0.0f},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(MicRecorder::level(c.fragment.data(), c.fragment.size()), c.expected, 1e-5)
            << c.fragment.size() << " samples of " << (c.fragment.empty() ? 0.0f : c.fragment[0]);
    }
}

TEST(MicRecorder, StopHandsOverEverySampleOnceWithLevelsBeforeEachAppend) {
    FakeAudioService audio;
    MicRecorder recorder(audio);
    std::vector<std::pair<float, std::size_t>> levels;
    recorder.onLevel = [&](float level) { levels.emplace_back(level, 0); };
    recorder.start();
    EXPECT_EQ(audio.lastTimeLimit, std::chrono::milliseconds(2000));
    audio.feed(constant(0.05f));
    audio.feed(constant(0.0f, 100));
    const auto samples = recorder.stop();
    EXPECT_EQ(samples.size(), 420u);
    ASSERT_EQ(levels.size(), 2u);
    EXPECT_NEAR(levels[0].first, 0.6f, 1e-5);
    EXPECT_EQ(levels[1].first, 0.0f);
    EXPECT_FALSE(audio.captureRunning()) << "stop disconnects";
    EXPECT_TRUE(recorder.stop().empty()) << "a second stop returns nothing";
}

TEST(MicRecorder, RestartDropsTheEarlierSamplesAndUsesTheLevelCallbackHeldAtStart) {
    FakeAudioService audio;
    MicRecorder recorder(audio);
    int firstCalls = 0, secondCalls = 0;
    recorder.onLevel = [&](float) { ++firstCalls; };
    recorder.start();
    recorder.onLevel = [&](float) { ++secondCalls; };
    audio.feed(constant(0.1f));
    EXPECT_EQ(firstCalls, 1) << "the running capture keeps its callback";
    recorder.start();
    audio.feed(constant(0.2f, 10));
    EXPECT_EQ(secondCalls, 1);
    const auto samples = recorder.stop();
    EXPECT_EQ(samples, constant(0.2f, 10));
}

TEST(MicRecorder, AnInterruptedStreamKeepsWhatCameBefore) {
    // A stream moved onto the speakers' monitor would record the desktop's own sound.
    FakeAudioService audio;
    MicRecorder recorder(audio);
    int levels = 0;
    recorder.onLevel = [&](float) { ++levels; };
    recorder.start();
    audio.feed(constant(0.3f, 50));
    audio.interrupt();
    audio.feed(constant(0.7f, 50));
    EXPECT_EQ(recorder.stop(), constant(0.3f, 50));
    EXPECT_EQ(levels, 1);
}

TEST(MicRecorder, FailuresToStartTellWhy) {
    struct Case {
        pelora::audio::CaptureStart::Failure failure;
        std::string message;
        std::string expected;
        bool engineError;
    };
    const Case cases[] = {
        {pelora::audio::CaptureStart::Failure::noInputDevice, "", "有効なマイク入力デバイスが見つかりません", true},
        {pelora::audio::CaptureStart::Failure::refused, "Access denied", "Access denied", false},
    };
    for (const auto& c : cases) {
        FakeAudioService audio;
        MicRecorder recorder(audio);
        recorder.start();
        audio.feed(constant(0.1f, 10));
        audio.nextFailure = c.failure;
        audio.nextMessage = c.message;
        try {
            recorder.start();
            ADD_FAILURE() << "no error for " << c.expected;
        } catch (const PeloraVoiceError& error) {
            EXPECT_TRUE(c.engineError) << c.expected;
            EXPECT_EQ(error.errorCase(), PeloraVoiceError::Case::audioDecodeFailed);
            EXPECT_NE(std::string(error.what()).find(c.expected), std::string::npos) << error.what();
        } catch (const std::runtime_error& error) {
            EXPECT_FALSE(c.engineError) << c.expected;
            EXPECT_EQ(std::string(error.what()), c.expected);
        }
        EXPECT_FALSE(recorder.isCapturing());
        EXPECT_TRUE(recorder.stop().empty()) << "a failed start leaves the buffer empty";
    }
}

TEST(MicRecorder, DestroyedWhileCapturingDisconnectsFirst) {
    FakeAudioService audio;
    {
        MicRecorder recorder(audio);
        recorder.onLevel = [](float) {};
        recorder.start();
        EXPECT_TRUE(audio.captureRunning());
    }
    EXPECT_FALSE(audio.captureRunning());
    EXPECT_FALSE(audio.feed(constant(0.1f)));
}

TEST(MicRecorder, PermissionComesFromTheKeptServerState) {
    struct Case {
        pelora::audio::SourceState state;
        bool expected;
    };
    for (auto c : {Case{{true, true}, true}, Case{{true, false}, false}, Case{{false, false}, false}}) {
        FakeAudioService audio;
        audio.state = c.state;
        EXPECT_EQ(MicRecorder(audio).requestPermission(), c.expected)
            << c.state.serverReachable << c.state.hasUsableDefaultSource;
        EXPECT_EQ(audio.starts, 0) << "asking never records";
    }
}

}  // namespace
