#include "engine/recognition/AudioDecoder.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <exception>
#include <optional>
#include <random>
#include <string>
#include <system_error>

#include "engine/recognition/OutputPrefaulter.h"
#include "engine/recognition/PeloraVoiceError.h"
#include "platform/audiofile/AudioFile.h"
#include "platform/media/MediaAudioReader.h"
#include "platform/process/ProcessRunner.h"
#include "platform/resample/SampleRateConverter.h"

namespace pelora {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kConverterChunkFrames = 32768;
constexpr std::size_t kReserveSlack = 4096;
constexpr std::size_t kAssetReaderReserve = 480000;  // 30 s
// Reservations follow the file's header, which a damaged file can fill with any number:
// no reservation exceeds what the file's size can plausibly hold (32 output samples per
// byte is above the densest common codecs) nor the output limit.
constexpr std::uintmax_t kMaxSamplesPerFileByte = 32;

const std::string kExternalConverter = "/usr/bin/ffmpeg";
// The external converter gets a minute plus a second per MiB of input before it is killed.
constexpr std::chrono::seconds kConverterBaseTime{60};
constexpr std::uintmax_t kConverterBytesPerSecond = 1 << 20;

std::string fileNameOf(const fs::path& url) { return url.filename().string(); }

std::uintmax_t fileSizeOr0(const fs::path& url) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(url, ec);
    return ec ? 0 : size;
}

std::size_t reservationFor(double expectedSamples, const fs::path& url, std::size_t maxSamples) {
    const double expected = std::isfinite(expectedSamples) && expectedSamples > 0 ? expectedSamples : 0;
    const std::uintmax_t bySize = fileSizeOr0(url) * kMaxSamplesPerFileByte + kReserveSlack;
    const double cap = static_cast<double>(std::min<std::uintmax_t>(bySize, maxSamples));
    return static_cast<std::size_t>(std::min(std::trunc(expected) + kReserveSlack, cap));
}

// Thrown by a route whose reader found a sample rate outside the accepted range: the
// header itself is hostile or broken, so no later route is tried either.
struct RateOutOfRange {};

bool acceptedInputRate(double rate) {
    return rate >= AudioDecoder::kMinInputRate && rate <= AudioDecoder::kMaxInputRate;
}

std::string newUUIDString() {
    static thread_local std::mt19937_64 generator{[] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(), device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }()};
    std::uint64_t high = generator();
    std::uint64_t low = generator();
    high = (high & 0xFFFFFFFFFFFF0FFFULL) | 0x0000000000004000ULL;  // version 4
    low = (low & 0x3FFFFFFFFFFFFFFFULL) | 0x8000000000000000ULL;    // RFC 4122 variant
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (int i = 0; i < 32; ++i) {
        const std::uint64_t word = i < 16 ? high : low;
        const int shift = 60 - 4 * (i % 16);
        text.push_back(digits[(word >> shift) & 0xF]);
        if (i == 7 || i == 11 || i == 15 || i == 19) text.push_back('-');
    }
    return text;
}

fs::path newTemporaryFile(const std::string& prefix) {
    return fs::temp_directory_path() / (prefix + newUUIDString() + ".wav");
}

// Removes a temporary file when the scope ends, on every path.
struct TemporaryFileRemover {
    fs::path path;
    ~TemporaryFileRemover() {
        std::error_code ignored;  // a leftover file cannot be helped here
        fs::remove(path, ignored);
    }
};

}  // namespace

std::vector<float> AudioDecoder::decode16kMono(const fs::path& url, const Progress& progress) {
    const fs::path standardised = fs::absolute(url).lexically_normal();
    // A route that fails part-way hands over to the next, which starts from nothing: what
    // was told stays until the new route passes it.
    double told = 0;
    const Progress onward = progress ? Progress([&progress, &told](double fraction) {
        if (fraction < told) return;
        told = fraction;
        progress(fraction);
    })
                                     : Progress();
    using Route = std::vector<float> (*)(const fs::path&, const Progress&, std::size_t);
    for (Route route : {&decodeWithAVAudioFile, &decodeWithAVAssetReader, &decodeWithAfconvert}) {
        try {
            std::vector<float> samples = route(standardised, onward, kMaxOutputSamples);
            if (!samples.empty()) return samples;
        } catch (const RateOutOfRange&) {
            break;
        } catch (const std::exception&) {
            // A failed route only means the next one is tried; the final error names the file.
        }
    }
    throw PeloraVoiceError::audioDecodeFailed(fileNameOf(standardised));
}

