#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace pelora {

namespace secrets {
class SecretStore;
}

// The user's API key for the decision service. The environment variable wins on every
// call; otherwise the key lives in the user's Secret Service, or, where none runs, in a
// file under $XDG_CONFIG_HOME/PeloraVoice2/ readable only by the user. Nothing is kept
// in memory; no operation throws: problems read as "no key" or a false result.
class MirkInputSecretStore {
public:
    static constexpr std::string_view service = "com.peloravoice.mirk-input-targeting";
    static constexpr std::string_view account = "api-key";
    static constexpr std::string_view environmentVariable = "PELORAVOICE_MIRK_API_KEY";
    // Where the file holding the key lives when no Secret Service answers.
    static constexpr std::string_view appFolderName = "PeloraVoice2";

    // The key trimmed of white space and line breaks, or nothing when none is set, the
    // stored bytes are not UTF-8, or it is blank.
    static std::optional<std::string> loadAPIKey();
    // Both true exactly when loadAPIKey() gives a non-empty key.
    static bool hasConfiguredKey();
    static bool hasAPIKey();
    // Stores the trimmed key, replacing a stored one; a failed save keeps the old key.
    // A blank key deletes the stored one instead. True on success.
    static bool saveAPIKey(std::string_view key);
    // True when no key is stored afterwards (also when there was none).
    static bool deleteAPIKey();

    // Tests put their own storage behind the store; nullptr restores the user's.
    // Not for use while other threads use the store.
    static void useStorageForTesting(std::shared_ptr<secrets::SecretStore> storage);
};

}  // namespace pelora
