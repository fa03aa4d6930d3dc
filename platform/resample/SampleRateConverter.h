#pragma once

#include <memory>
#include <span>
#include <stdexcept>
#include <vector>

namespace pelora::resample {

// Streaming sample-rate conversion of one channel of 32-bit float samples.
class SampleRateConverter {
public:
    class Error : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    // Throws Error when the rates are not positive or the converter cannot be made.
    SampleRateConverter(double inputRate, double outputRate);
    ~SampleRateConverter();
    SampleRateConverter(const SampleRateConverter&) = delete;
    SampleRateConverter& operator=(const SampleRateConverter&) = delete;

    // Converts the next block of input and appends whatever output is ready to `output`.
    void process(std::span<const float> input, std::vector<float>& output);
    // Appends the output still held back by the filter; call once after the last input.
    void finish(std::vector<float>& output);

private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
    double ratio_;
};

}  // namespace pelora::resample
