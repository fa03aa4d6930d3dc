#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace pelora::keymonitor {

// One press or release of a watched key, stamped with the X server's time of it
// (milliseconds, wrapping at 2^32; only differences mean anything).
struct KeyTransition {
    bool pressed = false;
    std::uint32_t serverTime = 0;
};

// A grabbed combination went down or up. `repeat` marks presses the server made up
// while the key stays held.
struct HotKeyEvent {
    bool pressed = false;
    bool repeat = false;
    std::uint32_t serverTime = 0;
};

// The core keyboard's modifier bits, as X11 numbers them.
namespace modifier {
inline constexpr unsigned shift = 1u << 0;
inline constexpr unsigned lock = 1u << 1;
inline constexpr unsigned control = 1u << 2;
inline constexpr unsigned mod1 = 1u << 3;  // Alt
inline constexpr unsigned mod2 = 1u << 4;  // NumLock on common layouts
inline constexpr unsigned mod4 = 1u << 6;  // Super
}  // namespace modifier

// A live watch or grab; destroying it ends it, and no callback runs after that.
class Subscription {
public:
    virtual ~Subscription() = default;
};

struct GrabOutcome {
    std::unique_ptr<Subscription> grab;  // none when refused
    std::string error;                   // why it was refused
};

// Global keys of the desktop session. Callbacks run on the monitor's own thread and must
// only hand the event on (post it to the main thread).
class KeyMonitor {
public:
    virtual ~KeyMonitor() = default;

    // Presses and releases of the physical key with this XKB key name ("RALT"), seen
    // whichever window has the focus and while another client grabs the keyboard.
    // None when the key does not exist or the session cannot report raw keys.
    virtual std::unique_ptr<Subscription> watchKey(std::string_view keyName,
                                                   std::function<void(KeyTransition)> onTransition) = 0;
    // Takes the key with this keysym together with exactly these modifiers away from every
    // other window (CapsLock and NumLock do not matter). Refused when another client holds
    // the combination, the keysym is on no key, or no display answers.
    virtual GrabOutcome grabKey(std::uint32_t keysym, unsigned modifiers,
                                std::function<void(HotKeyEvent)> onEvent) = 0;
    // The keyboard's modifier bits now; none when no display answers.
    virtual std::optional<unsigned> modifierState() = 0;
};

}  // namespace pelora::keymonitor
