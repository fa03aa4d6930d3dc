#include "platform/ml/Float16.h"

#include <bit>

#include <immintrin.h>

#include "platform/cpu/CpuFeatures.h"

namespace pelora::ml {

// The scalar conversions work on the bits alone: no compiler half type (not every
// compiler has one on this target) and no float arithmetic (which a flush-to-zero mode
// set elsewhere in the process would change for subnormals). They agree bit for bit with
// the processor's own conversion instructions used by the bulk paths.

float halfToFloat(std::uint16_t bits) {
    const std::uint32_t sign = static_cast<std::uint32_t>(bits & 0x8000) << 16;
    std::uint32_t exponent = (bits >> 10) & 0x1F;
    std::uint32_t mantissa = bits & 0x3FF;
    if (exponent == 0x1F) {
        // Infinity, or NaN made quiet with its payload kept.
        const std::uint32_t quiet = mantissa != 0 ? 0x400000 : 0;
        return std::bit_cast<float>(sign | 0x7F800000 | quiet | (mantissa << 13));
    }
    if (exponent == 0) {
        if (mantissa == 0) return std::bit_cast<float>(sign);
        // Subnormal: shift the leading one up to the implicit bit; every half is a normal float.
        const int shift = std::countl_zero(mantissa) - 21;
        mantissa = (mantissa << shift) & 0x3FF;
        exponent = static_cast<std::uint32_t>(1 - shift);
    }
    return std::bit_cast<float>(sign | ((exponent + 112) << 23) | (mantissa << 13));
}

std::uint16_t floatToHalf(float value) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    const auto sign = static_cast<std::uint16_t>((bits >> 16) & 0x8000);
    const std::uint32_t magnitude = bits & 0x7FFFFFFF;
    if (magnitude >= 0x7F800000) {
        if (magnitude == 0x7F800000) return sign | 0x7C00;
        return static_cast<std::uint16_t>(sign | 0x7E00 | ((magnitude >> 13) & 0x3FF));  // quiet NaN
    }
    if (magnitude >= 0x477FF000) return sign | 0x7C00;  // 65520 and above round to infinity
    if (magnitude >= 0x38800000) {
        // Normal half: rebias the exponent, round the mantissa to 10 bits, ties to even; a
        // carry out of the mantissa correctly steps the exponent.
        std::uint32_t rebiased = magnitude - 0x38000000;
        rebiased += 0xFFF + ((rebiased >> 13) & 1);
        return static_cast<std::uint16_t>(sign | (rebiased >> 13));
    }
    if (magnitude < 0x33000000) return sign;  // below 2^-25: rounds to zero
    // Subnormal half: the value in units of 2^-24, rounded to nearest, ties to even.
    const std::uint32_t exponent = magnitude >> 23;
    const std::uint32_t mantissa = (magnitude & 0x7FFFFF) | 0x800000;
    const std::uint32_t shift = 126 - exponent;  // 14 to 24
    std::uint32_t half = mantissa >> shift;
    const std::uint32_t rest = mantissa & ((1u << shift) - 1);
    const std::uint32_t halfway = 1u << (shift - 1);
    if (rest > halfway || (rest == halfway && (half & 1) != 0)) ++half;
    return static_cast<std::uint16_t>(sign | half);
}

namespace {

bool hasF16C() {
    static const bool supported = cpu::CpuFeatures::current().avx && cpu::CpuFeatures::current().f16c;
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
