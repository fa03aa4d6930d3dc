#pragma once

#include <map>
#include <string>
#include <string_view>

#include "platform/ml/MultiArray.h"

namespace pelora::ml {

// The named outputs of one prediction.
class Prediction {
public:
    void set(std::string name, MultiArray value) { features_.insert_or_assign(std::move(name), std::move(value)); }
    // The output of that name, or null when the model gave none.
    const MultiArray* featureValue(std::string_view name) const {
        auto it = features_.find(name);
        return it == features_.end() ? nullptr : &it->second;
    }
    const std::map<std::string, MultiArray, std::less<>>& features() const { return features_; }

private:
    std::map<std::string, MultiArray, std::less<>> features_;
};

}  // namespace pelora::ml
