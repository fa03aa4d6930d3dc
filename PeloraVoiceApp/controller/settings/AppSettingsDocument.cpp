#include "PeloraVoiceApp/controller/settings/AppSettingsDocument.h"

#include "platform/secrets/PrivateFile.h"
#include "platform/secrets/SecretStore.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <utility>

namespace pelora {

namespace {

constexpr std::string_view temporaryMarker = ".tmp-";

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
    bool close() { return ::close(std::exchange(fd_, -1)) == 0; }

private:
    int fd_;
};

void syncFolder(const std::filesystem::path& folder) {
    FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() >= 0) ::fsync(directory.get());
}

// Moves `from` to `to` unless `to` exists. errno tells why not.
bool moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // Filesystems without the flag: a hard link fails on an existing name just the same.
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

std::string errnoText(int error) { return std::strerror(error); }

}  // namespace

std::filesystem::path AppSettingsDocument::defaultLocation() {
    return secrets::userConfigHome() / std::string(folderName) / (std::string(defaultsKey) + ".json");
}

AppSettingsDocument::AppSettingsDocument(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path AppSettingsDocument::asideLocation(std::chrono::system_clock::time_point now) const {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    std::filesystem::path aside = file_;
    aside += std::string(".unreadable-") + stamp;
    return aside;
}

std::optional<PersistedSettings> AppSettingsDocument::load(std::chrono::system_clock::time_point now) {
    removeLeftoverTemporaries();
    FileDescriptor file(::open(file_.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        if (errno == ENOENT) return std::nullopt;
        setAside(errnoText(errno), now);
        return std::nullopt;
    }
    std::string bytes;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            file.close();
            setAside(errnoText(error), now);
            return std::nullopt;
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    file.close();
    try {
        return PersistedSettings::fromJSON(bytes);
    } catch (const SettingsDecodingError& error) {
        setAside(error.what(), now);
        return std::nullopt;
    }
}

void AppSettingsDocument::setAside(const std::string& reason, std::chrono::system_clock::time_point now) {
    const std::filesystem::path first = asideLocation(now);
    std::filesystem::path aside = first;
    for (int attempt = 2;; ++attempt) {
        if (moveWithoutReplacing(file_, aside)) {
            syncFolder(file_.parent_path());
            std::fprintf(stderr, "PeloraVoice2: the settings document %s could not be read (%s); moved it to %s\n",
                         file_.c_str(), reason.c_str(), aside.c_str());
            return;
        }
        if (errno != EEXIST || attempt > 100) break;
        aside = first;
        aside += '-';
        aside += std::to_string(attempt);
    }
    // Replacing it would lose whatever the user still has in it.
    keepUnreadable_ = true;
    std::fprintf(stderr,
                 "PeloraVoice2: the settings document %s could not be read (%s) nor moved aside (%s); "
                 "settings changes will not be saved\n",
                 file_.c_str(), reason.c_str(), errnoText(errno).c_str());
}

void AppSettingsDocument::removeLeftoverTemporaries() const {
    // Temporary files of saves that a crash cut short; the document itself is whole.
    const std::string prefix = file_.filename().string() + std::string(temporaryMarker);
    std::error_code error;
    for (std::filesystem::directory_iterator it(file_.parent_path(), error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0) {
            std::error_code ignored;
            std::filesystem::remove(it->path(), ignored);
        }
    }
}

bool AppSettingsDocument::save(const PersistedSettings& settings) noexcept {
    try {
        return saveBytes(settings.toJSON());
    } catch (const std::exception&) {
        return false;  // nothing could be encoded: the previous document stays
    }
}

bool AppSettingsDocument::saveBytes(std::string_view bytes) noexcept {
    if (keepUnreadable_) return false;
    try {
        return secrets::replacePrivateFile(file_, bytes, temporaryMarker);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace pelora
