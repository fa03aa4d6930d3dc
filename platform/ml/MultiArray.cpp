#include "platform/ml/MultiArray.h"

#include <algorithm>
#include <string>

#include "platform/ml/Float16.h"
#include "platform/ml/ModelError.h"

namespace pelora::ml {

std::size_t elementSize(ElementType type) {
    switch (type) {
        case ElementType::float32: return 4;
        case ElementType::float16: return 2;
        case ElementType::int32: return 4;
    }
    return 4;
}

std::string_view elementTypeName(ElementType type) {
    switch (type) {
        case ElementType::float32: return "float32";
        case ElementType::float16: return "float16";
        case ElementType::int32: return "int32";
    }
    return "unknown";
}

std::vector<std::int64_t> contiguousStrides(const std::vector<std::int64_t>& shape) {
    std::vector<std::int64_t> strides(shape.size(), 1);
    std::int64_t stride = 1;
    for (std::size_t i = shape.size(); i-- > 0;) {
        strides[i] = stride;
        if (shape[i] > 0 && __builtin_mul_overflow(stride, shape[i], &stride)) {
            throw ModelError("multi-array shape is too large");
        }
    }
    return strides;
}

MultiArray::MultiArray(std::vector<std::int64_t> shape, ElementType dataType)
    : shape_(std::move(shape)), strides_(contiguousStrides(shape_)), dataType_(dataType) {
    allocate();
}

MultiArray::MultiArray(std::vector<std::int64_t> shape, std::vector<std::int64_t> strides, ElementType dataType)
    : shape_(std::move(shape)), strides_(std::move(strides)), dataType_(dataType) {
    allocate();
}

void MultiArray::allocate() {
    if (strides_.size() != shape_.size()) throw ModelError("multi-array needs one stride per dimension");
    std::int64_t count = 1;
    std::int64_t lastIndex = 0;  // highest element offset the strides reach
    for (std::size_t i = 0; i < shape_.size(); ++i) {
        if (shape_[i] < 0 || strides_[i] < 0) throw ModelError("multi-array shape and strides must not be negative");
        std::int64_t reach = 0;
        if (__builtin_mul_overflow(count, shape_[i], &count) ||
            (shape_[i] > 0 && __builtin_mul_overflow(shape_[i] - 1, strides_[i], &reach)) ||
            __builtin_add_overflow(lastIndex, reach, &lastIndex)) {
            throw ModelError("multi-array shape is too large");
        }
    }
    count_ = count;
    std::int64_t elements = count == 0 ? 0 : std::max(count, lastIndex + 1);
    std::size_t bytes = 0;
    if (__builtin_mul_overflow(static_cast<std::size_t>(elements), elementSize(dataType_), &bytes)) {
        throw ModelError("multi-array shape is too large");
    }
    storage_.assign(bytes, std::byte{0});
}

bool MultiArray::isContiguous() const { return strides_ == contiguousStrides(shape_); }

void MultiArray::requireType(ElementType type) const {
    if (type != dataType_) {
        throw ModelError("multi-array holds " + std::string(elementTypeName(dataType_)) + ", not " +
                         std::string(elementTypeName(type)));
    }
}

float* MultiArray::floats() {
    requireType(ElementType::float32);
    return reinterpret_cast<float*>(storage_.data());
}
const float* MultiArray::floats() const {
    requireType(ElementType::float32);
    return reinterpret_cast<const float*>(storage_.data());
}
std::uint16_t* MultiArray::halves() {
    requireType(ElementType::float16);
    return reinterpret_cast<std::uint16_t*>(storage_.data());
}
const std::uint16_t* MultiArray::halves() const {
    requireType(ElementType::float16);
    return reinterpret_cast<const std::uint16_t*>(storage_.data());
}
std::int32_t* MultiArray::ints() {
    requireType(ElementType::int32);
    return reinterpret_cast<std::int32_t*>(storage_.data());
}
const std::int32_t* MultiArray::ints() const {
    requireType(ElementType::int32);
    return reinterpret_cast<const std::int32_t*>(storage_.data());
}

float MultiArray::floatValue(std::int64_t index) const {
    switch (dataType_) {
        case ElementType::float32: return floats()[index];
        case ElementType::float16: return halfToFloat(halves()[index]);
        case ElementType::int32: return static_cast<float>(ints()[index]);
    }
    return 0;
}

}  // namespace pelora::ml
