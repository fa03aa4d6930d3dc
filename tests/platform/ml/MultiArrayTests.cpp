#include <gtest/gtest.h>

#include <vector>

#include "platform/ml/ModelError.h"
#include "platform/ml/MultiArray.h"

namespace pelora::ml {
namespace {

TEST(MultiArray, ContiguousArrayHasRowMajorStridesAndZeroes) {
    MultiArray array({1, 500, 768}, ElementType::float16);
    EXPECT_EQ(array.count(), 384000);
    EXPECT_EQ(array.strides(), (std::vector<std::int64_t>{384000, 768, 1}));
    EXPECT_TRUE(array.isContiguous());
    EXPECT_EQ(array.halves()[383999], 0);
}

TEST(MultiArray, StorageCoversStridedLayoutsBeyondTheCount) {
    // Rows padded to 1000 elements: the last element sits at 499 * 1000 + 767.
    MultiArray padded({1, 500, 768}, {500000, 1000, 1}, ElementType::float32);
    EXPECT_EQ(padded.count(), 384000);
    EXPECT_FALSE(padded.isContiguous());
    padded.floats()[499 * 1000 + 767] = 1.5f;
    EXPECT_EQ(padded.floatValue(499 * 1000 + 767), 1.5f);

    // Overlapping strides reach fewer elements than the count; the count still fits.
    MultiArray overlapping({4, 8}, {1, 1}, ElementType::int32);
    overlapping.ints()[31] = 7;
    EXPECT_EQ(overlapping.floatValue(31), 7.0f);
}

TEST(MultiArray, RefusesBadLayoutsAndWrongTypedViews) {
    struct Case {
        std::vector<std::int64_t> shape;
        std::vector<std::int64_t> strides;
    };
    const Case cases[] = {
        {{2, -1}, {1, 1}},
        {{2, 3}, {3, -1}},
        {{2, 3}, {3}},
        {{1LL << 40, 1LL << 40}, {1LL << 40, 1}},
    };
    for (const Case& c : cases) {
        EXPECT_THROW(MultiArray(c.shape, c.strides, ElementType::float32), ModelError) << "shape[0] " << c.shape[0];
    }
    MultiArray array({2}, ElementType::float16);
    EXPECT_THROW(array.floats(), ModelError);
    EXPECT_THROW(array.ints(), ModelError);
    EXPECT_NO_THROW(array.halves());
}

TEST(MultiArray, EmptyShapeDimensionMeansNoElements) {
    MultiArray empty({3, 0}, ElementType::float32);
    EXPECT_EQ(empty.count(), 0);
}

}  // namespace
}  // namespace pelora::ml
