// The ONNX signature reader on arbitrary bytes. Contract: a signature, or ml::ModelError.

#include <string_view>

#include "platform/ml/ModelError.h"
#include "platform/ml/OnnxModelSignature.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        pelora::ml::OnnxModelSignature::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const pelora::ml::ModelError&) {
    }
    return 0;
}
