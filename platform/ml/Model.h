#pragma once

#include <map>
#include <string>

#include "platform/ml/MultiArray.h"
#include "platform/ml/Prediction.h"

namespace pelora::ml {

// Named input arrays of one prediction; the arrays are only read.
using FeatureInputs = std::map<std::string, const MultiArray*, std::less<>>;

// One loaded model. Predictions on one model object are serialised by the model.
class Model {
public:
    virtual ~Model() = default;
    // Runs the model once. Throws ModelError when an input is missing or the model fails.
    virtual Prediction prediction(const FeatureInputs& inputs) = 0;
};

}  // namespace pelora::ml
