#include "tests/platform/synthkeys/KeyReader.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <xkbcommon/xkbcommon.h>

#include <poll.h>

#include <stdexcept>

namespace pelora::synthkeys::testing {

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

KeyReader::KeyReader(const std::string& display) {
    display_ = XOpenDisplay(display.c_str());
    if (!display_) throw std::runtime_error("cannot open display " + display);
    window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 200, 100, 0, 0, 0);
    XSelectInput(display_, window_, KeyPressMask | StructureNotifyMask);
    XMapRaised(display_, window_);
    for (XEvent event;;) {
        XNextEvent(display_, &event);
        if (event.type == MapNotify) break;
    }
    XSetInputFocus(display_, window_, RevertToPointerRoot, CurrentTime);
    XSync(display_, False);
    thread_ = std::thread([this] { run(); });
}

KeyReader::~KeyReader() {
    stop_ = true;
    thread_.join();
    XDestroyWindow(display_, window_);
    XCloseDisplay(display_);
}

void KeyReader::run() {
    pollfd fd{ConnectionNumber(display_), POLLIN, 0};
    while (!stop_) {
        while (XPending(display_)) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type == MappingNotify) {
                XRefreshKeyboardMapping(&event.xmapping);
            } else if (event.type == KeyPress) {
                char buffer[16];
                KeySym keysym = NoSymbol;
                XLookupString(&event.xkey, buffer, sizeof buffer, &keysym, nullptr);
                std::lock_guard lock(mutex_);
                presses_.push_back({keysym, event.xkey.state});
            }
        }
        poll(&fd, 1, 20);
    }
}

std::u32string KeyReader::text() {
    std::u32string text;
    for (const Press& press : presses()) text += static_cast<char32_t>(xkb_keysym_to_utf32(static_cast<xkb_keysym_t>(press.keysym)));
    return text;
}

std::vector<KeyReader::Press> KeyReader::presses() {
    std::lock_guard lock(mutex_);
    return presses_;
}

void KeyReader::clear() {
    std::lock_guard lock(mutex_);
    presses_.clear();
}

void KeyReader::waitForPresses(std::size_t count, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (presses().size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

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

void fakeKey(const std::string& name, KeySym keysym, bool down) {
    DisplayPtr display = openOrThrow(name);
    XTestFakeKeyEvent(display.get(), XKeysymToKeycode(display.get(), keysym), down ? True : False, CurrentTime);
    XSync(display.get(), False);
}

bool isKeyDown(const std::string& name, KeySym keysym) {
    DisplayPtr display = openOrThrow(name);
    char keys[32] = {};
    XQueryKeymap(display.get(), keys);
    const KeyCode keycode = XKeysymToKeycode(display.get(), keysym);
    return keys[keycode / 8] & (1 << (keycode % 8));
}

}  // namespace pelora::synthkeys::testing
