#pragma once

#include "platform/audio/AudioService.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace pelora {

// Records the default microphone during a dictation as 16 kHz mono float samples and
// reports a live level. The sound server converts to that format itself. Main thread,
// except `onLevel`, which is called on the audio thread.
class MicRecorder {
public:
    explicit MicRecorder(audio::AudioService& audio);
    // A capture still running is disconnected first.
    ~MicRecorder();
    MicRecorder(const MicRecorder&) = delete;
    MicRecorder& operator=(const MicRecorder&) = delete;

    // Begins a new capture, dropping the samples of any earlier one. Waits at most 2 s.
    // Throws PeloraVoiceError (audioDecodeFailed, "有効なマイク入力デバイスが見つかりません")
    // when there is no usable microphone, std::runtime_error with the server's text otherwise.
    void start();
    // Ends the capture and hands over every sample since `start()`. Samples stop being
    // appended once the stream is moved onto a monitor or fails: those before are returned.
    std::vector<float> stop();

    // Level of each fragment, 0 to 1, on the audio thread before its samples are kept.
    // A capture uses the value held when it started.
    std::function<void(float)> onLevel;

    // Whether the microphone may be used now: answered from the kept server state, never
    // with a prompt (the desktop has none).
    bool requestPermission() const;
    bool isCapturing() const { return capture_ != nullptr; }

    static constexpr std::chrono::milliseconds startTimeLimit{2000};

    // The level of one fragment: root-mean-square × 12, at most 1.
    static float level(const float* samples, std::size_t count);

private:
    struct Buffer {
        std::mutex mutex;
        std::vector<float> samples;
        std::uint64_t generation = 0;
        bool accepting = false;
    };

    audio::AudioService& audio_;
    std::shared_ptr<Buffer> buffer_;
    std::unique_ptr<audio::Capture> capture_;
};

}  // namespace pelora
