#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

namespace pelora {

// Log-mel features of up to one 20 s window of 16 kHz mono samples: 2000 frames of 128
// natural-log mel energies (frame-major), the first `validFrames` computed and the rest
// exactly 0. Built once from the model folder's window and filter tables; immutable and
// safe to call from several threads afterwards.
class LogMel {
public:
    struct Features {
        std::vector<float> mel;  // 2000 x 128
        std::int64_t validFrames = 0;
    };

    // Reads "hann_320.f32" and "mel_filters_257x128.f32". A read failure throws the
    // file system's error; a table of the wrong size throws invalidModelAsset.
    explicit LogMel(const std::filesystem::path& folder);
    ~LogMel();
    LogMel(const LogMel&) = delete;
    LogMel& operator=(const LogMel&) = delete;

    // Never throws (beyond running out of memory).
    Features operator()(std::span<const float> samples) const;

    const std::vector<float>& hann() const { return hann_; }
    // 257 x 128, row-major by spectrum bin.
    const std::vector<float>& filters() const { return filters_; }

private:
    struct DftSetup;

    std::vector<float> hann_;
    std::vector<float> filters_;
    std::unique_ptr<DftSetup> dftSetup_;
};

}  // namespace pelora
