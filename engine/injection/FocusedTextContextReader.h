#pragma once

#include <optional>

#include "engine/injection/ActiveApplicationSnapshot.h"
#include "engine/injection/FocusedTextContext.h"

namespace pelora {

// What the user is typing into, read once when a dictation starts.
class FocusedTextContextReader {
public:
    // The target's name and identifier, the title of its active window, the focused
    // field's selection and up to 180 UTF-16 units on each side of it, read by range
    // (never the whole document) and never cutting a character in half. Never fails:
    // what cannot be read stays absent; without assistive access only the application's
    // name and identifier are filled. Blocks while the target answers.
    static FocusedTextContext capture(const std::optional<ActiveApplicationSnapshot>& targetApp);
};

}  // namespace pelora
