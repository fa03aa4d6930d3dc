#pragma once

#include <string>

namespace pelora {

// printf-style "%0W.Pf" that never depends on the process's numeric locale:
// the decimal separator is always ".", the result zero-padded on the left to `width`.
std::string formatFixed(double value, int precision, int width = 0);

}  // namespace pelora
