#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <span>
#include <vector>

namespace pelora {

// Turns an audio or video file into the engine's samples (32-bit float, 16 kHz, mono) and
// writes such samples back out as a temporary WAV file. Stateless; safe on any thread.
class AudioDecoder {
public:
    // Receives the fraction done, between 0 and 1.
    using Progress = std::function<void(double)>;

    static constexpr int kSampleRate = 16000;
    // Input sample rates outside this range are refused as undecodable: a header that
    // claims 1 Hz would otherwise turn a few bytes into hours of output, and one that
    // claims gigahertz would ask the converter for a filter of that size.
    static constexpr double kMinInputRate = 1000;
    static constexpr double kMaxInputRate = 768000;
    // No decode returns more than three hours of samples; longer input is cut there.
    static constexpr std::size_t kMaxOutputSamples = std::size_t{3} * 3600 * kSampleRate;

    // Tries the sound-file reader, then the media-container reader, then the external
    // converter, and returns the first non-empty result. Blocks until done. When every
    // route fails or yields nothing, throws PeloraVoiceError::audioDecodeFailed with the
    // file name as payload; the routes' own errors are not reported. A file whose sample
    // rate is outside the accepted range fails at once, without trying the later routes.
    // `progress` (may be empty) is told the fraction decoded, on this thread; it never goes
    // below what it was told before, also when a later route takes over.
    static std::vector<float> decode16kMono(const std::filesystem::path& url, const Progress& progress);

    // Writes the samples to a new "peloravoice_<UUID>.wav" (32-bit float, 16 kHz, mono) in
    // the temporary directory and returns its path; the caller removes it. On failure
    // nothing is left behind and the writer's error is thrown.
    static std::filesystem::path writeTemporaryWAV(std::span<const float> samples);

    AudioDecoder() = delete;

private:
    // Each route returns at most `maxSamples` samples and sets aside no more than that.
    // Sound files through the file reader and a sample-rate converter.
    static std::vector<float> decodeWithAVAudioFile(const std::filesystem::path& url, const Progress& progress,
                                                    std::size_t maxSamples);
    // Media containers (M4A, MP4, MOV, ...) through the container reader.
    static std::vector<float> decodeWithAVAssetReader(const std::filesystem::path& url, const Progress& progress,
                                                      std::size_t maxSamples);
    // /usr/bin/ffmpeg as a child process into a temporary WAV, read back by the first route.
    static std::vector<float> decodeWithAfconvert(const std::filesystem::path& url, const Progress& progress,
                                                  std::size_t maxSamples);

    friend struct AudioDecoderTestAccess;
};

}  // namespace pelora
