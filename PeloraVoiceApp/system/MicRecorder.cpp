#include "PeloraVoiceApp/system/MicRecorder.h"

#include "engine/recognition/PeloraVoiceError.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

namespace pelora {

MicRecorder::MicRecorder(audio::AudioService& audio) : audio_(audio), buffer_(std::make_shared<Buffer>()) {}

MicRecorder::~MicRecorder() { capture_.reset(); }

float MicRecorder::level(const float* samples, std::size_t count) {
    if (count == 0) return 0.0f;
    float sum = 0.0f;
    for (std::size_t i = 0; i < count; ++i) sum += samples[i] * samples[i];
    return std::min(std::sqrt(sum / static_cast<float>(count)) * 12.0f, 1.0f);
}

void MicRecorder::start() {
    capture_.reset();  // an earlier capture's samples are not returned
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
    auto started = audio_.startCapture(std::move(handlers), startTimeLimit);
    if (!started.capture) {
        {
            std::lock_guard lock(buffer_->mutex);
            buffer_->accepting = false;
        }
        if (started.failure == audio::CaptureStart::Failure::refused && !started.message.empty())
            throw std::runtime_error(started.message);
        throw PeloraVoiceError::audioDecodeFailed("有効なマイク入力デバイスが見つかりません");
    }
    capture_ = std::move(started.capture);
}

std::vector<float> MicRecorder::stop() {
    capture_.reset();
    std::lock_guard lock(buffer_->mutex);
    buffer_->accepting = false;
    return std::exchange(buffer_->samples, {});
}

bool MicRecorder::requestPermission() const {
    const auto state = audio_.sourceState();
    return state.serverReachable && state.hasUsableDefaultSource;
}

}  // namespace pelora
