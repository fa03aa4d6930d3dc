#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

namespace pelora {

// The whole content of a file, read-only: memory-mapped when the file is a non-empty
// regular file, read into memory otherwise. Shared between its readers, never copied.
class MappedFile {
public:
    // Throws std::filesystem::filesystem_error (with the system's reason) when the file
    // cannot be opened or read.
    static std::shared_ptr<const MappedFile> open(const std::filesystem::path& file);
    // Bytes already in memory (tests, generated tables).
    static std::shared_ptr<const MappedFile> fromBytes(std::vector<std::byte> bytes);

    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Null when the file is empty.
    const std::byte* data() const { return size_ == 0 ? nullptr : data_; }
    std::size_t size() const { return size_; }
    std::span<const std::byte> bytes() const { return {data_, size_}; }

private:
    MappedFile() = default;

    const std::byte* data_ = nullptr;
    std::size_t size_ = 0;
    bool mapped_ = false;
    std::vector<std::byte> owned_;
};

}  // namespace pelora
