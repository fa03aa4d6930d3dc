#include "platform/resample/SampleRateConverter.h"

#include <soxr.h>

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

// Output frames asked for per call while draining the filter.
constexpr std::size_t kDrainBlock = 1024;

}  // namespace

SampleRateConverter::SampleRateConverter(double inputRate, double outputRate)
    : handle_(std::make_unique<Handle>()), ratio_(outputRate / inputRate) {
    if (!(inputRate > 0) || !(outputRate > 0)) throw Error("sample rates must be positive");
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    handle_->soxr = soxr_create(inputRate, outputRate, 1, &error, &io, &quality, nullptr);
    if (error || !handle_->soxr) throw Error(std::string("cannot create converter: ") + (error ? error : "unknown"));
}

SampleRateConverter::~SampleRateConverter() = default;

void SampleRateConverter::process(std::span<const float> input, std::vector<float>& output) {
    while (!input.empty()) {
        // Room for everything this input can yield; the filter may hold some back.
        const auto room = static_cast<std::size_t>(std::ceil(static_cast<double>(input.size()) * ratio_)) + 64;
        const std::size_t start = output.size();
        output.resize(start + room);
        std::size_t used = 0;
        std::size_t made = 0;
        soxr_error_t error =
            soxr_process(handle_->soxr, input.data(), input.size(), &used, output.data() + start, room, &made);
        output.resize(start + made);
        if (error) throw Error(std::string("conversion failed: ") + error);
        if (used == 0 && made == 0) break;
        input = input.subspan(used);
    }
}

void SampleRateConverter::finish(std::vector<float>& output) {
    for (;;) {
        const std::size_t start = output.size();
        output.resize(start + kDrainBlock);
        std::size_t made = 0;
        soxr_error_t error =
            soxr_process(handle_->soxr, nullptr, 0, nullptr, output.data() + start, kDrainBlock, &made);
        output.resize(start + made);
        if (error) throw Error(std::string("conversion failed: ") + error);
        if (made == 0) break;
    }
}

}  // namespace pelora::resample
