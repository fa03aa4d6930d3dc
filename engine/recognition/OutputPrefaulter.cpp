#include "engine/recognition/OutputPrefaulter.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include <sys/mman.h>

namespace pelora {

namespace {

constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
// Smaller lists are made as they are written; a helper thread would cost more than it saves.
constexpr std::size_t kMinimumBytes = std::size_t{16} << 20;
constexpr std::size_t kWindowBytes = std::size_t{32} << 20;
constexpr std::size_t kStop = std::numeric_limits<std::size_t>::max();

std::uintptr_t alignUp(std::uintptr_t p) { return (p + kLargePage - 1) & ~(kLargePage - 1); }
std::uintptr_t alignDown(std::uintptr_t p) { return p & ~(kLargePage - 1); }

}  // namespace

OutputPrefaulter::OutputPrefaulter(std::vector<float>& output, std::size_t count) : output_(output) {
    output.reserve(count);
    data_ = output.data();
    const std::size_t bytes = output.capacity() * sizeof(float);
    const auto begin = reinterpret_cast<std::uintptr_t>(output.data());
    const std::uintptr_t first = alignUp(begin);
    const std::uintptr_t last = alignDown(begin + bytes);
    if (bytes < kMinimumBytes || last <= first) return;
    // Large pages: one fault per 2 MiB instead of per 4 KiB. Only a hint; without them
    // the memory is made in small pages as before.
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    helper_ = std::thread(&OutputPrefaulter::run, this, first, last);
}

OutputPrefaulter::~OutputPrefaulter() { stop(); }

void OutputPrefaulter::advance() {
    if (!helper_.joinable()) return;
    if (output_.data() != data_) {
        stop();
        return;
    }
    written_.store(output_.size() * sizeof(float), std::memory_order_relaxed);
    written_.notify_one();
}

void OutputPrefaulter::stop() {
    if (!helper_.joinable()) return;
    written_.store(kStop);
    written_.notify_one();
    helper_.join();
}

void OutputPrefaulter::run(std::uintptr_t begin, std::uintptr_t end) {
    const auto base = reinterpret_cast<std::uintptr_t>(data_);
    std::uintptr_t made = begin;
    while (made < end) {
        const std::size_t written = written_.load(std::memory_order_relaxed);
        if (written == kStop) return;
        // What the writer has passed it has made itself.
        made = std::max(made, alignDown(base + written));
        const std::uintptr_t target = std::min(end, base + written + kWindowBytes);
        if (made >= target) {
            written_.wait(written, std::memory_order_relaxed);
            continue;
        }
        // Faults the pages in as a write would, without writing: the writer may already be
        // filling them, and its samples stay as they are. A kernel without this request
        // refuses it; the writer then makes the pages itself.
        const std::uintptr_t step = std::min(kLargePage, target - made);
        if (::madvise(reinterpret_cast<void*>(made), step, MADV_POPULATE_WRITE) != 0) return;
        made += step;
    }
}

}  // namespace pelora
