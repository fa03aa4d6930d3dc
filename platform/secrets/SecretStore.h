#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

// Small secrets of the user (API keys), each one item named by a service and an account.
namespace pelora::secrets {

enum class Outcome {
    done,         // read found the item, write stored it, remove deleted it
    notFound,     // there is no such item (read, remove)
    unavailable,  // no store answers: no Secret Service on the session bus
    failed,       // the store answered with an error (locked, refused, disk full...)
};

struct ReadResult {
    Outcome outcome = Outcome::failed;
    std::string bytes;  // the stored bytes when outcome is done, exactly as written
};

class SecretStore {
public:
    virtual ~SecretStore() = default;

    virtual ReadResult read(std::string_view service, std::string_view account) = 0;
    // Stores `bytes`, replacing an existing item in one step: when the write fails, the
    // previous secret is still there. `label` is what a keyring manager shows.
    virtual Outcome write(std::string_view service, std::string_view account, std::string_view label,
                          std::string_view bytes) = 0;
    virtual Outcome remove(std::string_view service, std::string_view account) = 0;
};

// The user's Secret Service (org.freedesktop.secrets, e.g. gnome-keyring or KWallet):
// items of the default collection with the string attributes "service" and "account".
std::unique_ptr<SecretStore> secretServiceStore();

// One file per item in `folder`, readable only by the user and replaced by renaming a
// completed temporary file over it. The folder is created (mode 0700) on first write.
std::unique_ptr<SecretStore> fileSecretStore(std::filesystem::path folder);
// The file that fileSecretStore(folder) uses for an item.
std::filesystem::path secretFilePath(const std::filesystem::path& folder, std::string_view service,
                                     std::string_view account);

// $XDG_CONFIG_HOME, or ~/.config when it is unset, empty or not an absolute path.
std::filesystem::path userConfigHome();

// The Secret Service; on every call where none answers (a headless machine), the files
// of fileSecretStore(userConfigHome() / appFolderName) instead.
std::unique_ptr<SecretStore> userSecretStore(std::string appFolderName);

}  // namespace pelora::secrets
