#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

// Key events posted to the display as if typed on a keyboard.
namespace pelora::synthkeys {

// The keys the text injector presses, found by keysym in the display's current keymap.
enum class Key { control, shift, v, returnKey, left, right, backSpace };

// One connection to the display, for one operation. While a session is open no other
// session of this process runs (they would share spare keycodes). Closing it releases
// every key it left down and puts every keycode it lent back as it was.
class KeySession {
public:
    virtual ~KeySession() = default;

    // Releases every modifier key that is down, whoever pressed it, so that the events
    // that follow carry only the modifiers the caller presses itself.
    virtual bool releaseHeldModifiers() = 0;
    // Finds the key's keycode (lending it one when the keymap has none) without
    // pressing it, so that a sequence can fail before any of it is posted. False when
    // the key has no keycode and none can be lent to it, or the connection is gone.
    virtual bool prepare(Key key) = 0;
    // Presses or releases one key; false as for prepare().
    virtual bool post(Key key, bool down) = 0;
    // Types each code point once, in order, whatever modifiers or lock keys are active.
    // False when no keycode can be lent or the connection is gone; what was typed before
    // stays typed.
    virtual bool type(std::u32string_view codePoints) = 0;
};

class SyntheticKeyboard {
public:
    virtual ~SyntheticKeyboard() = default;

    // True when a display answers and offers synthetic events.
    virtual bool mayPost() = 0;
    // A session, or nullptr when no display answers or it offers no synthetic events.
    virtual std::unique_ptr<KeySession> open() = 0;
};

// Events through the XTest extension of the display named `displayName`, or of $DISPLAY
// when it is absent. Each session opens its own connection.
std::shared_ptr<SyntheticKeyboard> xtestKeyboard(std::optional<std::string> displayName = std::nullopt);

}  // namespace pelora::synthkeys
