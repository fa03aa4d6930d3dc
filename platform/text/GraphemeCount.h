#pragma once

#include <cstddef>
#include <string_view>

namespace pelora::text {

// The same count as graphemeCount (user-perceived characters), without building a break
// iterator when every scalar of the text stands alone, as in plain Japanese or Latin
// text; only text with combining marks, joiners, Hangul jamo or similar pays for one.
// For the hot loops of the text rules, which count lengths many times per line.
std::size_t graphemeCountFast(std::string_view s);

// min(graphemeCount(s), limit), reading `s` only from its start up to the `limit`-th
// character: a length compared with a small threshold costs the threshold, not the text.
std::size_t graphemeCountUpTo(std::string_view s, std::size_t limit);

}  // namespace pelora::text
