#include "engine/recognition/LogMel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include <cblas.h>
#include <fftw3.h>

#include "engine/recognition/BlasThreading.h"
#include "engine/recognition/EG2Constants.h"
#include "engine/recognition/MappedFile.h"
#include "engine/recognition/PeloraVoiceError.h"

namespace pelora {

namespace {

// FFTW's planner is not thread-safe; plan creation and destruction go through this lock.
std::mutex& plannerLock() {
    static std::mutex lock;
    return lock;
}

template <typename T>
struct FftwFree {
    void operator()(T* p) const { fftwf_free(p); }
};
template <typename T>
using FftwBuffer = std::unique_ptr<T, FftwFree<T>>;

FftwBuffer<float> allocReal(std::size_t n) {
    float* p = fftwf_alloc_real(n);
    if (!p) throw std::bad_alloc();
    return FftwBuffer<float>(p);
}
FftwBuffer<fftwf_complex> allocComplex(std::size_t n) {
    fftwf_complex* p = fftwf_alloc_complex(n);
    if (!p) throw std::bad_alloc();
    return FftwBuffer<fftwf_complex>(p);
}

std::vector<float> readTable(const std::filesystem::path& folder, const char* name, std::size_t expectedBytes) {
    auto file = MappedFile::open(folder / name);
    if (file->size() != expectedBytes) {
        throw PeloraVoiceError::invalidModelAsset(std::string(name) + " size " + std::to_string(file->size()));
    }
    std::vector<float> values(expectedBytes / sizeof(float));
    std::memcpy(values.data(), file->data(), expectedBytes);  // little-endian float32, as the host
    return values;
}

}  // namespace

// One forward real DFT of 512 points, planned once. Executing a plan on new arrays is
// thread-safe in FFTW, so every call brings its own (equally aligned) buffers.
struct LogMel::DftSetup {
    fftwf_plan plan = nullptr;

    DftSetup() {
        const auto n = static_cast<int>(EG2Constants::dftSize);
        auto in = allocReal(static_cast<std::size_t>(n));
        auto out = allocComplex(static_cast<std::size_t>(n / 2 + 1));
        std::lock_guard lock(plannerLock());
        plan = fftwf_plan_dft_r2c_1d(n, in.get(), out.get(), FFTW_ESTIMATE);
    }
    ~DftSetup() {
        if (!plan) return;
        std::lock_guard lock(plannerLock());
        fftwf_destroy_plan(plan);
    }
};

LogMel::LogMel(const std::filesystem::path& folder) {
    hann_ = readTable(folder, "hann_320.f32", EG2Constants::stftWindowSamples * sizeof(float));
    filters_ = readTable(folder, "mel_filters_257x128.f32",
                         EG2Constants::spectrumBins * EG2Constants::melBins * sizeof(float));
    dftSetup_ = std::make_unique<DftSetup>();
    if (!dftSetup_->plan) throw PeloraVoiceError::invalidModelAsset("vDSP_DFT_zrop_CreateSetup(512) failed");
    BlasThreading::useCallingThreadOnly();
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

    auto frame = allocReal(static_cast<std::size_t>(dftSize));
    auto bins = allocComplex(static_cast<std::size_t>(spectrumBins));
    std::vector<float> spectrum(static_cast<std::size_t>(validFrames * spectrumBins));
    std::fill(frame.get() + stftWindowSamples, frame.get() + dftSize, 0.0f);

    const float* x = samples.data();
    for (std::int64_t f = 0; f < validFrames; ++f) {
        // Frame f is centred on sample 160f; outside the input the signal is zero.
        const std::int64_t start = f * stftHopSamples - stftHopSamples;
        const std::int64_t from = std::max<std::int64_t>(0, -start);
        const std::int64_t to = std::min<std::int64_t>(stftWindowSamples, n - start);
        float* buffer = frame.get();
        for (std::int64_t j = 0; j < from; ++j) buffer[j] = 0.0f;
        for (std::int64_t j = from; j < to; ++j) buffer[j] = x[start + j] * hann_[static_cast<std::size_t>(j)];
        for (std::int64_t j = std::max(from, to); j < stftWindowSamples; ++j) buffer[j] = 0.0f;

        fftwf_execute_dft_r2c(dftSetup_->plan, buffer, bins.get());

        float* row = spectrum.data() + f * spectrumBins;
        for (std::int64_t k = 0; k < spectrumBins; ++k) {
            const float re = bins.get()[k][0];
            const float im = bins.get()[k][1];
            row[k] = std::sqrt(re * re + im * im);
        }
    }

    cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, static_cast<int>(validFrames), static_cast<int>(melBins),
                static_cast<int>(spectrumBins), 1.0f, spectrum.data(), static_cast<int>(spectrumBins),
                filters_.data(), static_cast<int>(melBins), 0.0f, result.mel.data(), static_cast<int>(melBins));

    float* mel = result.mel.data();
    const std::int64_t computed = validFrames * melBins;
    for (std::int64_t i = 0; i < computed; ++i) mel[i] = std::log(mel[i] + logMelFloor);
    return result;
}

}  // namespace pelora
