#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelora::ml {

// The graph inputs and outputs declared in an ONNX model file: names, element types
// and shapes. Read straight from the protobuf wire format, so no protobuf library is
// needed; everything else in the file is skipped.
struct OnnxModelSignature {
    struct Value {
        std::string name;
        std::int32_t elementType = 0;  // ONNX TensorProto.DataType (1 float, 10 float16, 6 int32, ...)
        // One entry per dimension; nullopt for a symbolic or unknown dimension.
        std::vector<std::optional<std::int64_t>> shape;
    };
    std::vector<Value> inputs;  // initializers excluded
    std::vector<Value> outputs;

    // Throws ModelError when the bytes are not an ONNX model with a graph.
    static OnnxModelSignature parse(std::string_view modelBytes);
};

namespace onnx_type {
inline constexpr std::int32_t float32 = 1;
inline constexpr std::int32_t int32 = 6;
inline constexpr std::int32_t int64 = 7;
inline constexpr std::int32_t float16 = 10;
}  // namespace onnx_type

}  // namespace pelora::ml
