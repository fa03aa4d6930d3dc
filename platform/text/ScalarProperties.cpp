#include "platform/text/ScalarProperties.h"

#include <unicode/uchar.h>

namespace pelora::text {

bool isDecimalNumber(char32_t c) { return u_charType(static_cast<UChar32>(c)) == U_DECIMAL_DIGIT_NUMBER; }

bool isLetterMarkOrNumber(char32_t c) {
    const uint32_t mask = U_MASK(u_charType(static_cast<UChar32>(c)));
    return (mask & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}

}  // namespace pelora::text
