#include "tests/platform/synthkeys/KeyReader.h"

#include <X11/Xutil.h>
#include <xkbcommon/xkbcommon.h>

#include <poll.h>

#include <stdexcept>

namespace pelora::synthkeys::testing {

KeyReader::KeyReader(const std::string& display, Options options) : options_(options) {
    display_ = XOpenDisplay(display.c_str());
    if (!display_) throw std::runtime_error("cannot open display " + display);
    window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 200, 100, 0, 0, 0);
    if (options_.pings != Pings::notListed) {
        Atom ping = XInternAtom(display_, "_NET_WM_PING", False);
        XSetWMProtocols(display_, window_, &ping, 1);
    }
    XSelectInput(display_, window_, KeyPressMask | StructureNotifyMask);
    XMapRaised(display_, window_);
    for (XEvent event;;) {
        XNextEvent(display_, &event);
        if (event.type == MapNotify) break;
    }
    XSetInputFocus(display_, window_, RevertToPointerRoot, CurrentTime);
    // Xlib sets up its keymap, and its notice of keymap changes, at the first lookup, as a
    // toolkit does at start-up; done at the first press instead, a keymap change the server
    // makes during the set-up would pass unnoticed and that key would read as no keysym.
    int minKeycode = 0, maxKeycode = 0;
    XDisplayKeycodes(display_, &minKeycode, &maxKeycode);
    XKeyEvent probe{};
    probe.type = KeyPress;
    probe.display = display_;
    probe.window = window_;
    probe.keycode = static_cast<unsigned>(minKeycode);
    char buffer[16];
    KeySym keysym = NoSymbol;
    XLookupString(&probe, buffer, sizeof buffer, &keysym, nullptr);
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
            } else if (event.type == ClientMessage && options_.pings == Pings::answered &&
                       static_cast<Atom>(event.xclient.data.l[0]) == XInternAtom(display_, "_NET_WM_PING", False)) {
                // Answered as toolkits do: the same message, to the root window.
                XEvent answer = event;
                answer.xclient.window = DefaultRootWindow(display_);
                XSendEvent(display_, answer.xclient.window, False, SubstructureNotifyMask | SubstructureRedirectMask, &answer);
                XFlush(display_);
            } else if (event.type == KeyPress) {
                std::this_thread::sleep_for(options_.perPress);
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

}  // namespace pelora::synthkeys::testing
