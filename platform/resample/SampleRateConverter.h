#pragma once

#include <cstddef>
#include <limits>
#include <memory>
#include <span>
#include <stdexcept>
#include <vector>

namespace pelora::resample {

// Streaming sample-rate conversion of one channel of 32-bit float samples. Output is made
// in blocks of a fixed size, so one call never sets aside memory in proportion to the
// conversion ratio, and it is appended without first clearing the room it lands in.
class SampleRateConverter {
public:
    class Error : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    static constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

    // Throws Error when a rate is not a positive finite number or the converter cannot be made.
    SampleRateConverter(double inputRate, double outputRate);
    ~SampleRateConverter();
    SampleRateConverter(const SampleRateConverter&) = delete;
    SampleRateConverter& operator=(const SampleRateConverter&) = delete;

    // Converts the next block of input and appends whatever output is ready to `output`,
    // but never lets `output` grow beyond `limit` samples: once it holds that many, the rest
    // of this input is dropped. Returns false when the limit stopped it.
    bool process(std::span<const float> input, std::vector<float>& output, std::size_t limit = kUnlimited);
    // Appends the output still held back by the filter, up to `limit` as above; call once
    // after the last input.
    bool finish(std::vector<float>& output, std::size_t limit = kUnlimited);

private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
    std::vector<float> block_;
};

}  // namespace pelora::resample
