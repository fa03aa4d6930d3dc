#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

namespace pelora {

// Sets aside a sample list that will be written front to back, and makes its memory on a
// helper thread, a window ahead of the writer. Fresh memory costs a kernel fault per page
// on first write; for an hour of samples (230 MB) that costs about as much as decoding
// the audio, and here it overlaps the decoding instead. Only memory within the window
// ahead of what was written is made, so a reservation taken from an overstated header
// costs no more than the window. Nothing is written into the list; the writer's samples
// are never touched.
class OutputPrefaulter {
public:
    // Reserves `count` samples in `output` (which must be empty) and starts the helper
    // when the reservation is large enough to be worth one.
    OutputPrefaulter(std::vector<float>& output, std::size_t count);
    // Stops the helper and waits for it.
    ~OutputPrefaulter();
    OutputPrefaulter(const OutputPrefaulter&) = delete;
    OutputPrefaulter& operator=(const OutputPrefaulter&) = delete;

    // Call after appending to the list: moves the window on. When the list outgrew its
    // reservation (and so moved), the helper stops.
    void advance();

private:
    void stop();
    void run(std::uintptr_t begin, std::uintptr_t end);

    const std::vector<float>& output_;
    const float* data_;
    std::atomic<std::size_t> written_{0};  // bytes; SIZE_MAX asks the helper to stop
    std::thread helper_;
};

}  // namespace pelora
