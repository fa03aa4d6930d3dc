#include "platform/dsp/RealFFT.h"

#include <cmath>
#include <mutex>
#include <new>
#include <stdexcept>

#include <fftw3.h>

namespace pelora::dsp {

namespace {

// FFTW's planner is not thread-safe; plan creation and destruction go through this lock.
std::mutex& plannerLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace

struct RealFFT::Workspace::Buffers {
    float* in = nullptr;
    fftwf_complex* out = nullptr;
    float* mags = nullptr;
    explicit Buffers(int size) {
        in = fftwf_alloc_real(static_cast<std::size_t>(size));
        out = fftwf_alloc_complex(static_cast<std::size_t>(size / 2 + 1));
        mags = fftwf_alloc_real(static_cast<std::size_t>(size / 2 + 1));
        if (!in || !out || !mags) {
            release();
            throw std::bad_alloc();
        }
        for (int i = 0; i < size; ++i) in[i] = 0.0f;
    }
    ~Buffers() { release(); }
    void release() {
        if (in) fftwf_free(in);
        if (out) fftwf_free(out);
        if (mags) fftwf_free(mags);
        in = nullptr;
        out = nullptr;
        mags = nullptr;
    }
};

RealFFT::Workspace::Workspace(int size) : buffers_(std::make_unique<Buffers>(size)) {}
RealFFT::Workspace::Workspace(Workspace&&) noexcept = default;
RealFFT::Workspace& RealFFT::Workspace::operator=(Workspace&&) noexcept = default;
RealFFT::Workspace::~Workspace() = default;
float* RealFFT::Workspace::input() { return buffers_->in; }
const float* RealFFT::Workspace::magnitudes() const { return buffers_->mags; }

struct RealFFT::Plan {
    fftwf_plan plan = nullptr;
    ~Plan() {
        if (!plan) return;
        std::lock_guard lock(plannerLock());
        fftwf_destroy_plan(plan);
    }
};

RealFFT::RealFFT(int size) : size_(size), plan_(std::make_unique<Plan>()) {
    if (size < 2) throw std::runtime_error("FFT size " + std::to_string(size));
    // Planned on buffers of the same kind the workspaces use, so their alignment matches.
    // FFTW_ESTIMATE keeps the algorithm, and so the rounding, the same from run to run.
    Workspace probe(size);
    std::lock_guard lock(plannerLock());
    plan_->plan = fftwf_plan_dft_r2c_1d(size, probe.buffers_->in, probe.buffers_->out, FFTW_ESTIMATE);
    if (!plan_->plan) throw std::runtime_error("cannot plan an FFT of size " + std::to_string(size));
}

RealFFT::~RealFFT() = default;

void RealFFT::magnitudes(Workspace& workspace) const {
    Workspace::Buffers& b = *workspace.buffers_;
    fftwf_execute_dft_r2c(plan_->plan, b.in, b.out);
    const int bins = size_ / 2 + 1;
    for (int k = 0; k < bins; ++k) {
        const float re = b.out[k][0];
        const float im = b.out[k][1];
        b.mags[k] = std::sqrt(re * re + im * im);
    }
}

}  // namespace pelora::dsp
