#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace pelora::audio {

// What the sound server offers for dictation right now.
struct SourceState {
    bool serverReachable = false;
    // The default source exists and is a real input, not the monitor of an output.
    bool hasUsableDefaultSource = false;
    friend bool operator==(const SourceState&, const SourceState&) = default;
};

// A running capture; destroying it disconnects the stream, and no handler runs after that.
class Capture {
public:
    virtual ~Capture() = default;
};

struct CaptureHandlers {
    // 16 kHz mono float samples, about 20 ms at a time, on the audio thread.
    std::function<void(std::span<const float>)> onSamples;
    // The capture ended for good: the stream failed, the server went away, or the stream
    // was moved onto a monitor (which would record what the desktop plays). Audio thread.
    std::function<void()> onInterrupted;
};

struct CaptureStart {
    enum class Failure { none, noInputDevice, refused };
    std::unique_ptr<Capture> capture;  // none when it failed
    Failure failure = Failure::none;
    std::string message;  // the server's own text when refused
};

// The three feedback sounds: distinct short tones, high to low.
enum class Cue { tink, pop, basso };

// The desktop's sound server: microphone capture, source state and cues.
class AudioService {
public:
    virtual ~AudioService() = default;
    // Records the default source as 32-bit float, 16 kHz, mono; waits at most `timeLimit`
    // for the stream to run. No server, no source, or a monitor as default source is
    // `noInputDevice`.
    virtual CaptureStart startCapture(CaptureHandlers handlers, std::chrono::milliseconds timeLimit) = 0;
    // Kept current by the server's notifications; never waits for the server.
    virtual SourceState sourceState() = 0;
    // Starts the cue and returns at once; without a server nothing plays.
    virtual void playCue(Cue cue) = 0;
};

}  // namespace pelora::audio
