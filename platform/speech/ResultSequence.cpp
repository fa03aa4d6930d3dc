#include "platform/speech/ResultSequence.h"

#include <utility>

namespace pelora::speech {

void ResultSequence::yield(SpeechTranscriptionResult result) {
    {
        std::lock_guard lock(mutex_);
        if (ended_) return;
        queue_.push_back(std::move(result));
    }
    changed_.notify_all();
}

void ResultSequence::finish() {
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
    }
    changed_.notify_all();
}

void ResultSequence::fail(std::exception_ptr error) {
    {
        std::lock_guard lock(mutex_);
        if (ended_) return;
        ended_ = true;
        error_ = std::move(error);
    }
    changed_.notify_all();
}

std::optional<SpeechTranscriptionResult> ResultSequence::next(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait(lock, stop, [this] { return !queue_.empty() || ended_; })) throw Cancelled();
    if (!queue_.empty()) {
        SpeechTranscriptionResult result = std::move(queue_.front());
        queue_.pop_front();
        return result;
    }
    if (error_) std::rethrow_exception(error_);
    return std::nullopt;
}

}  // namespace pelora::speech
