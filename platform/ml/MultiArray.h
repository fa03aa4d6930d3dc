#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace pelora::ml {

enum class ElementType { float32, float16, int32 };

std::size_t elementSize(ElementType type);
std::string_view elementTypeName(ElementType type);

// A multi-dimensional array as models take and give them: element type, shape, strides
// (in elements) and the storage. `count()` is the product of the shape; the storage
// always holds every element index below `count()` and every position the strides
// address, so a reader that checks its indices against `count()` stays in bounds.
// Half-precision elements are stored as their 16 bits.
class MultiArray {
public:
    // A contiguous, zero-filled array (row-major strides).
    MultiArray(std::vector<std::int64_t> shape, ElementType dataType);
    // A zero-filled array laid out by the given strides (one per dimension, none negative).
    MultiArray(std::vector<std::int64_t> shape, std::vector<std::int64_t> strides, ElementType dataType);

    ElementType dataType() const { return dataType_; }
    const std::vector<std::int64_t>& shape() const { return shape_; }
    const std::vector<std::int64_t>& strides() const { return strides_; }
    std::int64_t count() const { return count_; }
    // True when the strides are the row-major strides of the shape.
    bool isContiguous() const;

    void* dataPointer() { return storage_.data(); }
    const void* dataPointer() const { return storage_.data(); }
    // Typed views; the type must match the element type (float16 is std::uint16_t).
    float* floats();
    const float* floats() const;
    std::uint16_t* halves();
    const std::uint16_t* halves() const;
    std::int32_t* ints();
    const std::int32_t* ints() const;

    // The element at `index` (an element offset, strides already applied) widened to float.
    float floatValue(std::int64_t index) const;

private:
    void allocate();
    void requireType(ElementType type) const;

    std::vector<std::int64_t> shape_;
    std::vector<std::int64_t> strides_;
    ElementType dataType_;
    std::int64_t count_ = 0;
    std::vector<std::byte> storage_;
};

// Row-major strides of `shape`.
std::vector<std::int64_t> contiguousStrides(const std::vector<std::int64_t>& shape);

}  // namespace pelora::ml
