#include "PeloraVoiceApp/controller/MirkAPIKeyStore.h"

#include "engine/japanese/MirkInputSecretStore.h"

namespace pelora {

std::optional<std::string> MirkAPIKeyStore::loadAPIKey() { return MirkInputSecretStore::loadAPIKey(); }
bool MirkAPIKeyStore::saveAPIKey(std::string_view key) { return MirkInputSecretStore::saveAPIKey(key); }
bool MirkAPIKeyStore::deleteAPIKey() { return MirkInputSecretStore::deleteAPIKey(); }

}  // namespace pelora
