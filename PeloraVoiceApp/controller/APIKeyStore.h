#pragma once

#include <optional>
#include <string>

namespace pelora {

// Where the decision service's API key is kept.
class APIKeyStore {
public:
    virtual ~APIKeyStore() = default;
    virtual std::optional<std::string> loadAPIKey() = 0;
};

}  // namespace pelora
