#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "platform/ml/Float16.h"

namespace pelora::ml {
namespace {

struct Case {
    float value;
    std::uint16_t bits;
};

TEST(Float16, NarrowsWithRoundToNearestEven) {
    const Case cases[] = {
        {1.0f, 0x3C00},
        {-2.0f, 0xC000},
        {0.0f, 0x0000},
        {-0.0f, 0x8000},
        {65504.0f, 0x7BFF},                      // largest finite half
        {65519.0f, 0x7BFF},                      // just below the rounding boundary
        {65520.0f, 0x7C00},                      // rounds up to infinity
        {std::ldexp(1.0f, -24), 0x0001},         // smallest subnormal
        {std::ldexp(1.0f, -25), 0x0000},         // halfway to zero: ties to even
        {std::ldexp(3.0f, -25), 0x0002},         // halfway between 1 and 2 ulps: ties to even
        {1.0f + std::ldexp(1.0f, -11), 0x3C00},  // halfway above 1: ties to even (down)
        {1.0f + std::ldexp(3.0f, -11), 0x3C02},  // halfway: ties to even (up)
        {std::numeric_limits<float>::infinity(), 0x7C00},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(floatToHalf(c.value), c.bits) << "value " << c.value;
        std::uint16_t bulk = 0;
        convertFloatToHalf(&c.value, &bulk, 1);
        EXPECT_EQ(bulk, c.bits) << "value " << c.value;
    }
    std::uint16_t nan = floatToHalf(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(nan & 0x7C00, 0x7C00);
    EXPECT_NE(nan & 0x03FF, 0);
}

TEST(Float16, WideningIsExactForEveryHalfAndBulkAgreesWithScalar) {
    std::vector<std::uint16_t> all(65536);
    for (std::uint32_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::uint16_t>(i);
    std::vector<float> widened(all.size());
    convertHalfToFloat(all.data(), widened.data(), all.size());  // the vectorised path with a scalar tail
    std::vector<std::uint16_t> back(all.size());
    convertFloatToHalf(widened.data(), back.data(), all.size());
    for (std::uint32_t i = 0; i < all.size(); ++i) {
        float scalar = halfToFloat(all[i]);
        if (std::isnan(scalar)) {
            EXPECT_TRUE(std::isnan(widened[i])) << "bits " << i;
            continue;
        }
        ASSERT_EQ(std::bit_cast<std::uint32_t>(widened[i]), std::bit_cast<std::uint32_t>(scalar)) << "bits " << i;
        ASSERT_EQ(back[i], all[i]) << "bits " << i;
        ASSERT_EQ(floatToHalf(scalar), all[i]) << "bits " << i;
    }
    EXPECT_EQ(halfToFloat(0x3C00), 1.0f);
    EXPECT_EQ(halfToFloat(0x0001), std::ldexp(1.0f, -24));
}

TEST(Float16, NarrowingAgreesWithTheBulkPathAroundEveryRoundingBoundary) {
    // For every finite half: the float halfway to the next half and its two neighbours,
    // plus a sweep across the whole float range. Where the processor converts in bulk,
    // the scalar conversion must give its bits exactly.
    std::vector<float> values;
    for (std::uint32_t h = 0; h < 0x7C00; ++h) {
        const float low = halfToFloat(static_cast<std::uint16_t>(h));
        const float high = h + 1 < 0x7C00 ? halfToFloat(static_cast<std::uint16_t>(h + 1)) : 65536.0f;
        const auto middle = std::bit_cast<std::uint32_t>((low + high) / 2);
        for (std::uint32_t bits : {middle - 1, middle, middle + 1}) {
            values.push_back(std::bit_cast<float>(bits));
            values.push_back(-std::bit_cast<float>(bits));
        }
    }
    for (std::uint64_t bits = 0; bits <= 0xFFFFFFFF; bits += 4099) values.push_back(std::bit_cast<float>(std::uint32_t(bits)));
    values.resize(values.size() / 8 * 8);
    std::vector<std::uint16_t> bulk(values.size());
    convertFloatToHalf(values.data(), bulk.data(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::uint16_t scalar = floatToHalf(values[i]);
        if (std::isnan(values[i])) {
            EXPECT_EQ(scalar & 0x7E00, 0x7E00) << "a NaN narrows to a quiet NaN: " << std::bit_cast<std::uint32_t>(values[i]);
            continue;
        }
        ASSERT_EQ(scalar, bulk[i]) << "float bits " << std::hex << std::bit_cast<std::uint32_t>(values[i]);
    }
}

}  // namespace
}  // namespace pelora::ml
