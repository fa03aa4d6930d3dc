#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/secrets/SecretStore.h"

namespace pelora::secrets {

namespace {

// File names keep letters, digits, ".", "-" and "_"; anything else is written as %XX,
// so no service or account can name a path outside the folder, and the "@" between
// service and account is never part of either.
std::string fileNamePart(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') || byte == '.' || byte == '-' || byte == '_';
        if (plain) {
            out += c;
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        }
    }
    return out;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Closes now, reporting whether the kernel accepted the last writes.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Creates missing folders of `folder` with mode 0700 (existing ones are left as they are).
bool makeFolder(const std::filesystem::path& folder) {
    std::error_code error;
    if (std::filesystem::is_directory(folder, error)) return true;
    if (folder.has_parent_path() && folder.parent_path() != folder && !makeFolder(folder.parent_path())) return false;
    return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

class FileSecretStore final : public SecretStore {
public:
    explicit FileSecretStore(std::filesystem::path folder) : folder_(std::move(folder)) {}

    ReadResult read(std::string_view service, std::string_view account) override {
        const auto path = secretFilePath(folder_, service, account);
        FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (file.get() < 0) return {errno == ENOENT ? Outcome::notFound : Outcome::failed, {}};
        ReadResult result{Outcome::done, {}};
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return {Outcome::failed, {}};
            if (n == 0) break;
            result.bytes.append(buffer, static_cast<std::size_t>(n));
        }
        return result;
    }

    Outcome write(std::string_view service, std::string_view account, std::string_view,
                  std::string_view bytes) override {
        if (!makeFolder(folder_)) return Outcome::failed;
        const auto path = secretFilePath(folder_, service, account);
        // mkstemp creates the file with mode 0600 before any byte is in it.
        std::string temporary = path.string() + ".XXXXXX";
        FileDescriptor file(::mkstemp(temporary.data()));
        if (file.get() < 0) return Outcome::failed;
        const bool written = ::fchmod(file.get(), 0600) == 0 && writeAll(file.get(), bytes) && ::fsync(file.get()) == 0;
        if (!file.close() || !written || ::rename(temporary.c_str(), path.c_str()) != 0) {
            ::unlink(temporary.c_str());
            return Outcome::failed;
        }
        // Make the rename itself durable; the new secret is in place either way.
        FileDescriptor directory(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (directory.get() >= 0) ::fsync(directory.get());
        return Outcome::done;
    }

    Outcome remove(std::string_view service, std::string_view account) override {
        const auto path = secretFilePath(folder_, service, account);
        if (::unlink(path.c_str()) == 0) return Outcome::done;
        return errno == ENOENT ? Outcome::notFound : Outcome::failed;
    }

private:
    std::filesystem::path folder_;
};

}  // namespace

std::filesystem::path secretFilePath(const std::filesystem::path& folder, std::string_view service,
                                     std::string_view account) {
    return folder / (fileNamePart(service) + "@" + fileNamePart(account));
}

std::unique_ptr<SecretStore> fileSecretStore(std::filesystem::path folder) {
    return std::make_unique<FileSecretStore>(std::move(folder));
}

std::filesystem::path userConfigHome() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    if (configHome && *configHome && std::filesystem::path(configHome).is_absolute()) return configHome;
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* entry = ::getpwuid(::getuid());
        home = entry ? entry->pw_dir : "/";
    }
    return std::filesystem::path(home) / ".config";
}

}  // namespace pelora::secrets
