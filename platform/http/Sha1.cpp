#include "platform/http/Sha1.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
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

}  // namespace

struct Sha1::Context {
    std::unique_ptr<EVP_MD_CTX, DigestContextDeleter> digest{EVP_MD_CTX_new()};
};

Sha1::Sha1() : context_(std::make_unique<Context>()) { reset(); }

Sha1::~Sha1() = default;

void Sha1::reset() {
    if (!context_->digest || EVP_DigestInit_ex(context_->digest.get(), EVP_sha1(), nullptr) != 1)
        throw std::runtime_error("SHA-1 is not available");
}

void Sha1::update(std::string_view bytes) { EVP_DigestUpdate(context_->digest.get(), bytes.data(), bytes.size()); }

std::string Sha1::hex() {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_->digest.get(), digest.data(), &length);
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        out.push_back(digits[digest[i] >> 4]);
        out.push_back(digits[digest[i] & 0x0f]);
    }
    reset();
    return out;
}

std::string Sha1::ofBytes(std::string_view bytes) {
    Sha1 sha1;
    sha1.update(bytes);
    return sha1.hex();
}

std::optional<std::string> Sha1::ofFile(const std::filesystem::path& file, std::int64_t length) {
    std::unique_ptr<std::FILE, FileCloser> in(std::fopen(file.c_str(), "rb"));
    if (!in) return std::nullopt;
    Sha1 sha1;
    std::vector<char> block(1 << 20);
    std::int64_t left = length;
    while (length < 0 || left > 0) {
        const std::size_t want = length < 0 ? block.size() : static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(block.size())));
        const std::size_t n = std::fread(block.data(), 1, want, in.get());
        if (n > 0) sha1.update(std::string_view(block.data(), n));
        left -= static_cast<std::int64_t>(n);
        if (n < want) {
            if (std::ferror(in.get()) || length >= 0) return std::nullopt;  // unreadable, or shorter than asked
            break;
        }
    }
    return sha1.hex();
}

}  // namespace pelora::http
