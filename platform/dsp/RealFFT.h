#pragma once

#include <memory>

namespace pelora::dsp {

// Forward real DFT of one fixed size, planned once. Running it is thread-safe as long as
// every thread brings its own Workspace.
class RealFFT {
public:
    // Aligned scratch for one transform: `size` input samples, `size / 2 + 1` magnitudes.
    class Workspace {
    public:
        Workspace(Workspace&&) noexcept;
        Workspace& operator=(Workspace&&) noexcept;
        ~Workspace();
        float* input();
        const float* magnitudes() const;

    private:
        friend class RealFFT;
        struct Buffers;
        explicit Workspace(int size);
        std::unique_ptr<Buffers> buffers_;
    };

    // Throws std::runtime_error when the transform cannot be planned.
    explicit RealFFT(int size);
    ~RealFFT();
    RealFFT(const RealFFT&) = delete;
    RealFFT& operator=(const RealFFT&) = delete;

    int size() const { return size_; }
    Workspace makeWorkspace() const { return Workspace(size_); }

    // Transforms workspace.input() and stores |X[k]| = sqrt(re² + im²) for k = 0 … size/2.
    void magnitudes(Workspace& workspace) const;

private:
    struct Plan;
    int size_;
    std::unique_ptr<Plan> plan_;
};

}  // namespace pelora::dsp
