#pragma once

#include <cstdint>
#include <vector>

#include "platform/ml/MultiArray.h"

// Picks the best word-table row for each output frame of an EG2 window: the 64 rows of
// the scorer's 16 proposed blocks are read straight from the half-precision word table
// and scored by their dot product with the frame's reader vector. Frames run in parallel.
namespace pelora::Rerank {

struct Result {
    std::int64_t wordIndex = 0;
    float maxDot = 0;
};

// `wordTableF16` holds `wordCount` rows of 768 half-precision values. `vecArray` (half
// precision) holds the frames' vectors, frame f at element f x vs; `bidxArray` (32-bit
// integers) the block ids, block k of frame f at element f x bs + k x ks. Returns one
// result per frame, min(frameCount, 500) of them, or nothing when frameCount or
// wordCount is below 1, an array has another element type, or an array is too short for
// its strides. Never throws.
std::vector<Result> run(const std::uint16_t* wordTableF16, std::int64_t wordCount, std::int64_t frameCount,
                        const ml::MultiArray& vecArray, const ml::MultiArray& bidxArray);

}  // namespace pelora::Rerank
