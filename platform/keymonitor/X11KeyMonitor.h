#pragma once
#include "platform/keymonitor/KeyMonitor.h"

#include <memory>
#include <optional>
#include <string>

namespace pelora::keymonitor {

// Keys of an X11 display. Two connections: one selects XInput 2.2 raw key events on the
// root window (they arrive while another client grabs the keyboard, which a 2.0 client
// would miss), the other holds the hot-key grabs (on the first, a grabbed key's raw
// release would be lost). A thread of its own reads both. Connects on first use and again
// after a failure; an X error on these connections never ends the program.
class X11KeyMonitor final : public KeyMonitor {
public:
    // `displayName` none: $DISPLAY.
    explicit X11KeyMonitor(std::optional<std::string> displayName = std::nullopt);
    ~X11KeyMonitor() override;
    X11KeyMonitor(const X11KeyMonitor&) = delete;
    X11KeyMonitor& operator=(const X11KeyMonitor&) = delete;

    std::unique_ptr<Subscription> watchKey(std::string_view keyName,
                                           std::function<void(KeyTransition)> onTransition) override;
    GrabOutcome grabKey(std::uint32_t keysym, unsigned modifiers, std::function<void(HotKeyEvent)> onEvent) override;
    std::optional<unsigned> modifierState() override;

    // Whether the display answers and offers raw key events (XInput 2.2 or later).
    bool rawKeyEventsAvailable();
    // Whether the display answers and offers synthetic key events (the XTEST extension).
    bool syntheticEventsAvailable();
    // Why the last connection attempt failed; empty while connected.
    std::string connectionError() const;

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace pelora::keymonitor
