#include "platform/http/Sha256.h"

#include <array>
#include <cstdio>
#include <memory>
#include <vector>

#include <openssl/evp.h>

namespace pelora::http {

namespace {

struct DigestContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

class Digest {
public:
    Digest() : context_(EVP_MD_CTX_new()) {
        if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1)
            throw std::runtime_error("SHA-256 is not available");
    }
    void update(const void* data, std::size_t size) { EVP_DigestUpdate(context_.get(), data, size); }
    std::string hex() {
        std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
        unsigned int length = 0;
        EVP_DigestFinal_ex(context_.get(), digest.data(), &length);
        static const char digits[] = "0123456789abcdef";
        std::string out;
        out.reserve(length * 2);
        for (unsigned int i = 0; i < length; ++i) {
            out.push_back(digits[digest[i] >> 4]);
            out.push_back(digits[digest[i] & 0x0f]);
        }
        return out;
    }

private:
    std::unique_ptr<EVP_MD_CTX, DigestContextDeleter> context_;
};

}  // namespace

std::string sha256Hex(std::string_view bytes) {
    Digest digest;
    digest.update(bytes.data(), bytes.size());
    return digest.hex();
}

std::optional<std::string> sha256HexOfFile(const std::filesystem::path& file) {
    std::unique_ptr<std::FILE, FileCloser> in(std::fopen(file.c_str(), "rb"));
    if (!in) return std::nullopt;
    Digest digest;
    std::vector<char> block(1 << 20);
    for (;;) {
        std::size_t n = std::fread(block.data(), 1, block.size(), in.get());
        if (n > 0) digest.update(block.data(), n);
        if (n < block.size()) break;
    }
    if (std::ferror(in.get())) return std::nullopt;
    return digest.hex();
}

}  // namespace pelora::http
