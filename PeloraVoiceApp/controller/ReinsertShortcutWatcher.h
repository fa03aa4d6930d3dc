#pragma once

#include <functional>

namespace pelora {

// The reinsert hot key as the controller uses it. Main thread only.
class ReinsertShortcutWatcher {
public:
    virtual ~ReinsertShortcutWatcher() = default;
    // `onTrigger` runs on the main thread once per use of the hot key; empty detaches.
    virtual void setTriggerHandler(std::function<void()> onTrigger) = 0;
};

}  // namespace pelora
