#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ml/ModelRuntime.h"

namespace pelora::testing {

// A model runtime whose models are functions set by the test, keyed by the compiled
// model's folder name ("reader_P6.mlmodelc"). It records what was loaded and how often
// each model predicted. Loading a name without a script fails like a bad model.
class ScriptedModelRuntime final : public ml::ModelRuntime {
public:
    using Script = std::function<ml::Prediction(const ml::FeatureInputs&)>;

    void script(const std::string& folderName, Script script);
    // Loading this name throws ml::ModelError with `message`.
    void failLoading(const std::string& folderName, const std::string& message);

    std::unique_ptr<ml::Model> loadModel(const std::filesystem::path& modelFolder,
                                         ml::ComputeUnits units) const override;

    struct Load {
        std::string folderName;
        ml::ComputeUnits units;
    };
    std::vector<Load> loads() const;
    int predictions(const std::string& folderName) const;

private:
    struct State {
        std::mutex mutex;
        std::map<std::string, Script> scripts;
        std::map<std::string, std::string> failures;
        std::vector<Load> loads;
        std::map<std::string, int> predictions;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace pelora::testing
