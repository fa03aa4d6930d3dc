#pragma once

// Unicode general-category tests of one scalar, beyond the script classes of UnicodeText.h.
namespace pelora::text {

// General category Nd: decimal digits of any script (0-9, ０-９, ٠-٩ ...).
bool isDecimalNumber(char32_t c);
// General categories L, M or N: letters, combining marks and numbers of any script.
bool isLetterMarkOrNumber(char32_t c);

}  // namespace pelora::text
