#include "platform/ml/TopKLayer.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numeric>
#include <vector>

#include <opencv2/dnn.hpp>
#include <opencv2/dnn/layer.details.hpp>

namespace pelora::ml {

namespace {

class TopKLayer final : public cv::dnn::Layer {
public:
    explicit TopKLayer(const cv::dnn::LayerParams& params) {
        setParamsFrom(params);
        axis_ = params.get<int>("axis", -1);
        largest_ = params.get<int>("largest", 1) != 0;
        if (!params.blobs.empty()) {
            cv::Mat k;
            params.blobs[0].convertTo(k, CV_64F);
            if (k.total() != 1) CV_Error(cv::Error::StsBadArg, "TopK: K must hold one value");
            k_ = static_cast<int>(k.at<double>(0));
        } else if (params.has("k")) {
            k_ = params.get<int>("k");
        } else {
            CV_Error(cv::Error::StsNotImplemented, "TopK: K must be a constant");
        }
        if (k_ < 0) CV_Error(cv::Error::StsBadArg, "TopK: K must not be negative");
    }

    static cv::Ptr<cv::dnn::Layer> create(cv::dnn::LayerParams& params) {
        return cv::Ptr<cv::dnn::Layer>(new TopKLayer(params));
    }

    bool getMemoryShapes(const std::vector<cv::dnn::MatShape>& inputs, const int /*requiredOutputs*/,
                         std::vector<cv::dnn::MatShape>& outputs,
                         std::vector<cv::dnn::MatShape>& /*internals*/) const override {
        cv::dnn::MatShape shape = inputs.at(0);
        int axis = normalisedAxis(static_cast<int>(shape.size()));
        if (k_ > shape[axis]) CV_Error(cv::Error::StsOutOfRange, "TopK: K is larger than the axis");
        shape[axis] = k_;
        outputs.assign(2, shape);
        return false;
    }

    void forward(cv::InputArrayOfArrays inputsArray, cv::OutputArrayOfArrays outputsArray,
                 cv::OutputArrayOfArrays /*internals*/) override {
        std::vector<cv::Mat> inputs, outputs;
        inputsArray.getMatVector(inputs);
        outputsArray.getMatVector(outputs);
        const cv::Mat& x = inputs.at(0);
        CV_Assert(x.type() == CV_32F && x.isContinuous());
        int axis = normalisedAxis(x.dims);
        std::size_t axisLength = static_cast<std::size_t>(x.size[axis]);
        std::size_t inner = 1;
        for (int d = axis + 1; d < x.dims; ++d) inner *= static_cast<std::size_t>(x.size[d]);
        std::size_t outer = axisLength == 0 || inner == 0 ? 0 : x.total() / (axisLength * inner);
        std::size_t k = static_cast<std::size_t>(k_);

        const float* in = x.ptr<float>();
        float* values = outputs.at(0).ptr<float>();
        float* indices = outputs.size() > 1 ? outputs[1].ptr<float>() : nullptr;
        std::vector<std::size_t> order(axisLength);
        std::vector<float> line(axisLength);
        for (std::size_t o = 0; o < outer; ++o) {
            for (std::size_t i = 0; i < inner; ++i) {
                for (std::size_t a = 0; a < axisLength; ++a) line[a] = in[(o * axisLength + a) * inner + i];
                std::iota(order.begin(), order.end(), std::size_t{0});
                std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(k), order.end(),
                                  [&](std::size_t p, std::size_t q) {
                                      if (ranksBefore(line[p], line[q])) return true;
                                      if (ranksBefore(line[q], line[p])) return false;
                                      return p < q;
                                  });
                for (std::size_t j = 0; j < k; ++j) {
                    std::size_t at = (o * k + j) * inner + i;
                    values[at] = line[order[j]];
                    if (indices) indices[at] = static_cast<float>(order[j]);
                }
            }
        }
    }

private:
    int normalisedAxis(int dims) const {
        int axis = axis_ < 0 ? axis_ + dims : axis_;
        if (axis < 0 || axis >= dims) CV_Error(cv::Error::StsOutOfRange, "TopK: axis out of range");
        return axis;
    }
    // Strict ordering in which NaN ranks after every number.
    bool ranksBefore(float a, float b) const {
        if (std::isnan(a)) return false;
        if (std::isnan(b)) return true;
        return largest_ ? a > b : a < b;
    }

    int axis_ = -1;
    bool largest_ = true;
    int k_ = 0;
};

}  // namespace

void registerTopKLayer() {
    static std::once_flag once;
    std::call_once(once, [] { cv::dnn::LayerFactory::registerLayer("TopK", TopKLayer::create); });
}

}  // namespace pelora::ml
