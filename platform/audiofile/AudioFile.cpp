#include "platform/audiofile/AudioFile.h"

#include <sndfile.h>

#include <algorithm>
#include <string>

namespace pelora::audiofile {

struct AudioFile::Handle {
    SNDFILE* file = nullptr;
    ~Handle() {
        if (file) sf_close(file);
    }
};

namespace {

// Frames read per libsndfile call when channels have to be mixed down.
constexpr std::size_t kInterleavedFrames = 8192;

std::string describe(const std::filesystem::path& path, const char* what) {
    return path.filename().string() + ": " + what;
}

}  // namespace

AudioFile::AudioFile(const std::filesystem::path& path) : handle_(std::make_unique<Handle>()) {
    SF_INFO info{};
    handle_->file = sf_open(path.c_str(), SFM_READ, &info);
    if (!handle_->file) throw Error(describe(path, sf_strerror(nullptr)));
    if (info.channels < 1 || info.samplerate < 1) throw Error(describe(path, "no audio channels"));
    format_.sampleRate = info.samplerate;
    format_.channelCount = info.channels;
    format_.frameCount = info.frames;
}

AudioFile::~AudioFile() = default;

std::size_t AudioFile::readMono(std::span<float> out) {
    SNDFILE* file = handle_->file;
    const auto channels = static_cast<std::size_t>(format_.channelCount);
    std::size_t done = 0;
    if (channels == 1) {
        done = static_cast<std::size_t>(std::max<sf_count_t>(
            sf_readf_float(file, out.data(), static_cast<sf_count_t>(out.size())), 0));
    } else {
        if (interleaved_.size() < kInterleavedFrames * channels) interleaved_.resize(kInterleavedFrames * channels);
        const float scale = 1.0f / static_cast<float>(channels);
        while (done < out.size()) {
            const std::size_t want = std::min(kInterleavedFrames, out.size() - done);
            const sf_count_t got = sf_readf_float(file, interleaved_.data(), static_cast<sf_count_t>(want));
            if (got <= 0) break;
            const float* frame = interleaved_.data();
            for (sf_count_t i = 0; i < got; ++i, frame += channels) {
                float sum = 0;
                for (std::size_t c = 0; c < channels; ++c) sum += frame[c];
                out[done + static_cast<std::size_t>(i)] = sum * scale;
            }
            done += static_cast<std::size_t>(got);
            if (static_cast<std::size_t>(got) < want) break;
        }
    }
    position_ += static_cast<std::int64_t>(done);
    if (sf_error(file) != SF_ERR_NO_ERROR) throw Error(sf_strerror(file));
    return done;
}

void AudioFile::writeMonoFloatWAV(const std::filesystem::path& path, std::span<const float> samples, int sampleRate) {
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    Handle handle;
    handle.file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!handle.file) throw Error(describe(path, sf_strerror(nullptr)));
    const auto count = static_cast<sf_count_t>(samples.size());
    if (count > 0 && sf_writef_float(handle.file, samples.data(), count) != count) {
        throw Error(describe(path, sf_strerror(handle.file)));
    }
    // Closing writes the final header sizes; a failure there is a failed write too.
    SNDFILE* file = handle.file;
    handle.file = nullptr;
    if (sf_close(file) != 0) throw Error(describe(path, "cannot finish the file"));
}

}  // namespace pelora::audiofile
