#include "engine/recognition/LogMel.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <immintrin.h>

#include "engine/recognition/EG2Constants.h"
#include "engine/recognition/MappedFile.h"
#include "engine/recognition/PeloraVoiceError.h"
#include "platform/cpu/CpuFeatures.h"
#include "platform/dsp/RealFFT.h"

namespace pelora {

namespace {

std::vector<float> readTable(const std::filesystem::path& folder, const char* name, std::size_t expectedBytes) {
    auto file = MappedFile::open(folder / name);
    if (file->size() != expectedBytes) {
        throw PeloraVoiceError::invalidModelAsset(std::string(name) + " size " + std::to_string(file->size()));
    }
    std::vector<float> values(expectedBytes / sizeof(float));
    std::memcpy(values.data(), file->data(), expectedBytes);  // little-endian float32, as the host
    return values;
}

// mel (frames x 128) = spectrum (frames x 257) x filters (257 x 128), row-major: the
// whole mel projection as one matrix product.
using Projection = void (*)(const float* spectrum, std::int64_t frames, const float* filters, float* mel);

void projectPortable(const float* spectrum, std::int64_t frames, const float* filters, float* mel) {
    using namespace EG2Constants;
    for (std::int64_t f = 0; f < frames; ++f) {
        float* out = mel + f * melBins;
        std::fill(out, out + melBins, 0.0f);
        for (std::int64_t k = 0; k < spectrumBins; ++k) {
            const float s = spectrum[f * spectrumBins + k];
            const float* row = filters + k * melBins;
            for (std::int64_t m = 0; m < melBins; ++m) out[m] += s * row[m];
        }
    }
}

// Six frames by sixteen bands per pass, all twelve sums held in registers while the
// 257 bins stream by; the filter columns of one pass (16 KB) stay in the first-level cache.
__attribute__((target("avx2,fma"))) void projectAvx2(const float* spectrum, std::int64_t frames,
                                                     const float* filters, float* mel) {
    using namespace EG2Constants;
    constexpr std::int64_t kRows = 6;
    for (std::int64_t band = 0; band < melBins; band += 16) {
        std::int64_t f = 0;
        for (; f + kRows <= frames; f += kRows) {
            __m256 lo[kRows], hi[kRows];
#pragma GCC unroll 6
            for (std::int64_t r = 0; r < kRows; ++r) lo[r] = hi[r] = _mm256_setzero_ps();
            const float* s = spectrum + f * spectrumBins;
            for (std::int64_t k = 0; k < spectrumBins; ++k) {
                const __m256 b0 = _mm256_loadu_ps(filters + k * melBins + band);
                const __m256 b1 = _mm256_loadu_ps(filters + k * melBins + band + 8);
#pragma GCC unroll 6
                for (std::int64_t r = 0; r < kRows; ++r) {
                    const __m256 a = _mm256_broadcast_ss(s + r * spectrumBins + k);
                    lo[r] = _mm256_fmadd_ps(a, b0, lo[r]);
                    hi[r] = _mm256_fmadd_ps(a, b1, hi[r]);
                }
            }
#pragma GCC unroll 6
            for (std::int64_t r = 0; r < kRows; ++r) {
                _mm256_storeu_ps(mel + (f + r) * melBins + band, lo[r]);
                _mm256_storeu_ps(mel + (f + r) * melBins + band + 8, hi[r]);
            }
        }
        for (; f < frames; ++f) {
            __m256 lo = _mm256_setzero_ps(), hi = _mm256_setzero_ps();
            for (std::int64_t k = 0; k < spectrumBins; ++k) {
                const __m256 a = _mm256_broadcast_ss(spectrum + f * spectrumBins + k);
                lo = _mm256_fmadd_ps(a, _mm256_loadu_ps(filters + k * melBins + band), lo);
                hi = _mm256_fmadd_ps(a, _mm256_loadu_ps(filters + k * melBins + band + 8), hi);
            }
            _mm256_storeu_ps(mel + f * melBins + band, lo);
            _mm256_storeu_ps(mel + f * melBins + band + 8, hi);
        }
    }
}

Projection projection() {
    const cpu::CpuFeatures& features = cpu::CpuFeatures::current();
    static const Projection chosen = features.avx2 && features.fma ? projectAvx2 : projectPortable;
    return chosen;
}

}  // namespace

// One forward real DFT of 512 points, planned once; every call brings its own workspace.
struct LogMel::DftSetup {
    std::unique_ptr<dsp::RealFFT> fft;
};

LogMel::LogMel(const std::filesystem::path& folder) {
    hann_ = readTable(folder, "hann_320.f32", EG2Constants::stftWindowSamples * sizeof(float));
    filters_ = readTable(folder, "mel_filters_257x128.f32",
                         EG2Constants::spectrumBins * EG2Constants::melBins * sizeof(float));
    dftSetup_ = std::make_unique<DftSetup>();
    try {
        dftSetup_->fft = std::make_unique<dsp::RealFFT>(static_cast<int>(EG2Constants::dftSize));
    } catch (const std::runtime_error&) {
        throw PeloraVoiceError::invalidModelAsset("vDSP_DFT_zrop_CreateSetup(512) failed");
    }
}

LogMel::~LogMel() = default;

LogMel::Features LogMel::operator()(std::span<const float> samples) const {
    using namespace EG2Constants;
    Features result;
    result.mel.assign(static_cast<std::size_t>(melFramesPerWindow * melBins), 0.0f);

    const auto n = static_cast<std::int64_t>(samples.size());
    if (n + 127 < stftHopSamples || samples.data() == nullptr) return result;
    const std::int64_t validFrames = std::min(melFramesPerWindow, (n + 127) / stftHopSamples);
    result.validFrames = validFrames;

    dsp::RealFFT::Workspace workspace = dftSetup_->fft->makeWorkspace();
    std::vector<float> spectrum(static_cast<std::size_t>(validFrames * spectrumBins));
    std::fill(workspace.input() + stftWindowSamples, workspace.input() + dftSize, 0.0f);

    const float* x = samples.data();
    for (std::int64_t f = 0; f < validFrames; ++f) {
        // Frame f is centred on sample 160f; outside the input the signal is zero.
        const std::int64_t start = f * stftHopSamples - stftHopSamples;
        const std::int64_t from = std::max<std::int64_t>(0, -start);
        const std::int64_t to = std::min<std::int64_t>(stftWindowSamples, n - start);
        float* buffer = workspace.input();
        for (std::int64_t j = 0; j < from; ++j) buffer[j] = 0.0f;
        for (std::int64_t j = from; j < to; ++j) buffer[j] = x[start + j] * hann_[static_cast<std::size_t>(j)];
        for (std::int64_t j = std::max(from, to); j < stftWindowSamples; ++j) buffer[j] = 0.0f;

        dftSetup_->fft->magnitudes(workspace);
        std::copy_n(workspace.magnitudes(), spectrumBins, spectrum.data() + f * spectrumBins);
    }

    projection()(spectrum.data(), validFrames, filters_.data(), result.mel.data());

    float* mel = result.mel.data();
    const std::int64_t computed = validFrames * melBins;
    for (std::int64_t i = 0; i < computed; ++i) mel[i] = std::log(mel[i] + logMelFloor);
    return result;
}

}  // namespace pelora
