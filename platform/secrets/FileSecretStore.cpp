#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/secrets/PrivateFile.h"
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
        const auto path = secretFilePath(folder_, service, account);
        return replacePrivateFile(path, bytes, ".") ? Outcome::done : Outcome::failed;
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
