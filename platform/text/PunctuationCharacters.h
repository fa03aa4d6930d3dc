#pragma once

#include <string>
#include <string_view>

// Punctuation by Unicode general category (Pc, Pd, Ps, Pe, Pi, Pf, Po).
namespace pelora::text {

bool isPunctuation(char32_t c);
// Removes punctuation scalars from both ends, never from the middle.
std::string trimPunctuation(std::string_view s);

}  // namespace pelora::text
