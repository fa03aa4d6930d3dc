#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// SHA-256 digests written as 64 lower-case hexadecimal digits.
namespace pelora::http {

std::string sha256Hex(std::string_view bytes);

// Streams the file in blocks; none when it cannot be opened or read.
std::optional<std::string> sha256HexOfFile(const std::filesystem::path& file);

}  // namespace pelora::http
