#pragma once

#include <chrono>
#include <optional>

namespace pelora {

// How far the transcription of a file has come: first the file is read (decoded), then
// the samples are recognised.
struct FileTranscriptionProgress {
    enum class Phase { decoding, recognizing };
    Phase phase = Phase::decoding;
    // From 0 to 1; none while the stage at work cannot tell (the EG2-only mode's recognition).
    std::optional<double> fraction;

    bool operator==(const FileTranscriptionProgress&) const = default;
};

// Turns the reports of a file's stages into the values the window shows: within a phase
// the fraction never goes back, and at most one value is published per interval. A report
// that comes too soon is kept (the latest wins) and published by wake() once the interval
// is over, so the last word of a burst is never lost. Toolkit-free; the caller owns the
// clock and the timer.
class FileTranscriptionProgressThrottle {
public:
    using Duration = std::chrono::nanoseconds;
    static constexpr Duration interval = std::chrono::milliseconds(100);

    struct Step {
        std::optional<FileTranscriptionProgress> publish;  // to publish now
        std::optional<Duration> wakeAt;                     // call wake() then
        bool operator==(const Step&) const = default;
    };

    // A new transcription: forgets the last one; `first` is published at `now`.
    FileTranscriptionProgress start(FileTranscriptionProgress first, Duration now);
    // A stage's report at `now`. A report of an earlier phase than the latest one is dropped.
    Step report(FileTranscriptionProgress value, Duration now);
    // The time asked for by an earlier step has come.
    Step wake(Duration now);

private:
    Step publishOrWait(Duration now);

    FileTranscriptionProgress latest_;
    FileTranscriptionProgress published_;
    std::optional<Duration> publishedAt_;
    bool waking_ = false;
};

}  // namespace pelora
