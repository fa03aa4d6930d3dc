#include "platform/ml/OnnxModelSignature.h"

#include <algorithm>
#include <set>

#include "platform/ml/ModelError.h"

namespace pelora::ml {

namespace {

// Field numbers of the ONNX protobuf messages that lead to the graph's signature.
constexpr std::uint32_t kModelGraph = 7;
constexpr std::uint32_t kGraphInitializer = 5;
constexpr std::uint32_t kGraphInput = 11;
constexpr std::uint32_t kGraphOutput = 12;
constexpr std::uint32_t kTensorName = 8;
constexpr std::uint32_t kValueInfoName = 1;
constexpr std::uint32_t kValueInfoType = 2;
constexpr std::uint32_t kTypeTensor = 1;
constexpr std::uint32_t kTensorTypeElement = 1;
constexpr std::uint32_t kTensorTypeShape = 2;
constexpr std::uint32_t kShapeDim = 1;
constexpr std::uint32_t kDimValue = 1;

[[noreturn]] void malformed() { throw ModelError("model.onnx is not a valid ONNX model"); }

// One protobuf message's fields, read in order.
class WireReader {
public:
    explicit WireReader(std::string_view bytes) : bytes_(bytes) {}

    struct Field {
        std::uint32_t number = 0;
        std::uint32_t wireType = 0;
        std::uint64_t varint = 0;      // wire type 0
        std::string_view payload;      // wire type 2
    };

    bool next(Field& field) {
        if (pos_ >= bytes_.size()) return false;
        std::uint64_t key = readVarint();
        field.number = static_cast<std::uint32_t>(key >> 3);
        field.wireType = static_cast<std::uint32_t>(key & 7);
        field.payload = {};
        field.varint = 0;
        switch (field.wireType) {
            case 0: field.varint = readVarint(); break;
            case 1: skip(8); break;
            case 2: {
                std::uint64_t length = readVarint();
                if (length > bytes_.size() - pos_) malformed();
                field.payload = bytes_.substr(pos_, length);
                pos_ += length;
                break;
            }
            case 5: skip(4); break;
            default: malformed();  // groups are not used by ONNX
        }
        return true;
    }

private:
    std::uint64_t readVarint() {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (pos_ >= bytes_.size()) malformed();
            auto byte = static_cast<std::uint8_t>(bytes_[pos_++]);
            value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
            if ((byte & 0x80) == 0) return value;
        }
        malformed();
    }
    void skip(std::size_t n) {
        if (n > bytes_.size() - pos_) malformed();
        pos_ += n;
    }

    std::string_view bytes_;
    std::size_t pos_ = 0;
};

std::vector<std::optional<std::int64_t>> parseShape(std::string_view bytes) {
    std::vector<std::optional<std::int64_t>> shape;
    WireReader reader(bytes);
    WireReader::Field field;
    while (reader.next(field)) {
        if (field.number != kShapeDim || field.wireType != 2) continue;
        std::optional<std::int64_t> dim;
        WireReader dimReader(field.payload);
        WireReader::Field dimField;
        while (dimReader.next(dimField)) {
            if (dimField.number == kDimValue && dimField.wireType == 0) {
                dim = static_cast<std::int64_t>(dimField.varint);
            }
        }
        shape.push_back(dim);
    }
    return shape;
}

OnnxModelSignature::Value parseValueInfo(std::string_view bytes) {
    OnnxModelSignature::Value value;
    WireReader reader(bytes);
    WireReader::Field field;
    while (reader.next(field)) {
        if (field.number == kValueInfoName && field.wireType == 2) {
            value.name = std::string(field.payload);
        } else if (field.number == kValueInfoType && field.wireType == 2) {
            WireReader typeReader(field.payload);
            WireReader::Field typeField;
            while (typeReader.next(typeField)) {
                if (typeField.number != kTypeTensor || typeField.wireType != 2) continue;
                WireReader tensorReader(typeField.payload);
                WireReader::Field tensorField;
                while (tensorReader.next(tensorField)) {
                    if (tensorField.number == kTensorTypeElement && tensorField.wireType == 0) {
                        value.elementType = static_cast<std::int32_t>(tensorField.varint);
                    } else if (tensorField.number == kTensorTypeShape && tensorField.wireType == 2) {
                        value.shape = parseShape(tensorField.payload);
                    }
                }
            }
        }
    }
    return value;
}

std::string parseTensorName(std::string_view bytes) {
    WireReader reader(bytes);
    WireReader::Field field;
    std::string name;
    while (reader.next(field)) {
        if (field.number == kTensorName && field.wireType == 2) name = std::string(field.payload);
    }
    return name;
}

}  // namespace

OnnxModelSignature OnnxModelSignature::parse(std::string_view modelBytes) {
    WireReader model(modelBytes);
    WireReader::Field field;
    std::optional<std::string_view> graph;
    while (model.next(field)) {
        if (field.number == kModelGraph && field.wireType == 2) graph = field.payload;
    }
    if (!graph) malformed();

    OnnxModelSignature signature;
    std::set<std::string> initializers;
    WireReader graphReader(*graph);
    while (graphReader.next(field)) {
        if (field.wireType != 2) continue;
        if (field.number == kGraphInput) signature.inputs.push_back(parseValueInfo(field.payload));
        if (field.number == kGraphOutput) signature.outputs.push_back(parseValueInfo(field.payload));
        if (field.number == kGraphInitializer) initializers.insert(parseTensorName(field.payload));
    }
    // Older models also list their weights as graph inputs; those are not fed by callers.
    std::erase_if(signature.inputs, [&](const Value& v) { return initializers.contains(v.name); });
    if (signature.outputs.empty()) malformed();
    return signature;
}

}  // namespace pelora::ml
