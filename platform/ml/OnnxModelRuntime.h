#pragma once

#include "platform/ml/ModelRuntime.h"

namespace pelora::ml {

// Runs "model.onnx" inside a compiled-model folder with OpenCV's dnn module on the CPU.
// OpenCV computes in float32: inputs of any element type are widened to float32, and
// each output is converted to the element type that the model file declares for it
// (float32, float16 or int32). Each graph output must be produced by a node of its own
// name (an Identity in front of every output does that).
class OnnxModelRuntime final : public ModelRuntime {
public:
    std::unique_ptr<Model> loadModel(const std::filesystem::path& modelFolder, ComputeUnits units) const override;
};

}  // namespace pelora::ml
