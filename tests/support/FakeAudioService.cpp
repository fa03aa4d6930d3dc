#include "tests/support/FakeAudioService.h"

namespace pelora::testing {

struct FakeAudioService::Stream {
    std::mutex mutex;
    bool running = true;
    audio::CaptureHandlers handlers;
};

namespace {

class FakeCapture final : public audio::Capture {
public:
    explicit FakeCapture(std::shared_ptr<void> stream, std::function<void()> end)
        : stream_(std::move(stream)), end_(std::move(end)) {}
    ~FakeCapture() override { end_(); }

private:
    std::shared_ptr<void> stream_;
    std::function<void()> end_;
};

}  // namespace

FakeAudioService::FakeAudioService() = default;
FakeAudioService::~FakeAudioService() = default;

audio::CaptureStart FakeAudioService::startCapture(audio::CaptureHandlers handlers, std::chrono::milliseconds timeLimit) {
    ++starts;
    lastTimeLimit = timeLimit;
    if (nextFailure != audio::CaptureStart::Failure::none) return {nullptr, nextFailure, nextMessage};
    auto stream = std::make_shared<Stream>();
    stream->handlers = std::move(handlers);
    current_ = stream;
    return {std::make_unique<FakeCapture>(stream,
                                          [stream] {
                                              std::lock_guard lock(stream->mutex);
                                              stream->running = false;
                                          }),
            audio::CaptureStart::Failure::none, {}};
}

bool FakeAudioService::feed(std::vector<float> fragment) {
    if (!current_) return false;
    std::lock_guard lock(current_->mutex);
    if (!current_->running) return false;
    current_->handlers.onSamples(fragment);
    return true;
}

bool FakeAudioService::interrupt() {
    if (!current_) return false;
    std::lock_guard lock(current_->mutex);
    if (!current_->running) return false;
    current_->handlers.onInterrupted();
    return true;
}

bool FakeAudioService::captureRunning() const {
    if (!current_) return false;
    std::lock_guard lock(current_->mutex);
    return current_->running;
}

}  // namespace pelora::testing
