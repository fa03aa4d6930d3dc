#include "tests/support/XKeyboardState.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <memory>
#include <stdexcept>

namespace pelora::testing {

namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

DisplayPtr openOrThrow(const std::string& name) {
    DisplayPtr display(XOpenDisplay(name.c_str()));
    if (!display) throw std::runtime_error("cannot open display " + name);
    return display;
}

}  // namespace

KeymapSnapshot snapshotKeymap(const std::string& name) {
    DisplayPtr display = openOrThrow(name);
    int minKeycode = 0, maxKeycode = 0;
    XDisplayKeycodes(display.get(), &minKeycode, &maxKeycode);
    KeymapSnapshot snapshot;
    const int count = maxKeycode - minKeycode + 1;
    KeySym* map = XGetKeyboardMapping(display.get(), static_cast<KeyCode>(minKeycode), count, &snapshot.keysymsPerKeycode);
    snapshot.keysyms.assign(map, map + count * snapshot.keysymsPerKeycode);
    XFree(map);
    XModifierKeymap* modifiers = XGetModifierMapping(display.get());
    snapshot.modifiers.assign(modifiers->modifiermap, modifiers->modifiermap + 8 * modifiers->max_keypermod);
    XFreeModifiermap(modifiers);
    return snapshot;
}

void fakeKey(const std::string& name, unsigned long keysym, bool down) {
    DisplayPtr display = openOrThrow(name);
    XTestFakeKeyEvent(display.get(), XKeysymToKeycode(display.get(), keysym), down ? True : False, CurrentTime);
    XSync(display.get(), False);
}

bool isKeyDown(const std::string& name, unsigned long keysym) {
    DisplayPtr display = openOrThrow(name);
    char keys[32] = {};
    XQueryKeymap(display.get(), keys);
    const KeyCode keycode = XKeysymToKeycode(display.get(), keysym);
    return keys[keycode / 8] & (1 << (keycode % 8));
}

}  // namespace pelora::testing
