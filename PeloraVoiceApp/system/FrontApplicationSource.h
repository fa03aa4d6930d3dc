#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "engine/injection/ActiveApplicationSnapshot.h"

// Where the front-application tracker learns which application is in front, and how the
// insertion orchestrator brings one back. The X11 one reads the window manager's active
// window; tests script a fake.
class FrontApplicationSource {
public:
    using Activation = std::function<void(std::optional<pelora::ActiveApplicationSnapshot>)>;

    virtual ~FrontApplicationSource() = default;

    // The application in front now, if any.
    virtual std::optional<pelora::ActiveApplicationSnapshot> frontmost() = 0;
    // Calls `onActivated` (on any thread) whenever another application comes to the front,
    // with it when known. An empty function stops the notices. Returns once the notices
    // run: a change after the return is always announced.
    virtual void watchActivations(Activation onActivated) = 0;
    // Asks for the process's most recently active window to come to the front.
    virtual bool activate(std::int32_t processIdentifier) = 0;
    // True when the process has ended.
    virtual bool isTerminated(std::int32_t processIdentifier) = 0;
};

// True for this process, or for an application whose bundle identifier is this
// application's own in any letter case.
bool isSelfApplication(const std::optional<pelora::ActiveApplicationSnapshot>& snapshot);

// The X11 desktop's front application (EWMH active window, X-Resource process ids), its
// identity turned into a bundle identifier by the injection records' resolver.
std::unique_ptr<FrontApplicationSource> makeX11FrontApplicationSource();
