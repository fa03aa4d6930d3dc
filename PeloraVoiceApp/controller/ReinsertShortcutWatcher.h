#pragma once

#include "engine/injection/ReinsertShortcutPreset.h"

#include <functional>

namespace pelora {

// The reinsert hot key as the controller uses it. Main thread only.
class ReinsertShortcutWatcher {
public:
    virtual ~ReinsertShortcutWatcher() = default;
    // `onTrigger` runs on the main thread once per use of the hot key; empty detaches.
    virtual void setTriggerHandler(std::function<void()> onTrigger) = 0;
    // A running watcher takes the new preset's combination at once.
    virtual void setPreset(ReinsertShortcutPreset preset) = 0;
    // (Re)takes the preset's combination system-wide; stop() releases it.
    virtual void start() = 0;
    virtual void stop() = 0;
};

}  // namespace pelora
