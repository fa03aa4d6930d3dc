#pragma once

#include "engine/japanese/MirkInputSecretStore.h"
#include "platform/secrets/SecretStore.h"
#include "tests/support/KeyringSession.h"
#include "tests/support/RerunTest.h"
#include "tests/support/TempDir.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace pelora::controller_testing {

// Where the engine's key store keeps the key in a test of its own process: the keyring in a
// private session bus, the private file where no keyring answers, or the environment variable.
enum class KeyBackend { file, keyring, environment };

// Runs the current test again in a fresh process that reaches only `backend`, with
// `environmentKey` in the key's variable when the backend is the environment (else the
// variable is empty). True in that process; the caller's process returns false and goes on.
inline bool rerunWithKeyBackend(KeyBackend backend, const pelora::testing::TempDir& home,
                                const std::string& environmentKey) {
    std::map<std::string, std::string> environment;
    std::vector<std::string> launcher;
    if (backend == KeyBackend::keyring) {
        launcher = pelora::testing::keyringSessionLauncher();
        environment = pelora::testing::keyringSessionEnvironment(home.path());
    } else {
        environment = {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (home / "no-bus").string()}};
    }
    environment[std::string(MirkInputSecretStore::environmentVariable)] =
        backend == KeyBackend::environment ? environmentKey : "";
    return !pelora::testing::rerunCurrentTestIn(launcher, environment);
}

// The store the backend writes to, read directly by the test.
inline std::unique_ptr<secrets::SecretStore> keyBackingStore(KeyBackend backend) {
    if (backend == KeyBackend::keyring) return secrets::secretServiceStore();
    return secrets::fileSecretStore(secrets::userConfigHome() / "PeloraVoice2");
}

}  // namespace pelora::controller_testing
