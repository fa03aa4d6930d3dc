#pragma once

#include <string>
#include <string_view>

namespace pelora::accessibility {

// UTF-8 to UTF-16; invalid bytes become U+FFFD.
std::u16string toUtf16(std::string_view utf8);
// UTF-16 to UTF-8; a lone surrogate half becomes U+FFFD.
std::string toUtf8(std::u16string_view utf16);

}  // namespace pelora::accessibility
