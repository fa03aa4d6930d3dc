#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <stop_token>

#include "platform/speech/SpeechTranscriptionResult.h"

namespace pelora::speech {

// The transcriber's results in the order it produced them, handed from the thread that
// analyses the audio to the one that consumes them. The producer ends the sequence with
// finish() or fail(); results already queued are still delivered before the end or error.
class ResultSequence {
public:
    // Thrown by next() when the consumer's stop token is triggered while it waits.
    class Cancelled : public std::runtime_error {
    public:
        Cancelled() : std::runtime_error("result sequence cancelled") {}
    };

    // Producer side. Calls after the sequence ended are ignored.
    void yield(SpeechTranscriptionResult result);
    void finish();
    void fail(std::exception_ptr error);

    // Consumer side: the next result, or none once the sequence finished. Blocks until one
    // is ready; rethrows the producer's error at its place in the sequence.
    std::optional<SpeechTranscriptionResult> next(std::stop_token stop = {});

private:
    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::deque<SpeechTranscriptionResult> queue_;
    bool ended_ = false;
    std::exception_ptr error_;
};

}  // namespace pelora::speech
