#pragma once

#include <filesystem>
#include <memory>

#include "platform/ml/Model.h"

namespace pelora::ml {

// Which processors a model may use. The ONNX runtime here runs everything on the CPU;
// the setting is kept so callers can state what they allow.
enum class ComputeUnits { cpuOnly, cpuAndGPU, all };

// Loads compiled models: a "*.mlmodelc" folder holding "model.onnx".
class ModelRuntime {
public:
    virtual ~ModelRuntime() = default;
    // Throws ModelError when the folder holds no loadable model.
    virtual std::unique_ptr<Model> loadModel(const std::filesystem::path& modelFolder, ComputeUnits units) const = 0;

    // The process-wide runtime over OpenCV's dnn module.
    static const ModelRuntime& shared();
};

}  // namespace pelora::ml
