#include "engine/japanese/MirkInputSecretStore.h"

#include <cstdlib>

#include "platform/secrets/SecretStore.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {

std::shared_ptr<secrets::SecretStore>& storageForTesting() {
    static std::shared_ptr<secrets::SecretStore> storage;
    return storage;
}

std::shared_ptr<secrets::SecretStore> storage() {
    if (auto testing = storageForTesting()) return testing;
    return secrets::userSecretStore(std::string(MirkInputSecretStore::appFolderName));
}

}  // namespace

std::optional<std::string> MirkInputSecretStore::loadAPIKey() {
    if (const char* fromEnvironment = std::getenv(std::string(environmentVariable).c_str())) {
        std::string key = text::trimWhitespaceAndNewlines(fromEnvironment);
        if (!key.empty()) return key;
    }
    const secrets::ReadResult stored = storage()->read(service, account);
    if (stored.outcome != secrets::Outcome::done || !text::isValidUTF8(stored.bytes)) return std::nullopt;
    std::string key = text::trimWhitespaceAndNewlines(stored.bytes);
    if (key.empty()) return std::nullopt;
    return key;
}

bool MirkInputSecretStore::hasConfiguredKey() {
    const auto key = loadAPIKey();
    return key && !key->empty();
}

bool MirkInputSecretStore::hasAPIKey() { return hasConfiguredKey(); }

bool MirkInputSecretStore::saveAPIKey(std::string_view key) {
    const std::string trimmed = text::trimWhitespaceAndNewlines(key);
    if (trimmed.empty()) return deleteAPIKey();
    // One replacing write, never delete-then-add: a failed save must not lose the old key.
    return storage()->write(service, account, service, trimmed) == secrets::Outcome::done;
}

bool MirkInputSecretStore::deleteAPIKey() {
    const secrets::Outcome outcome = storage()->remove(service, account);
    return outcome == secrets::Outcome::done || outcome == secrets::Outcome::notFound;
}

void MirkInputSecretStore::useStorageForTesting(std::shared_ptr<secrets::SecretStore> storage) {
    storageForTesting() = std::move(storage);
}

}  // namespace pelora
