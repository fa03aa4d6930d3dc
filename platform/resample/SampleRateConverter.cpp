#include "platform/resample/SampleRateConverter.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace pelora::resample {

struct SampleRateConverter::Handle {
    soxr_t soxr = nullptr;
    ~Handle() {
        if (soxr) soxr_delete(soxr);
    }
};

namespace {

// Output frames made per call into the filter.
constexpr std::size_t kBlockFrames = 16384;

}  // namespace

SampleRateConverter::SampleRateConverter(double inputRate, double outputRate)
    : handle_(std::make_unique<Handle>()), block_(kBlockFrames) {
    const auto usable = [](double rate) { return std::isfinite(rate) && rate > 0; };
    if (!usable(inputRate) || !usable(outputRate)) throw Error("sample rates must be positive");
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    handle_->soxr = soxr_create(inputRate, outputRate, 1, &error, &io, &quality, nullptr);
    if (error || !handle_->soxr) throw Error(std::string("cannot create converter: ") + (error ? error : "unknown"));
}

SampleRateConverter::~SampleRateConverter() = default;

bool SampleRateConverter::process(std::span<const float> input, std::vector<float>& output, std::size_t limit) {
    while (!input.empty()) {
        if (output.size() >= limit) return false;
        const std::size_t room = std::min(block_.size(), limit - output.size());
        std::size_t used = 0;
        std::size_t made = 0;
        soxr_error_t error = soxr_process(handle_->soxr, input.data(), input.size(), &used, block_.data(), room, &made);
        if (error) throw Error(std::string("conversion failed: ") + error);
        output.insert(output.end(), block_.begin(), block_.begin() + static_cast<std::ptrdiff_t>(made));
        if (used == 0 && made == 0) break;
        input = input.subspan(used);
    }
    return true;
}

bool SampleRateConverter::finish(std::vector<float>& output, std::size_t limit) {
    for (;;) {
        if (output.size() >= limit) return false;
        const std::size_t room = std::min(block_.size(), limit - output.size());
        std::size_t made = 0;
        soxr_error_t error = soxr_process(handle_->soxr, nullptr, 0, nullptr, block_.data(), room, &made);
        if (error) throw Error(std::string("conversion failed: ") + error);
        output.insert(output.end(), block_.begin(), block_.begin() + static_cast<std::ptrdiff_t>(made));
        if (made == 0) return true;
    }
}

}  // namespace pelora::resample