std::vector<float> AudioDecoder::decodeWithAVAudioFile(const fs::path& url, const Progress& progress,
                                                     std::size_t maxSamples) {
    const std::string name = fileNameOf(url);
    std::optional<audiofile::AudioFile> file;
    try {
        file.emplace(url);
    } catch (const audiofile::AudioFile::Error&) {
        throw PeloraVoiceError::audioDecodeFailed(name);
    }
    const audiofile::AudioFile::Format format = file->format();
    if (!acceptedInputRate(format.sampleRate)) throw RateOutOfRange{};
    const std::int64_t length = std::max<std::int64_t>(format.frameCount, 0);
    std::vector<float> output;
    std::vector<float> input(kConverterChunkFrames);

    if (format.sampleRate == kSampleRate && format.channelCount == 1) {
        // Already the target format: no conversion. A well-formed file fills exactly the
        // reservation and never reallocates.
        OutputPrefaulter prefaulter(output, reservationFor(static_cast<double>(length), url, maxSamples));
        while (output.size() < maxSamples) {
            const std::size_t want = std::min(input.size(), maxSamples - output.size());
            const std::size_t got = file->readMono(std::span(input).first(want));
            if (got == 0) break;
            output.insert(output.end(), input.begin(), input.begin() + static_cast<std::ptrdiff_t>(got));
            prefaulter.advance();
        }
        if (progress) progress(1.0);
        return output;
    }

    std::optional<resample::SampleRateConverter> converter;
    try {
        converter.emplace(format.sampleRate, kSampleRate);
    } catch (const resample::SampleRateConverter::Error&) {
        throw PeloraVoiceError::audioDecodeFailed(name);
    }
    const double ratio = kSampleRate / format.sampleRate;
    OutputPrefaulter prefaulter(output, reservationFor(ratio * static_cast<double>(length), url, maxSamples));
    for (;;) {
        // A read error throws here, also after earlier chunks were read: damaged data
        // fails this route rather than passing as a shorter recording.
        const std::size_t got = file->readMono(input);
        const bool belowLimit = got == 0 ? converter->finish(output, maxSamples)
                                         : converter->process(std::span(input).first(got), output, maxSamples);
        prefaulter.advance();
        if (progress) {
            // Cut at the output limit, the work is complete.
            const double done = !belowLimit ? 1.0
                                            : static_cast<double>(file->framePosition()) /
                                                  static_cast<double>(std::max<std::int64_t>(length, 1));
            progress(std::min(done, 1.0));
        }
        if (got == 0 || !belowLimit) break;
    }
    if (output.empty()) throw PeloraVoiceError::audioDecodeFailed(name);
    return output;
}

std::vector<float> AudioDecoder::decodeWithAVAssetReader(const fs::path& url, const Progress& progress,
                                                       std::size_t maxSamples) {
    const std::string name = fileNameOf(url);
    try {
        media::MediaAudioReader::Limits limits;
        limits.minInputRate = static_cast<int>(kMinInputRate);
        limits.maxInputRate = static_cast<int>(kMaxInputRate);
        limits.maxOutputSamples = maxSamples;
        media::MediaAudioReader reader(url, limits);
        if (!reader.hasAudioTrack()) throw PeloraVoiceError::audioDecodeFailed(name);

        // At least 30 s, and the container's stated length when it gives one, so that a
        // long recording is not copied over and over while it grows.
        std::vector<float> output;
        OutputPrefaulter prefaulter(
            output, std::min(maxSamples, std::max(kAssetReaderReserve,
                                                  reservationFor(reader.durationSeconds() * kSampleRate, url,
                                                                 maxSamples))));
        // The fraction follows the container's stated length; without one only the end is told.
        const double expected = reader.durationSeconds() * kSampleRate;
        while (reader.readNext(output)) {
            prefaulter.advance();
            if (progress && expected > 0) progress(std::min(static_cast<double>(output.size()) / expected, 1.0));
        }
        if (progress) progress(1.0);
        if (output.empty()) throw PeloraVoiceError::audioDecodeFailed(name);
        return output;
    } catch (const media::MediaAudioReader::RateOutOfRange&) {
        throw RateOutOfRange{};
    }
}

std::vector<float> AudioDecoder::decodeWithAfconvert(const fs::path& url, const Progress& progress,
                                                   std::size_t maxSamples) {
    const TemporaryFileRemover output{newTemporaryFile("peloravoice_afconvert_")};
    // 32-bit float WAV, 16 kHz, one channel; "-rematrix_maxval 1" keeps the mix-down a
    // plain average of the channels, as in the other routes; "-t" stops the converter at
    // the output limit rather than letting it fill the disk.
    const std::size_t limitSeconds = maxSamples / kSampleRate + (maxSamples % kSampleRate != 0 ? 1 : 0);
    const std::vector<std::string> arguments = {
        "-nostdin", "-hide_banner", "-loglevel", "error", "-i", "file:" + url.string(),
        "-vn", "-sn", "-dn", "-ac", "1", "-rematrix_maxval", "1", "-ar", std::to_string(kSampleRate),
        "-c:a", "pcm_f32le", "-t", std::to_string(limitSeconds), "-f", "wav", "file:" + output.path.string()};
    const auto timeLimit = kConverterBaseTime + std::chrono::seconds(fileSizeOr0(url) / kConverterBytesPerSecond);
    const process::ProcessRunner::Outcome outcome = process::ProcessRunner::run(
        kExternalConverter, arguments, std::chrono::duration_cast<std::chrono::milliseconds>(timeLimit));

    std::error_code ec;
    if (!outcome.succeeded() || !fs::exists(output.path, ec)) {
        throw PeloraVoiceError::audioDecodeFailed(fileNameOf(url));
    }
    return decodeWithAVAudioFile(output.path, progress, maxSamples);
}

fs::path AudioDecoder::writeTemporaryWAV(std::span<const float> samples) {
    const fs::path url = newTemporaryFile("peloravoice_");
    try {
        audiofile::AudioFile::writeMonoFloatWAV(url, samples, kSampleRate);
    } catch (...) {
        std::error_code ignored;  // the write error is the one worth reporting
        fs::remove(url, ignored);
        throw;
    }
    return url;
}

}  // namespace pelora
