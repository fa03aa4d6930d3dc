#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace pelora::http {

// SHA-1 fed piece by piece, written as 40 lower-case hexadecimal digits. It identifies
// files whose publishers give SHA-1 digests; it is no protection against a forger.
class Sha1 {
public:
    Sha1();
    ~Sha1();
    Sha1(const Sha1&) = delete;
    Sha1& operator=(const Sha1&) = delete;

    void update(std::string_view bytes);
    // The digest of everything fed since construction or the last reset.
    std::string hex();
    void reset();

    static std::string ofBytes(std::string_view bytes);
    // Streams the file's first `length` bytes (all when negative); none when it cannot be read.
    static std::optional<std::string> ofFile(const std::filesystem::path& file, std::int64_t length = -1);

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

}  // namespace pelora::http
