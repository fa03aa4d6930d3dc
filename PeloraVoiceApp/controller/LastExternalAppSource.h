#pragma once

#include "engine/injection/ActiveApplicationSnapshot.h"

#include <functional>
#include <optional>

namespace pelora {

// The front-application tracker's last application other than this one, as it changes.
// Main thread only.
class LastExternalAppSource {
public:
    using Handler = std::function<void(const std::optional<ActiveApplicationSnapshot>&)>;
    virtual ~LastExternalAppSource() = default;
    // `handler` receives the current value at once and then every change, on the main
    // thread; empty detaches.
    virtual void setLastExternalAppHandler(Handler handler) = 0;
};

}  // namespace pelora
