#include "tests/support/ScriptedModelRuntime.h"

#include "platform/ml/ModelError.h"

namespace pelora::testing {

namespace {

class ScriptedModel final : public ml::Model {
public:
    ScriptedModel(std::string name, ScriptedModelRuntime::Script script, std::function<void()> counted)
        : name_(std::move(name)), script_(std::move(script)), counted_(std::move(counted)) {}

    ml::Prediction prediction(const ml::FeatureInputs& inputs) override {
        counted_();
        return script_(inputs);
    }

private:
    std::string name_;
    ScriptedModelRuntime::Script script_;
    std::function<void()> counted_;
};

}  // namespace

void ScriptedModelRuntime::script(const std::string& folderName, Script script) {
    std::lock_guard lock(state_->mutex);
    state_->scripts[folderName] = std::move(script);
    state_->failures.erase(folderName);
}

void ScriptedModelRuntime::failLoading(const std::string& folderName, const std::string& message) {
    std::lock_guard lock(state_->mutex);
    state_->failures[folderName] = message;
}

std::unique_ptr<ml::Model> ScriptedModelRuntime::loadModel(const std::filesystem::path& modelFolder,
                                                           ml::ComputeUnits units) const {
    const std::string name = modelFolder.filename().string();
    std::lock_guard lock(state_->mutex);
    state_->loads.push_back({name, units});
    if (auto it = state_->failures.find(name); it != state_->failures.end()) throw ml::ModelError(it->second);
    auto it = state_->scripts.find(name);
    if (it == state_->scripts.end()) throw ml::ModelError(modelFolder.string() + ": no scripted model");
    std::weak_ptr<State> state = state_;
    return std::make_unique<ScriptedModel>(name, it->second, [state, name] {
        if (auto s = state.lock()) {
            std::lock_guard countLock(s->mutex);
            ++s->predictions[name];
        }
    });
}

std::vector<ScriptedModelRuntime::Load> ScriptedModelRuntime::loads() const {
    std::lock_guard lock(state_->mutex);
    return state_->loads;
}

int ScriptedModelRuntime::predictions(const std::string& folderName) const {
    std::lock_guard lock(state_->mutex);
    auto it = state_->predictions.find(folderName);
    return it == state_->predictions.end() ? 0 : it->second;
}

}  // namespace pelora::testing
