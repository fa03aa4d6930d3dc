#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pelora {

// Where the decision service's API key is kept.
class APIKeyStore {
public:
    virtual ~APIKeyStore() = default;
    virtual std::optional<std::string> loadAPIKey() = 0;
    // Replaces the stored key; true on success.
    virtual bool saveAPIKey(std::string_view key) = 0;
    // True when no key is stored afterwards.
    virtual bool deleteAPIKey() = 0;
};

}  // namespace pelora
