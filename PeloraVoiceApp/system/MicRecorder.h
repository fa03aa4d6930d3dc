#pragma once

#include "PeloraVoiceApp/MainThreadScheduler.h"
#include "platform/audio/AudioService.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace pelora {

// Records the default microphone during a dictation as 16 kHz mono float samples and
// reports a live level. The sound server converts to that format itself. Main thread,
// except `onLevel`, which is called on the audio thread.
class MicRecorder {
public:
    explicit MicRecorder(audio::AudioService& audio);
    // With the main thread's scheduler, start(started) waits for the server on a worker.
    MicRecorder(audio::AudioService& audio, MainThreadScheduler& mainThread);
    // A capture still running is disconnected first; a start still waiting for the server
    // is waited for (at most its limit) and dropped.
    ~MicRecorder();
    MicRecorder(const MicRecorder&) = delete;
    MicRecorder& operator=(const MicRecorder&) = delete;

    // Begins a new capture, dropping the samples of any earlier one. Waits at most 2 s.
    // Throws PeloraVoiceError (audioDecodeFailed, "有効なマイク入力デバイスが見つかりません")
    // when there is no usable microphone, std::runtime_error with the server's text otherwise.
    void start();
    // The same without holding up the main thread: the wait for the server runs on a worker
    // and `started` runs on the main thread with the failure (null once samples flow). A
    // stop() or another start before then abandons this one: `started` never runs and its
    // capture is dropped. Without a scheduler it waits here, as start() does.
    void start(std::function<void(std::exception_ptr failure)> started);
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
    // A start(started) is waiting for the server.
    bool isStarting() const { return pending_ != nullptr; }

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

    // One start waiting for the server on a worker; its answer is kept here until the main
    // thread takes it (or the recorder drops it).
    struct PendingStart {
        std::mutex mutex;
        std::optional<audio::CaptureStart> answer;
        bool finished = false;   // the worker is done
        bool abandoned = false;  // nobody takes the answer any more
    };

    audio::CaptureHandlers beginCapture();
    std::unique_ptr<audio::Capture> take(audio::CaptureStart started);
    void abandonPendingStart();
    void finishStart(const std::shared_ptr<PendingStart>& pending,
                     const std::function<void(std::exception_ptr)>& started);

    audio::AudioService& audio_;
    MainThreadScheduler* mainThread_ = nullptr;
    std::shared_ptr<Buffer> buffer_;
    std::unique_ptr<audio::Capture> capture_;
    std::shared_ptr<PendingStart> pending_;
    // Every worker that ever waited, joined with the recorder: none outlives the server
    // connection it uses.
    std::vector<std::jthread> workers_;
    std::vector<std::shared_ptr<PendingStart>> workerAnswers_;
    // Answers posted to the main thread reach the recorder only while it exists.
    std::shared_ptr<MicRecorder*> alive_ = std::make_shared<MicRecorder*>(this);
};

}  // namespace pelora
