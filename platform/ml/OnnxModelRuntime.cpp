#include "platform/ml/OnnxModelRuntime.h"

#include <cmath>
#include <fstream>
#include <limits>
#include <mutex>
#include <sstream>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/dnn.hpp>

#include "platform/ml/Float16.h"
#include "platform/ml/ModelError.h"
#include "platform/ml/OnnxModelSignature.h"
#include "platform/ml/TopKLayer.h"

namespace pelora::ml {

namespace {

std::string readWholeFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw ModelError(file.string() + ": cannot be read");
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) throw ModelError(file.string() + ": cannot be read");
    return std::move(bytes).str();
}

ElementType outputType(const OnnxModelSignature::Value& value, const std::filesystem::path& file) {
    switch (value.elementType) {
        case onnx_type::float32: return ElementType::float32;
        case onnx_type::float16: return ElementType::float16;
        case onnx_type::int32: return ElementType::int32;
        default:
            throw ModelError(file.string() + ": output \"" + value.name + "\" has unsupported element type " +
                             std::to_string(value.elementType));
    }
}

// Copies a (possibly strided) array into a contiguous float32 Mat of the same shape.
cv::Mat toFloatMat(const MultiArray& array) {
    std::vector<int> sizes;
    for (std::int64_t d : array.shape()) {
        if (d > std::numeric_limits<int>::max()) throw ModelError("input dimension too large");
        sizes.push_back(static_cast<int>(d));
    }
    if (sizes.empty()) sizes.push_back(1);
    cv::Mat mat(static_cast<int>(sizes.size()), sizes.data(), CV_32F);
    float* out = mat.ptr<float>();
    const std::int64_t count = array.count();
    if (count == 0) return mat;
    if (array.isContiguous() && array.dataType() == ElementType::float32) {
        std::copy_n(array.floats(), count, out);
        return mat;
    }
    if (array.isContiguous() && array.dataType() == ElementType::float16) {
        convertHalfToFloat(array.halves(), out, static_cast<std::size_t>(count));
        return mat;
    }
    const auto& shape = array.shape();
    const auto& strides = array.strides();
    std::vector<std::int64_t> index(shape.size(), 0);
    for (std::int64_t i = 0; i < count; ++i) {
        std::int64_t offset = 0;
        for (std::size_t d = 0; d < shape.size(); ++d) offset += index[d] * strides[d];
        out[i] = array.floatValue(offset);
        for (std::size_t d = shape.size(); d-- > 0;) {
            if (++index[d] < shape[d]) break;
            index[d] = 0;
        }
    }
    return mat;
}

MultiArray fromFloatMat(const cv::Mat& mat, const OnnxModelSignature::Value& declared, ElementType type) {
    CV_Assert(mat.type() == CV_32F);
    cv::Mat dense = mat.isContinuous() ? mat : mat.clone();
    std::vector<std::int64_t> shape;
    for (int d = 0; d < dense.dims; ++d) shape.push_back(dense.size[d]);
    // OpenCV keeps at least two dimensions; the declared shape, when fully known and of
    // the same size, is the truer description.
    bool declaredKnown = !declared.shape.empty();
    std::int64_t declaredTotal = 1;
    for (const auto& d : declared.shape) {
        if (!d) declaredKnown = false;
        else declaredTotal *= *d;
    }
    if (declaredKnown && declaredTotal == static_cast<std::int64_t>(dense.total())) {
        shape.clear();
        for (const auto& d : declared.shape) shape.push_back(*d);
    }
    MultiArray array(shape, type);
    const float* in = dense.ptr<float>();
    const std::size_t count = dense.total();
    switch (type) {
        case ElementType::float32: std::copy_n(in, count, array.floats()); break;
        case ElementType::float16: convertFloatToHalf(in, array.halves(), count); break;
        case ElementType::int32: {
            std::int32_t* out = array.ints();
            for (std::size_t i = 0; i < count; ++i) {
                float v = std::nearbyint(in[i]);
                if (std::isnan(v)) out[i] = 0;
                else if (v >= 2147483648.0f) out[i] = std::numeric_limits<std::int32_t>::max();
                else if (v < -2147483648.0f) out[i] = std::numeric_limits<std::int32_t>::min();
                else out[i] = static_cast<std::int32_t>(v);
            }
            break;
        }
    }
    return array;
}

class OnnxModel final : public Model {
public:
    OnnxModel(cv::dnn::Net net, OnnxModelSignature signature, std::filesystem::path file)
        : net_(std::move(net)), signature_(std::move(signature)), file_(std::move(file)) {
        for (const auto& output : signature_.outputs) {
            outputNames_.push_back(output.name);
            outputTypes_.push_back(outputType(output, file_));
        }
    }

    Prediction prediction(const FeatureInputs& inputs) override {
        std::lock_guard lock(mutex_);
        try {
            for (const auto& input : signature_.inputs) {
                auto it = inputs.find(input.name);
                if (it == inputs.end() || it->second == nullptr) {
                    throw ModelError(file_.string() + ": missing input \"" + input.name + "\"");
                }
                net_.setInput(toFloatMat(*it->second), input.name);
            }
            std::vector<cv::Mat> outputs;
            net_.forward(outputs, outputNames_);
            if (outputs.size() != outputNames_.size()) {
                throw ModelError(file_.string() + ": the network gave " + std::to_string(outputs.size()) +
                                 " outputs for " + std::to_string(outputNames_.size()) + " declared");
            }
            Prediction prediction;
            for (std::size_t i = 0; i < outputs.size(); ++i) {
                prediction.set(outputNames_[i], fromFloatMat(outputs[i], signature_.outputs[i], outputTypes_[i]));
            }
            return prediction;
        } catch (const cv::Exception& e) {
            throw ModelError(file_.string() + ": prediction failed: " + e.what());
        }
    }

private:
    std::mutex mutex_;
    cv::dnn::Net net_;
    OnnxModelSignature signature_;
    std::filesystem::path file_;
    std::vector<std::string> outputNames_;
    std::vector<ElementType> outputTypes_;
};

}  // namespace

std::unique_ptr<Model> OnnxModelRuntime::loadModel(const std::filesystem::path& modelFolder, ComputeUnits) const {
    static std::once_flag quiet;
    // OpenCV's own log would otherwise print importer notes on every load.
    std::call_once(quiet, [] { cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR); });
    registerTopKLayer();

    std::error_code ec;
    if (!std::filesystem::is_directory(modelFolder, ec)) {
        throw ModelError(modelFolder.string() + ": not a compiled model folder");
    }
    std::filesystem::path file = modelFolder / "model.onnx";
    std::string bytes = readWholeFile(file);
    OnnxModelSignature signature;
    try {
        signature = OnnxModelSignature::parse(bytes);
    } catch (const ModelError&) {
        // Every bundle holds a "model.onnx": the message names which one is damaged.
        throw ModelError(file.string() + ": not a valid ONNX model (damaged or cut short)");
    }
    for (const auto& output : signature.outputs) outputType(output, file);
    try {
        cv::dnn::Net net = cv::dnn::readNetFromONNX(bytes.data(), bytes.size());
        net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
        net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
        return std::make_unique<OnnxModel>(std::move(net), std::move(signature), std::move(file));
    } catch (const cv::Exception& e) {
        throw ModelError(file.string() + ": cannot be loaded: " + e.what());
    }
}

const ModelRuntime& ModelRuntime::shared() {
    static const OnnxModelRuntime runtime;
    return runtime;
}

}  // namespace pelora::ml
