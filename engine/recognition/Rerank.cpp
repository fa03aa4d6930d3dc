#include "engine/recognition/Rerank.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>

#include <cblas.h>

#include "engine/recognition/BlasThreading.h"
#include "engine/recognition/EG2Constants.h"
#include "platform/ml/Float16.h"

namespace pelora::Rerank {

namespace {

using EG2Constants::embeddingDim;
using EG2Constants::rerankCandidatesPerFrame;
using EG2Constants::scorerBlockSize;
using EG2Constants::scorerTopKBlocks;

// A fixed set of worker threads that run the iterations of one loop together with the
// calling thread; run() returns when every iteration is done. Loops from several
// callers may be in flight at once: each caller always works through its own loop.
class ConcurrentLoop {
public:
    static ConcurrentLoop& shared() {
        static ConcurrentLoop pool(std::max(1u, std::thread::hardware_concurrency()) - 1);
        return pool;
    }

    ~ConcurrentLoop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (auto& worker : workers_) worker.join();
    }

    void run(std::int64_t count, const std::function<void(std::int64_t)>& body) {
        Job job{count, &body};
        if (workers_.empty() || count < 2) {
            job.work();
            return;
        }
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back(&job);
        }
        wake_.notify_all();
        job.work();
        std::unique_lock lock(mutex_);
        std::erase(jobs_, &job);  // no further helper can join
        idle_.wait(lock, [&] { return job.helpers == 0; });
    }

private:
    struct Job {
        std::int64_t count;
        const std::function<void(std::int64_t)>* body;
        std::atomic<std::int64_t> next{0};
        int helpers = 0;  // guarded by the pool's mutex

        void work() {
            for (std::int64_t i = next.fetch_add(1); i < count; i = next.fetch_add(1)) (*body)(i);
        }
    };

    explicit ConcurrentLoop(unsigned workers) {
        for (unsigned i = 0; i < workers; ++i) workers_.emplace_back([this] { serve(); });
    }

    void serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
            if (stopping_) return;
            Job* job = jobs_.front();
            ++job->helpers;
            lock.unlock();
            job->work();
            lock.lock();
            // Every iteration of this loop has been taken; let later loops through.
            if (!jobs_.empty() && jobs_.front() == job) jobs_.pop_front();
            if (--job->helpers == 0) idle_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Job*> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

// A stride from the array's own list, or the fallback; a stride below 1 counts as 1.
std::int64_t strideOr(const ml::MultiArray& array, std::size_t position, std::int64_t fallback) {
    const auto& strides = array.strides();
    if (strides.size() <= position) return fallback;
    return std::max<std::int64_t>(strides[position], 1);
}

// base + a x b + c, or nothing when it does not fit in 64 bits.
std::optional<std::int64_t> checkedSpan(std::int64_t a, std::int64_t b, std::int64_t c) {
    std::int64_t product = 0, sum = 0;
    if (__builtin_mul_overflow(a, b, &product) || __builtin_add_overflow(product, c, &sum)) return std::nullopt;
    return sum;
}

// Per-thread scratch, allocated once per thread and reused for every frame.
struct Scratch {
    std::vector<float> query = std::vector<float>(embeddingDim);
    std::vector<float> candidates = std::vector<float>(rerankCandidatesPerFrame * embeddingDim);
    std::vector<std::int64_t> rows = std::vector<std::int64_t>(rerankCandidatesPerFrame);
    std::vector<float> dots = std::vector<float>(rerankCandidatesPerFrame);
};

}  // namespace

std::vector<Result> run(const std::uint16_t* wordTableF16, std::int64_t wordCount, std::int64_t frameCount,
                        const ml::MultiArray& vecArray, const ml::MultiArray& bidxArray) {
    const std::int64_t frames = std::min<std::int64_t>(std::max<std::int64_t>(frameCount, 0),
                                                       EG2Constants::outputFramesPerWindow);
    if (frameCount < 1 || wordCount < 1 || wordTableF16 == nullptr) return {};
    if (vecArray.dataType() != ml::ElementType::float16 || bidxArray.dataType() != ml::ElementType::int32) return {};

    const std::int64_t vs = strideOr(vecArray, 1, embeddingDim);
    const std::int64_t bs = strideOr(bidxArray, 1, scorerTopKBlocks);
    const std::int64_t ks = strideOr(bidxArray, 2, 1);

    auto lastBlockOffset = checkedSpan(scorerTopKBlocks - 1, ks, 1);
    auto vecNeeded = checkedSpan(frames - 1, vs, embeddingDim);
    auto bidxNeeded = lastBlockOffset ? checkedSpan(frames - 1, bs, *lastBlockOffset) : std::nullopt;
    if (!vecNeeded || !bidxNeeded || vecArray.count() < *vecNeeded || bidxArray.count() < *bidxNeeded) return {};

    BlasThreading::useCallingThreadOnly();
    std::vector<Result> results(static_cast<std::size_t>(frames),
                                Result{0, -std::numeric_limits<float>::infinity()});
    const std::uint16_t* vec = vecArray.halves();
    const std::int32_t* bidx = bidxArray.ints();

    ConcurrentLoop::shared().run(frames, [&](std::int64_t f) {
        thread_local Scratch scratch;
        ml::convertHalfToFloat(vec + f * vs, scratch.query.data(), embeddingDim);

        for (std::int64_t k = 0; k < scorerTopKBlocks; ++k) {
            const std::int64_t block = bidx[f * bs + k * ks];
            const std::int64_t firstRow = block >= 0 ? block * scorerBlockSize : 0;
            for (std::int64_t j = 0; j < scorerBlockSize; ++j) {
                const std::int64_t slot = k * scorerBlockSize + j;
                const std::int64_t row = std::clamp<std::int64_t>(firstRow + j, 0, wordCount - 1);
                scratch.rows[static_cast<std::size_t>(slot)] = row;
                ml::convertHalfToFloat(wordTableF16 + row * embeddingDim,
                                       scratch.candidates.data() + slot * embeddingDim, embeddingDim);
            }
        }

        cblas_sgemv(CblasRowMajor, CblasNoTrans, static_cast<int>(rerankCandidatesPerFrame),
                    static_cast<int>(embeddingDim), 1.0f, scratch.candidates.data(), static_cast<int>(embeddingDim),
                    scratch.query.data(), 1, 0.0f, scratch.dots.data(), 1);

        // The first slot holding the maximum wins; NaN never wins.
        float best = -std::numeric_limits<float>::infinity();
        std::size_t bestSlot = 0;
        for (std::size_t slot = 0; slot < scratch.dots.size(); ++slot) {
            if (scratch.dots[slot] > best) {
                best = scratch.dots[slot];
                bestSlot = slot;
            }
        }
        results[static_cast<std::size_t>(f)] = Result{scratch.rows[bestSlot], best};
    });
    return results;
}

}  // namespace pelora::Rerank
