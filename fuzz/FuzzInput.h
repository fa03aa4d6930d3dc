#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

// Shared by the fuzz targets: the bytes of one input, taken apart front to back. Running
// out of bytes is not an error; every read then yields zeros or empty text.
namespace pelora::fuzz {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}

    bool empty() const { return rest_.empty(); }
    std::uint8_t byte() {
        if (rest_.empty()) return 0;
        const auto value = static_cast<std::uint8_t>(rest_.front());
        rest_.remove_prefix(1);
        return value;
    }
    double number() {
        char bytes[sizeof(double)] = {};
        const std::size_t n = std::min(sizeof bytes, rest_.size());
        std::memcpy(bytes, rest_.data(), n);
        rest_.remove_prefix(n);
        double value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }
    // Text up to the next NUL byte (which is consumed), or the rest.
    std::string piece() {
        const std::size_t end = rest_.find('\0');
        std::string text(rest_.substr(0, end));
        rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
        return text;
    }
    std::string_view rest() {
        const std::string_view all = rest_;
        rest_ = {};
        return all;
    }

private:
    std::string_view rest_;
};

}  // namespace pelora::fuzz
