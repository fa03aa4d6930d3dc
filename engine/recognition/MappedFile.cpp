#include "engine/recognition/MappedFile.h"

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelora {

namespace {

[[noreturn]] void fail(const std::string& what, const std::filesystem::path& file, int error) {
    throw std::filesystem::filesystem_error(what, file, std::error_code(error, std::generic_category()));
}

struct FileDescriptor {
    int fd = -1;
    ~FileDescriptor() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

std::shared_ptr<const MappedFile> MappedFile::open(const std::filesystem::path& file) {
    FileDescriptor descriptor{::open(file.c_str(), O_RDONLY | O_CLOEXEC)};
    if (descriptor.fd < 0) fail("cannot open file", file, errno);
    struct stat info {};
    if (::fstat(descriptor.fd, &info) != 0) fail("cannot read file attributes", file, errno);
    if (S_ISDIR(info.st_mode)) fail("cannot read file", file, EISDIR);

    std::shared_ptr<MappedFile> result(new MappedFile());
    if (S_ISREG(info.st_mode) && info.st_size > 0) {
        void* address = ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE, descriptor.fd, 0);
        if (address != MAP_FAILED) {
            result->data_ = static_cast<const std::byte*>(address);
            result->size_ = static_cast<std::size_t>(info.st_size);
            result->mapped_ = true;
            return result;
        }
    }
    // Not mappable (a pipe, an empty file, a file system without mmap): read it instead.
    std::vector<std::byte> bytes;
    std::byte buffer[65536];
    for (;;) {
        ssize_t n = ::read(descriptor.fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("cannot read file", file, errno);
        }
        if (n == 0) break;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    result->owned_ = std::move(bytes);
    result->data_ = result->owned_.data();
    result->size_ = result->owned_.size();
    return result;
}

std::shared_ptr<const MappedFile> MappedFile::fromBytes(std::vector<std::byte> bytes) {
    std::shared_ptr<MappedFile> result(new MappedFile());
    result->owned_ = std::move(bytes);
    result->data_ = result->owned_.data();
    result->size_ = result->owned_.size();
    return result;
}

MappedFile::~MappedFile() {
    if (mapped_) ::munmap(const_cast<std::byte*>(data_), size_);
}

}  // namespace pelora
