#include "engine/japanese/OnDeviceLanguageModel.h"

#include <stdexcept>

namespace pelora {

std::string UnavailableLanguageModel::respond(const std::string&, std::stop_token) const {
    throw std::runtime_error("no on-device language model is available");
}

std::shared_ptr<const OnDeviceLanguageModel> OnDeviceLanguageModel::systemDefault() {
    static const std::shared_ptr<const OnDeviceLanguageModel> model = std::make_shared<UnavailableLanguageModel>();
    return model;
}

}  // namespace pelora
