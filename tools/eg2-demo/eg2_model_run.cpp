// Runs one compiled model through the engine's model runtime, so training can check that
// an exported model computes here what it computed in training.
//
// Usage: eg2-model-run <model.mlmodelc> <name>=<file>[:f16] ... -- <output-dir>
//   Each input is raw float32 values (or half precision with ":f16") in the shape the model
//   declares; every output is written to <output-dir>/<name>.f32 as float32 values,
//   followed by a line "<name> <type> <shape...>" on standard output.

#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ml/Float16.h"
#include "platform/ml/ModelRuntime.h"
#include "platform/ml/MultiArray.h"
#include "platform/ml/OnnxModelSignature.h"

namespace {

std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(path.string() + ": cannot be read");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
    using namespace pelora::ml;
    if (argc < 4) {
        std::cerr << "Usage: eg2-model-run <model.mlmodelc> <name>=<file>[:f16] ... -- <output-dir>\n";
        return 2;
    }
    try {
        const std::filesystem::path bundle = argv[1];
        const OnnxModelSignature signature = OnnxModelSignature::parse(readBytes(bundle / "model.onnx"));
        std::map<std::string, MultiArray> arrays;
        int i = 2;
        for (; i < argc && std::string(argv[i]) != "--"; ++i) {
            std::string spec = argv[i];
            const auto eq = spec.find('=');
            if (eq == std::string::npos) throw std::runtime_error("bad input " + spec);
            std::string name = spec.substr(0, eq), file = spec.substr(eq + 1);
            const bool half = file.size() > 4 && file.ends_with(":f16");
            if (half) file.resize(file.size() - 4);
            std::vector<std::int64_t> shape;
            for (const auto& value : signature.inputs)
                if (value.name == name)
                    for (const auto& d : value.shape) shape.push_back(d.value_or(1));
            if (shape.empty()) throw std::runtime_error("the model has no input " + name);
            MultiArray array(shape, half ? ElementType::float16 : ElementType::float32);
            const std::string bytes = readBytes(file);
            const std::size_t need = static_cast<std::size_t>(array.count()) * elementSize(array.dataType());
            if (bytes.size() != need) throw std::runtime_error(file + ": expected " + std::to_string(need) + " bytes");
            std::copy(bytes.begin(), bytes.end(), static_cast<char*>(array.dataPointer()));
            arrays.emplace(name, std::move(array));
        }
        if (i + 1 >= argc) throw std::runtime_error("no output folder");
        const std::filesystem::path outDir = argv[i + 1];
        FeatureInputs inputs;
        for (const auto& [name, array] : arrays) inputs[name] = &array;
        auto model = ModelRuntime::shared().loadModel(bundle, ComputeUnits::cpuOnly);
        const Prediction prediction = model->prediction(inputs);
        for (const auto& [name, array] : prediction.features()) {
            std::vector<float> values(static_cast<std::size_t>(array.count()));
            for (std::size_t k = 0; k < values.size(); ++k) values[k] = array.floatValue(static_cast<std::int64_t>(k));
            std::ofstream(outDir / (name + ".f32"), std::ios::binary)
                .write(reinterpret_cast<const char*>(values.data()), static_cast<std::streamsize>(values.size() * 4));
            std::cout << name << " " << elementTypeName(array.dataType());
            for (auto d : array.shape()) std::cout << " " << d;
            std::cout << "\n";
        }
    } catch (const std::exception& e) {
        std::cerr << "Error: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
