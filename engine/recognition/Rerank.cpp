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

#include <immintrin.h>

#include "engine/recognition/EG2Constants.h"
#include "platform/cpu/CpuFeatures.h"
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

// Dot product of one half-precision word-table row with the float query, widening each
// value exactly. Every row goes through the same code with the same order of additions,
// so equal rows always give equal products (ties then fall to the earlier slot).
using RowDot = float (*)(const std::uint16_t* row, const float* query);

float rowDotPortable(const std::uint16_t* row, const float* query) {
    float partial[8] = {};
    float widened[8];
    for (std::int64_t i = 0; i < embeddingDim; i += 8) {
        ml::convertHalfToFloat(row + i, widened, 8);
        for (int j = 0; j < 8; ++j) partial[j] += widened[j] * query[i + j];
    }
    return ((partial[0] + partial[1]) + (partial[2] + partial[3])) + ((partial[4] + partial[5]) + (partial[6] + partial[7]));
}

__attribute__((target("avx2,fma,f16c"))) float rowDotAvx2(const std::uint16_t* row, const float* query) {
    static_assert(embeddingDim % 32 == 0);
    __m256 acc0 = _mm256_setzero_ps(), acc1 = _mm256_setzero_ps();
    __m256 acc2 = _mm256_setzero_ps(), acc3 = _mm256_setzero_ps();
    const auto* halves = reinterpret_cast<const __m128i*>(row);
    for (std::int64_t i = 0; i < embeddingDim; i += 32, halves += 4) {
        acc0 = _mm256_fmadd_ps(_mm256_cvtph_ps(_mm_loadu_si128(halves)), _mm256_loadu_ps(query + i), acc0);
        acc1 = _mm256_fmadd_ps(_mm256_cvtph_ps(_mm_loadu_si128(halves + 1)), _mm256_loadu_ps(query + i + 8), acc1);
        acc2 = _mm256_fmadd_ps(_mm256_cvtph_ps(_mm_loadu_si128(halves + 2)), _mm256_loadu_ps(query + i + 16), acc2);
        acc3 = _mm256_fmadd_ps(_mm256_cvtph_ps(_mm_loadu_si128(halves + 3)), _mm256_loadu_ps(query + i + 24), acc3);
    }
    __m256 sum = _mm256_add_ps(_mm256_add_ps(acc0, acc1), _mm256_add_ps(acc2, acc3));
    __m128 quad = _mm_add_ps(_mm256_castps256_ps128(sum), _mm256_extractf128_ps(sum, 1));
    quad = _mm_add_ps(quad, _mm_movehl_ps(quad, quad));
    quad = _mm_add_ss(quad, _mm_movehdup_ps(quad));
    return _mm_cvtss_f32(quad);
}

RowDot rowDot() {
    const cpu::CpuFeatures& features = cpu::CpuFeatures::current();
    static const RowDot chosen = features.avx2 && features.fma && features.f16c ? rowDotAvx2 : rowDotPortable;
    return chosen;
}

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

    std::vector<Result> results(static_cast<std::size_t>(frames),
                                Result{0, -std::numeric_limits<float>::infinity()});
    const std::uint16_t* vec = vecArray.halves();
    const std::int32_t* bidx = bidxArray.ints();
    const RowDot dot = rowDot();

    ConcurrentLoop::shared().run(frames, [&](std::int64_t f) {
        alignas(32) float query[embeddingDim];
        ml::convertHalfToFloat(vec + f * vs, query, embeddingDim);

        // The 64 candidates in scorer order: block slot, then row within the block.
        std::int64_t rows[rerankCandidatesPerFrame];
        for (std::int64_t k = 0; k < scorerTopKBlocks; ++k) {
            const std::int64_t block = bidx[f * bs + k * ks];
            const std::int64_t firstRow = block >= 0 ? block * scorerBlockSize : 0;
            for (std::int64_t j = 0; j < scorerBlockSize; ++j) {
                const std::int64_t row = std::clamp<std::int64_t>(firstRow + j, 0, wordCount - 1);
                rows[k * scorerBlockSize + j] = row;
                _mm_prefetch(reinterpret_cast<const char*>(wordTableF16 + row * embeddingDim), _MM_HINT_T0);
            }
        }

        // The first slot holding the maximum wins; NaN never wins.
        float best = -std::numeric_limits<float>::infinity();
        std::int64_t bestSlot = 0;
        for (std::int64_t slot = 0; slot < rerankCandidatesPerFrame; ++slot) {
            const float product = dot(wordTableF16 + rows[slot] * embeddingDim, query);
            if (product > best) {
                best = product;
                bestSlot = slot;
            }
        }
        results[static_cast<std::size_t>(f)] = Result{rows[bestSlot], best};
    });
    return results;
}

}  // namespace pelora::Rerank
