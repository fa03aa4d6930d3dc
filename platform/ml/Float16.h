#pragma once

#include <cstddef>
#include <cstdint>

// IEEE half-precision values stored as their 16 bits. Widening is exact; narrowing
// rounds to nearest, ties to even, and keeps infinities and NaN.
namespace pelora::ml {

float halfToFloat(std::uint16_t bits);
std::uint16_t floatToHalf(float value);

// Bulk conversions of `count` contiguous values (vectorised where the processor allows).
void convertHalfToFloat(const std::uint16_t* source, float* destination, std::size_t count);
void convertFloatToHalf(const float* source, std::uint16_t* destination, std::size_t count);

}  // namespace pelora::ml
