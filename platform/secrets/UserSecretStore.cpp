#include "platform/secrets/SecretStore.h"

namespace pelora::secrets {

namespace {

// The Secret Service first; its files only when no Secret Service answers at all. A
// service that answers with an error is that error: the files are no second chance for
// a locked or refusing keyring.
class UserSecretStore final : public SecretStore {
public:
    explicit UserSecretStore(std::string appFolderName) : appFolderName_(std::move(appFolderName)) {}

    ReadResult read(std::string_view service, std::string_view account) override {
        ReadResult result = keyring_->read(service, account);
        if (result.outcome != Outcome::unavailable) return result;
        return files()->read(service, account);
    }

    Outcome write(std::string_view service, std::string_view account, std::string_view label,
                  std::string_view bytes) override {
        const Outcome outcome = keyring_->write(service, account, label, bytes);
        if (outcome != Outcome::unavailable) return outcome;
        return files()->write(service, account, label, bytes);
    }

    Outcome remove(std::string_view service, std::string_view account) override {
        const Outcome outcome = keyring_->remove(service, account);
        if (outcome != Outcome::unavailable) return outcome;
        return files()->remove(service, account);
    }

private:
    // The folder follows XDG_CONFIG_HOME as it is at the time of the call.
    std::unique_ptr<SecretStore> files() const { return fileSecretStore(userConfigHome() / appFolderName_); }

    std::string appFolderName_;
    std::unique_ptr<SecretStore> keyring_ = secretServiceStore();
};

}  // namespace

std::unique_ptr<SecretStore> userSecretStore(std::string appFolderName) {
    return std::make_unique<UserSecretStore>(std::move(appFolderName));
}

}  // namespace pelora::secrets
