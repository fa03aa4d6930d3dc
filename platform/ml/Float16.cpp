#include "platform/ml/Float16.h"

#include <bit>

#include <immintrin.h>

namespace pelora::ml {

float halfToFloat(std::uint16_t bits) { return static_cast<float>(std::bit_cast<_Float16>(bits)); }

std::uint16_t floatToHalf(float value) { return std::bit_cast<std::uint16_t>(static_cast<_Float16>(value)); }

namespace {

bool hasF16C() {
    static const bool supported = __builtin_cpu_supports("avx") && __builtin_cpu_supports("f16c");
    return supported;
}

__attribute__((target("avx,f16c"))) void halfToFloatF16C(const std::uint16_t* source, float* destination,
                                                          std::size_t count) {
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        __m128i half = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
        _mm256_storeu_ps(destination + i, _mm256_cvtph_ps(half));
    }
    for (; i < count; ++i) destination[i] = halfToFloat(source[i]);
}

__attribute__((target("avx,f16c"))) void floatToHalfF16C(const float* source, std::uint16_t* destination,
                                                          std::size_t count) {
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        __m128i half = _mm256_cvtps_ph(_mm256_loadu_ps(source + i), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + i), half);
    }
    for (; i < count; ++i) destination[i] = floatToHalf(source[i]);
}

}  // namespace

void convertHalfToFloat(const std::uint16_t* source, float* destination, std::size_t count) {
    if (hasF16C()) return halfToFloatF16C(source, destination, count);
    for (std::size_t i = 0; i < count; ++i) destination[i] = halfToFloat(source[i]);
}

void convertFloatToHalf(const float* source, std::uint16_t* destination, std::size_t count) {
    if (hasF16C()) return floatToHalfF16C(source, destination, count);
    for (std::size_t i = 0; i < count; ++i) destination[i] = floatToHalf(source[i]);
}

}  // namespace pelora::ml
