#include "PeloraVoiceApp/system/MicRecorder.h"

#include "engine/recognition/PeloraVoiceError.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

namespace pelora {

MicRecorder::MicRecorder(audio::AudioService& audio) : audio_(audio), buffer_(std::make_shared<Buffer>()) {}

MicRecorder::MicRecorder(audio::AudioService& audio, MainThreadScheduler& mainThread)
    : audio_(audio), mainThread_(&mainThread), buffer_(std::make_shared<Buffer>()) {}

MicRecorder::~MicRecorder() {
    alive_.reset();
    capture_.reset();
    abandonPendingStart();
    workers_.clear();  // joins: each waits at most its limit
    // Captures that came too late for anybody end while the server connection still exists.
    for (auto& answer : workerAnswers_) {
        std::lock_guard lock(answer->mutex);
        answer->answer.reset();
    }
}

void MicRecorder::abandonPendingStart() {
    auto pending = std::exchange(pending_, nullptr);
    if (!pending) return;
    std::lock_guard lock(pending->mutex);
    pending->abandoned = true;
    pending->answer.reset();  // a capture already running ends here
}

float MicRecorder::level(const float* samples, std::size_t count) {
    if (count == 0) return 0.0f;
    float sum = 0.0f;
    for (std::size_t i = 0; i < count; ++i) sum += samples[i] * samples[i];
    return std::min(std::sqrt(sum / static_cast<float>(count)) * 12.0f, 1.0f);
}

audio::CaptureHandlers MicRecorder::beginCapture() {
    capture_.reset();  // an earlier capture's samples are not returned
    abandonPendingStart();
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(buffer_->mutex);
        buffer_->samples.clear();  // keeps the capacity for a capture of similar length
        generation = ++buffer_->generation;
        buffer_->accepting = true;
    }
    std::weak_ptr<Buffer> weakBuffer = buffer_;
    audio::CaptureHandlers handlers;
    handlers.onSamples = [weakBuffer, generation, onLevel = onLevel](std::span<const float> fragment) {
        if (fragment.empty()) return;
        auto buffer = weakBuffer.lock();
        if (!buffer) return;
        {
            std::lock_guard lock(buffer->mutex);
            if (buffer->generation != generation || !buffer->accepting) return;
        }
        if (onLevel) onLevel(level(fragment.data(), fragment.size()));
        std::lock_guard lock(buffer->mutex);
        if (buffer->generation == generation && buffer->accepting)
            buffer->samples.insert(buffer->samples.end(), fragment.begin(), fragment.end());
    };
    handlers.onInterrupted = [weakBuffer, generation] {
        if (auto buffer = weakBuffer.lock()) {
            std::lock_guard lock(buffer->mutex);
            if (buffer->generation == generation) buffer->accepting = false;
        }
    };
    return handlers;
}

std::unique_ptr<audio::Capture> MicRecorder::take(audio::CaptureStart started) {
    if (!started.capture) {
        {
            std::lock_guard lock(buffer_->mutex);
            buffer_->accepting = false;
        }
        if (started.failure == audio::CaptureStart::Failure::refused && !started.message.empty())
            throw std::runtime_error(started.message);
        throw PeloraVoiceError::audioDecodeFailed("有効なマイク入力デバイスが見つかりません");
    }
    return std::move(started.capture);
}

void MicRecorder::start() {
    auto handlers = beginCapture();
    capture_ = take(audio_.startCapture(std::move(handlers), startTimeLimit));
}

void MicRecorder::start(std::function<void(std::exception_ptr)> started) {
    if (!mainThread_) {
        try {
            start();
        } catch (...) {
            if (started) started(std::current_exception());
            return;
        }
        if (started) started(nullptr);
        return;
    }
    auto handlers = beginCapture();
    // Workers that have answered are done with the server.
    for (std::size_t i = workers_.size(); i-- > 0;) {
        bool finished = false;
        {
            std::lock_guard lock(workerAnswers_[i]->mutex);
            finished = workerAnswers_[i]->finished;
        }
        if (!finished) continue;
        workers_[i].join();
        workers_.erase(workers_.begin() + std::ptrdiff_t(i));
        workerAnswers_.erase(workerAnswers_.begin() + std::ptrdiff_t(i));
    }
    auto pending = std::make_shared<PendingStart>();
    pending_ = pending;
    workerAnswers_.push_back(pending);
    std::weak_ptr<MicRecorder*> self = alive_;
    workers_.emplace_back([pending, self, mainThread = mainThread_, audio = &audio_, handlers = std::move(handlers),
                           started = std::move(started)]() mutable {
        auto answer = audio->startCapture(std::move(handlers), startTimeLimit);
        {
            std::lock_guard lock(pending->mutex);
            pending->finished = true;
            if (pending->abandoned) return;  // its capture ends here
            pending->answer = std::move(answer);
        }
        mainThread->post([pending, self, started = std::move(started)] {
            if (auto recorder = self.lock()) (*recorder)->finishStart(pending, started);
        });
    });
}

void MicRecorder::finishStart(const std::shared_ptr<PendingStart>& pending,
                              const std::function<void(std::exception_ptr)>& started) {
    std::optional<audio::CaptureStart> answer;
    {
        std::lock_guard lock(pending->mutex);
        if (pending->abandoned || !pending->answer) return;
        answer = std::move(pending->answer);
        pending->answer.reset();
    }
    pending_.reset();
    std::exception_ptr failure;
    try {
        capture_ = take(std::move(*answer));
    } catch (...) {
        failure = std::current_exception();
    }
    if (started) started(failure);
}

std::vector<float> MicRecorder::stop() {
    capture_.reset();
    abandonPendingStart();
    std::lock_guard lock(buffer_->mutex);
    buffer_->accepting = false;
    return std::exchange(buffer_->samples, {});
}

bool MicRecorder::requestPermission() const {
    const auto state = audio_.sourceState();
    return state.serverReachable && state.hasUsableDefaultSource;
}

}  // namespace pelora
