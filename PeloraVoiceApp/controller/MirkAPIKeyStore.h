#pragma once

#include "PeloraVoiceApp/controller/APIKeyStore.h"

namespace pelora {

// The decision service's key where the engine keeps it: the environment variable, else
// the user's Secret Service, else a private file under the user's config folder.
class MirkAPIKeyStore final : public APIKeyStore {
public:
    std::optional<std::string> loadAPIKey() override;
    bool saveAPIKey(std::string_view key) override;
    bool deleteAPIKey() override;
};

}  // namespace pelora
