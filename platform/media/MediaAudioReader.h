#pragma once

#include <cstddef>
#include <filesystem>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

namespace pelora::media {

// The audio of one media file (audio-only or with video), decoded packet by packet and
// handed out as 16 kHz mono 32-bit float samples, channels averaged.
class MediaAudioReader {
public:
    // Raised when the file cannot be opened, read or decoded; what() is the library's message.
    class Error : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    // Raised when the audio declares a sample rate outside the accepted range, on opening
    // or at any frame later on.
    class RateOutOfRange : public Error {
    public:
        using Error::Error;
    };

    // What a file may ask of the reader, whatever its headers say.
    struct Limits {
        int minInputRate = 1;
        int maxInputRate = std::numeric_limits<int>::max();
        // Reading stops once the output holds this many samples.
        std::size_t maxOutputSamples = std::numeric_limits<std::size_t>::max();
    };

    static constexpr int kOutputSampleRate = 16000;

    // Opens the container and picks its main audio stream. Throws Error when the file
    // cannot be opened as media or its audio has no decoder, RateOutOfRange when the
    // stream's declared rate is outside the limits.
    MediaAudioReader(const std::filesystem::path& path, Limits limits);
    explicit MediaAudioReader(const std::filesystem::path& path);
    ~MediaAudioReader();
    MediaAudioReader(const MediaAudioReader&) = delete;
    MediaAudioReader& operator=(const MediaAudioReader&) = delete;

    // False when the container holds no audio stream; nothing can be read then.
    bool hasAudioTrack() const;
    // The container's own estimate of the audio's length; 0 when it gives none.
    double durationSeconds() const;

    // Decodes the next packet of the audio stream and appends its samples to `out`.
    // Returns false once the stream has ended and every held-back sample was appended, or
    // once `out` holds the limit's number of samples (it never holds more).
    // A read or decode error throws Error, also after earlier packets decoded fine.
    bool readNext(std::vector<float>& out);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace pelora::media
