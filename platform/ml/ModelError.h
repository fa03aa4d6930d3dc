#pragma once

#include <stdexcept>

namespace pelora::ml {

// The runtime's own failure: a model that cannot be loaded, or inputs it cannot run.
// Its message names the model file and the fault.
class ModelError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace pelora::ml
