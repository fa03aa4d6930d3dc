#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <stdexcept>
#include <vector>

namespace pelora::audiofile {

// One sound file opened for reading (WAV, AIFF, FLAC, Ogg, MP3, ... as libsndfile knows them),
// handed out as mono 32-bit float frames; also writes mono float WAV files.
class AudioFile {
public:
    // Raised when a file cannot be opened, read or written; what() is the library's message.
    class Error : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    struct Format {
        double sampleRate = 0;
        int channelCount = 0;
        // As the file's header tells it; a damaged header can make it far too large.
        std::int64_t frameCount = 0;
    };

    // Throws Error when the file is missing or not a sound file this reader knows.
    explicit AudioFile(const std::filesystem::path& path);
    ~AudioFile();
    AudioFile(const AudioFile&) = delete;
    AudioFile& operator=(const AudioFile&) = delete;

    const Format& format() const { return format_; }
    // Frames read so far.
    std::int64_t framePosition() const { return position_; }

    // Reads up to out.size() frames, each the average of its channels. Returns the number
    // of frames read, 0 at the end. A read error throws Error even after a partial read,
    // so damaged data never passes for a shorter file.
    std::size_t readMono(std::span<float> out);

    // Writes mono 32-bit float samples as a WAV file (IEEE float, one channel).
    // Throws Error when the file cannot be created or written.
    static void writeMonoFloatWAV(const std::filesystem::path& path, std::span<const float> samples, int sampleRate);

private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
    Format format_;
    std::int64_t position_ = 0;
    std::vector<float> interleaved_;
};

}  // namespace pelora::audiofile
