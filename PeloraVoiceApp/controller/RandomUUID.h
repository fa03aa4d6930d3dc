#pragma once

#include <string>

namespace pelora {

// A fresh random (version 4) UUID in its canonical upper-case text form.
std::string makeRandomUUID();

}  // namespace pelora
