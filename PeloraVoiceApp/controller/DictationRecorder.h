#pragma once

#include <exception>
#include <functional>
#include <vector>

namespace pelora {

// The desktop's answer on microphone access, in the order the permission flow knows it.
enum class MicrophoneAuthorizationStatus { notDetermined, restricted, denied, authorized };

// The microphone as the controller uses it. Main thread, except the level handler, which the
// recorder calls on its audio thread; setting the handler is safe while audio runs.
class DictationRecorder {
public:
    virtual ~DictationRecorder() = default;
    virtual MicrophoneAuthorizationStatus authorizationStatus() const = 0;
    // Asks for access; `answer` runs on the main thread with whether it is granted (possibly
    // before this returns).
    virtual void requestPermission(std::function<void(bool granted)> answer) = 0;
    // Throws when the microphone cannot start.
    virtual void start() = 0;
    // Starts without holding up the main thread: `started` runs on the main thread with the
    // failure, or null once the microphone runs. This one waits here.
    virtual void start(std::function<void(std::exception_ptr failure)> started) {
        try {
            start();
        } catch (...) {
            started(std::current_exception());
            return;
        }
        started(nullptr);
    }
    // Ends the capture and hands over its 16 kHz mono samples.
    virtual std::vector<float> stop() = 0;
    virtual void setLevelHandler(std::function<void(float level)> handler) = 0;
};

}  // namespace pelora
