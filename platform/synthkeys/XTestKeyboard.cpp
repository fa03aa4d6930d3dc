#include "platform/synthkeys/Keysyms.h"
#include "platform/synthkeys/SyntheticKeyboard.h"
#include "platform/synthkeys/TypingPlan.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_set>
#include <vector>

namespace pelora::synthkeys {

namespace {

// Clients look a key event's keysym up in the keymap as they hold it when they handle
// the event, and fetch the keymap afresh, as the server has it at that moment, after a
// change. A keycode lent a new character while the focused application still has
// presses of it queued therefore types the new character in place of the old one. So a
// keycode is lent again only after the application has handled every event sent before:
// it answered a _NET_WM_PING sent after them (clients handle their events in order).
// An application that does not answer pings (older Xlib clients such as xterm), or
// that does not answer within pingTimeout, gets a fixed wait after each keymap change
// and, before a keycode is lent again, the fixed wait and then a wait until its process
// sleeps. That is no proof (a client also sleeps waiting for a reply, or for events the
// server has not sent yet), so a machine that starves such a client for longer can
// still swap its characters; the fixed wait alone did so far more often.
constexpr auto keymapSettle = std::chrono::milliseconds(50);
constexpr auto pingTimeout = std::chrono::seconds(3);

// --- X error handling -------------------------------------------------------------
// Xlib's default handlers end the process. Errors and lost connections of our own
// displays are answered here instead; every other display goes to whichever handler
// was there before.

std::mutex& ourDisplaysMutex() {
    static std::mutex mutex;
    return mutex;
}
std::unordered_set<Display*>& ourDisplays() {
    static std::unordered_set<Display*> displays;
    return displays;
}
XErrorHandler previousErrorHandler = nullptr;
XIOErrorHandler previousIOErrorHandler = nullptr;

bool isOurs(Display* display) {
    std::lock_guard lock(ourDisplaysMutex());
    return ourDisplays().contains(display);
}

int onProtocolError(Display* display, XErrorEvent* error) {
    // A failed request of ours shows up as a failed step (the key is missing, the
    // mapping unchanged); there is nothing more to do with the error itself.
    if (isOurs(display)) return 0;
    return previousErrorHandler ? previousErrorHandler(display, error) : 0;
}

int onIOError(Display* display) {
    // Returning lets Xlib go on to the connection's exit handler, which marks it lost.
    if (isOurs(display)) return 0;
    return previousIOErrorHandler ? previousIOErrorHandler(display) : 0;
}

void installErrorHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        previousErrorHandler = XSetErrorHandler(onProtocolError);
        previousIOErrorHandler = XSetIOErrorHandler(onIOError);
    });
}

// One connection. A lost connection (the server went away) marks it lost instead of
// ending the process; every later call on it does nothing.
struct Connection {
    Display* display = nullptr;
    std::atomic<bool> lost = false;

    ~Connection() {
        if (!display) return;
        {
            std::lock_guard lock(ourDisplaysMutex());
            ourDisplays().erase(display);
        }
        XCloseDisplay(display);
    }
};

void onConnectionLost(Display*, void* connection) {
    static_cast<Connection*>(connection)->lost = true;
}

// A connection to a display that has the XTest extension, or nullptr.
std::unique_ptr<Connection> connect(const std::optional<std::string>& displayName) {
    installErrorHandlers();
    Display* display = XOpenDisplay(displayName ? displayName->c_str() : nullptr);
    if (!display) return nullptr;
    auto connection = std::make_unique<Connection>();
    connection->display = display;
    {
        std::lock_guard lock(ourDisplaysMutex());
        ourDisplays().insert(display);
    }
    XSetIOErrorExitHandler(display, onConnectionLost, connection.get());
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) return nullptr;
    return connection;
}

// Sessions of this process share the spare keycodes, so they run one at a time.
std::mutex& sessionMutex() {
    static std::mutex mutex;
    return mutex;
}

KeySym keysymOf(Key key) {
    switch (key) {
    case Key::control: return XK_Control_L;
    case Key::shift: return XK_Shift_L;
    case Key::v: return XK_v;
    case Key::returnKey: return XK_Return;
    case Key::left: return XK_Left;
    case Key::right: return XK_Right;
    case Key::backSpace: return XK_BackSpace;
    }
    return NoSymbol;
}

KeySym alternativeKeysymOf(Key key) {
    switch (key) {
    case Key::control: return XK_Control_R;
    case Key::shift: return XK_Shift_R;
    default: return NoSymbol;
    }
}

bool isModifier(Key key) { return key == Key::control || key == Key::shift; }

class XTestSession final : public KeySession {
public:
    XTestSession(std::unique_ptr<Connection> connection, std::unique_lock<std::mutex> lock)
        : connection_(std::move(connection)), lock_(std::move(lock)) {
        XDisplayKeycodes(display(), &minKeycode_, &maxKeycode_);
    }

    ~XTestSession() override {
        if (lost()) return;
        for (KeyCode keycode : std::set<KeyCode>(down_)) fake(keycode, false);
        if (!originalRows_.empty()) {
            // The focused application may still have presses of lent keycodes queued.
            if (pressedLentKeycodeSinceHandled()) waitUntilEventsHandled();
            for (auto& [keycode, row] : originalRows_) {
                XChangeKeyboardMapping(display(), keycode, static_cast<int>(row.size()), row.data(), 1);
            }
        }
        XSync(display(), False);
    }

    bool releaseHeldModifiers() override {
        if (lost()) return false;
        char keys[32] = {};
        XQueryKeymap(display(), keys);
        XModifierKeymap* modifiers = XGetModifierMapping(display());
        if (!modifiers) return false;
        std::set<KeyCode> released;
        for (int i = 0; i < 8 * modifiers->max_keypermod; ++i) {
            const KeyCode keycode = modifiers->modifiermap[i];
            if (keycode == 0 || released.contains(keycode)) continue;
            if (keys[keycode / 8] & (1 << (keycode % 8))) {
                XTestFakeKeyEvent(display(), keycode, False, CurrentTime);
                released.insert(keycode);
                down_.erase(keycode);
            }
        }
        XFreeModifiermap(modifiers);
        XSync(display(), False);
        return !lost();
    }

    bool prepare(Key key) override { return !lost() && keycodeOf(key).has_value() && !lost(); }

    bool post(Key key, bool down) override {
        if (lost()) return false;
        const std::optional<KeyCode> keycode = keycodeOf(key);
        if (!keycode) return false;
        fake(*keycode, down);
        XSync(display(), False);
        return !lost();
    }

    bool type(std::u32string_view codePoints) override {
        if (lost()) return false;
        if (codePoints.empty()) return true;
        if (!ensureSlots()) return false;
        for (const TypingBatch& batch : planTyping(codePoints, slotCharacters_)) {
            if (!batch.lends.empty()) {
                std::vector<std::pair<KeyCode, KeySym>> lends;
                for (const auto& lend : batch.lends) {
                    lends.emplace_back(slots_[lend.slot], keysymForCodePoint(lend.codePoint));
                }
                if (!lendKeycodes(lends)) return false;
            }
            for (std::size_t slot : batch.presses) {
                fake(slots_[slot], true);
                fake(slots_[slot], false);
            }
            XSync(display(), False);
            if (lost()) return false;
        }
        return true;
    }

private:
    Display* display() const { return connection_->display; }
    bool lost() const { return connection_->lost; }

    void fake(KeyCode keycode, bool down) {
        XTestFakeKeyEvent(display(), keycode, down ? True : False, CurrentTime);
        if (down) {
            down_.insert(keycode);
            pressedSinceHandled_.insert(keycode);
        } else {
            down_.erase(keycode);
        }
    }

    bool pressedLentKeycodeSinceHandled() const {
        for (const auto& entry : originalRows_) {
            if (pressedSinceHandled_.contains(entry.first)) return true;
        }
        return false;
    }

    // Returns once the application holding the keyboard focus has handled every event
    // sent before: at its answer to a ping; else, as far as can be told, after the fixed
    // wait and once its process sleeps.
    void waitUntilEventsHandled() {
        const FocusedApplication& application = focusedApplication();
        if (application.pingWindow != None && roundTripThroughFocusedApplication(application.pingWindow)) {
            pressedSinceHandled_.clear();
            return;
        }
        std::this_thread::sleep_for(keymapSettle);
        if (application.localProcess) waitUntilProcessSleeps(*application.localProcess);
        pressedSinceHandled_.clear();
    }

    bool answersPings() { return !pingUnanswered_ && focusedApplication().pingWindow != None; }

    Atom atom(const char* name) { return XInternAtom(display(), name, False); }

    struct FocusedApplication {
        // The focus window or its nearest ancestor listing _NET_WM_PING, or None.
        Window pingWindow = None;
        // Its process, when it runs on this machine.
        std::optional<pid_t> localProcess;
    };

    // What the application holding the keyboard focus offers for a round trip; nothing
    // for a window of this process (whose event loop may be the one waiting for this
    // session). Looked up again when the focus moves.
    const FocusedApplication& focusedApplication() {
        Window focus = None;
        int revertTo = 0;
        XGetInputFocus(display(), &focus, &revertTo);
        if (focusLookedUp_ && focus == focus_) return focused_;
        focusLookedUp_ = true;
        focus_ = focus;
        focused_ = {};
        const Window root = DefaultRootWindow(display());
        const Atom ping = atom("_NET_WM_PING");
        bool processFound = false;
        // Notes what `window` offers; false when it belongs to this process.
        auto examine = [&](Window window) {
            if (focused_.pingWindow == None) {
                Atom* protocols = nullptr;
                int count = 0;
                if (XGetWMProtocols(display(), window, &protocols, &count)) {
                    if (std::find(protocols, protocols + count, ping) != protocols + count) focused_.pingWindow = window;
                    XFree(protocols);
                }
            }
            if (!processFound) {
                if (const std::optional<pid_t> process = processOf(window)) {
                    processFound = true;
                    if (*process == getpid()) return false;
                    if (onThisMachine(window)) focused_.localProcess = process;
                }
            }
            return true;
        };
        for (Window window = focus; window != None && window != PointerRoot && window != root;) {
            if (!examine(window)) {
                focused_ = {};
                return focused_;
            }
            Window rootReturn = None, parent = None;
            Window* children = nullptr;
            unsigned int childCount = 0;
            if (!XQueryTree(display(), window, &rootReturn, &parent, &children, &childCount)) break;
            if (children) XFree(children);
            window = parent;
        }
        // The focus on the root, on "pointer root" or on a window manager's frame: the
        // keys go to the window the window manager calls active.
        if (focused_.pingWindow == None && !processFound) {
            if (const Window active = activeWindow(); active != None && !examine(active)) focused_ = {};
        }
        return focused_;
    }

    Window activeWindow() {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char* data = nullptr;
        Window active = None;
        if (XGetWindowProperty(display(), DefaultRootWindow(display()), atom("_NET_ACTIVE_WINDOW"), 0, 1, False, XA_WINDOW, &type,
                               &format, &count, &remaining, &data) == Success &&
            data && format == 32 && count == 1) {
            active = static_cast<Window>(*reinterpret_cast<unsigned long*>(data));
        }
        if (data) XFree(data);
        return active;
    }

    std::optional<pid_t> processOf(Window window) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char* data = nullptr;
        std::optional<pid_t> process;
        if (XGetWindowProperty(display(), window, atom("_NET_WM_PID"), 0, 1, False, XA_CARDINAL, &type, &format, &count, &remaining,
                               &data) == Success &&
            data && format == 32 && count == 1) {
            process = static_cast<pid_t>(*reinterpret_cast<unsigned long*>(data));
        }
        if (data) XFree(data);
        return process;
    }

    bool onThisMachine(Window window) {
        XTextProperty machine{};
        if (!XGetWMClientMachine(display(), window, &machine) || !machine.value) return false;
        const std::string name(reinterpret_cast<const char*>(machine.value), machine.nitems);
        XFree(machine.value);
        char host[256] = {};
        return gethostname(host, sizeof host - 1) == 0 && name == host;
    }

    // Waits until every thread of the process sleeps in three samples in a row, with a
    // round trip to the server between samples, at most pingTimeout; a process that does
    // not within that is not waited for again in this session. A client also sleeps
    // while it waits for a reply (the keymap it fetches after a change, say); the server
    // answers the requests of every client that is waiting before it flushes our reply,
    // so such a client is awake again at the next sample.
    void waitUntilProcessSleeps(pid_t process) {
        if (processNeverSettled_) return;
        const auto deadline = std::chrono::steady_clock::now() + pingTimeout;
        int sleepingSamples = 0;
        while (std::chrono::steady_clock::now() < deadline && !lost()) {
            const std::optional<bool> sleeping = allThreadsSleep(process);
            if (!sleeping) return;  // gone
            sleepingSamples = *sleeping ? sleepingSamples + 1 : 0;
            if (sleepingSamples == 3) return;
            XSync(display(), False);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        processNeverSettled_ = true;
    }

    // Whether every thread of the process is asleep; nothing when the process is gone.
    static std::optional<bool> allThreadsSleep(pid_t process) {
        std::error_code error;
        std::filesystem::directory_iterator threads("/proc/" + std::to_string(process) + "/task", error);
        if (error) return std::nullopt;
        bool any = false;
        for (const auto& thread : threads) {
            std::ifstream stat(thread.path() / "stat");
            std::string line;
            if (!std::getline(stat, line)) continue;  // the thread just ended
            // The state follows the command name, which is in parentheses and may hold any
            // character.
            const std::size_t close = line.rfind(')');
            if (close == std::string::npos || close + 2 >= line.size()) continue;
            const char state = line[close + 2];
            if (state != 'S' && state != 'I') return false;
            any = true;
        }
        return any ? std::optional<bool>(true) : std::nullopt;
    }

    // Sends the focused application a ping and waits for its answer, which it sends to
    // the root window once it has handled the ping and so every event before it. False
    // when no answer comes within pingTimeout; then it is not asked again in this
    // session.
    bool roundTripThroughFocusedApplication(Window window) {
        if (pingUnanswered_ || lost()) return false;
        const Window root = DefaultRootWindow(display());
        if (!watchingRoot_) {
            // Qt answers with StructureNotify, GTK with SubstructureNotify as the mask.
            XSelectInput(display(), root, StructureNotifyMask | SubstructureNotifyMask);
            watchingRoot_ = true;
        }
        const Atom protocols = atom("WM_PROTOCOLS"), ping = atom("_NET_WM_PING");
        const long stamp = ++pingStamp_;
        XEvent request{};
        request.xclient.type = ClientMessage;
        request.xclient.window = window;
        request.xclient.message_type = protocols;
        request.xclient.format = 32;
        request.xclient.data.l[0] = static_cast<long>(ping);
        request.xclient.data.l[1] = stamp;
        request.xclient.data.l[2] = static_cast<long>(window);
        XSendEvent(display(), window, False, NoEventMask, &request);
        XFlush(display());

        const auto deadline = std::chrono::steady_clock::now() + pingTimeout;
        while (!lost()) {
            while (XPending(display()) > 0) {
                XEvent event;
                XNextEvent(display(), &event);
                if (event.type == ClientMessage && event.xclient.message_type == protocols && event.xclient.format == 32 &&
                    static_cast<Atom>(event.xclient.data.l[0]) == ping && event.xclient.data.l[1] == stamp) {
                    return true;
                }
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd descriptor{ConnectionNumber(display()), POLLIN, 0};
            poll(&descriptor, 1, static_cast<int>(std::min<long long>(left.count(), 100)) + 1);
        }
        pingUnanswered_ = true;
        return false;
    }

    std::optional<KeyCode> keycodeOf(Key key) {
        if (auto lent = lentNamedKeys_.find(key); lent != lentNamedKeys_.end()) return lent->second;
        for (KeySym keysym : {keysymOf(key), alternativeKeysymOf(key)}) {
            if (keysym == NoSymbol) continue;
            if (KeyCode keycode = XKeysymToKeycode(display(), keysym); keycode != 0) return keycode;
        }
        // A modifier only acts through the modifier map; lending a keycode its keysym
        // would not make it one.
        if (isModifier(key)) return std::nullopt;
        // A keymap without this key: lend it a spare keycode, kept out of typing.
        if (!ensureSlots()) return std::nullopt;
        const KeyCode keycode = slots_.back();
        slots_.pop_back();
        slotCharacters_.pop_back();
        if (!lendKeycodes({{keycode, keysymOf(key)}})) return std::nullopt;
        lentNamedKeys_[key] = keycode;
        return keycode;
    }

    // Keycodes with no keysym that are neither modifiers nor down: typing lends these
    // the characters it needs. Found once per session, on first need.
    bool ensureSlots() {
        if (slotsFound_) return !slots_.empty();
        slotsFound_ = true;
        const int count = maxKeycode_ - minKeycode_ + 1;
        int width = 0;
        KeySym* map = XGetKeyboardMapping(display(), static_cast<KeyCode>(minKeycode_), count, &width);
        if (!map) return false;
        XModifierKeymap* modifiers = XGetModifierMapping(display());
        std::set<KeyCode> modifierKeycodes;
        if (modifiers) {
            for (int i = 0; i < 8 * modifiers->max_keypermod; ++i) modifierKeycodes.insert(modifiers->modifiermap[i]);
            XFreeModifiermap(modifiers);
        }
        char keys[32] = {};
        XQueryKeymap(display(), keys);
        for (int i = 0; i < count; ++i) {
            const auto keycode = static_cast<KeyCode>(minKeycode_ + i);
            bool empty = true;
            for (int j = 0; j < width && empty; ++j) empty = map[i * width + j] == NoSymbol;
            const bool down = keys[keycode / 8] & (1 << (keycode % 8));
            if (empty && !down && !modifierKeycodes.contains(keycode)) slots_.push_back(keycode);
        }
        XFree(map);
        symsPerKeycode_ = std::max(width, 2);
        slotCharacters_.assign(slots_.size(), std::nullopt);
        return !slots_.empty();
    }

    // Points each keycode at its keysym on both shift levels (so a held Shift or Caps
    // Lock changes nothing). A keycode whose earlier presses the focused application may
    // not have handled yet is not changed before it has.
    bool lendKeycodes(const std::vector<std::pair<KeyCode, KeySym>>& lends) {
        for (const auto& lend : lends) {
            if (pressedSinceHandled_.contains(lend.first)) {
                waitUntilEventsHandled();
                break;
            }
        }
        for (const auto& [keycode, keysym] : lends) {
            if (!originalRows_.contains(keycode)) {
                int width = 0;
                KeySym* row = XGetKeyboardMapping(display(), keycode, 1, &width);
                if (!row) return false;
                originalRows_[keycode].assign(row, row + width);
                XFree(row);
            }
            std::vector<KeySym> row(static_cast<std::size_t>(symsPerKeycode_), NoSymbol);
            row[0] = keysym;
            row[1] = keysym;
            XChangeKeyboardMapping(display(), keycode, symsPerKeycode_, row.data(), 1);
        }
        XSync(display(), False);
        if (lost()) return false;
        // An application that answers pings handles the keymap change before the presses
        // that follow it; others get time to pick it up.
        if (!answersPings()) std::this_thread::sleep_for(keymapSettle);
        return true;
    }

    std::unique_ptr<Connection> connection_;
    std::unique_lock<std::mutex> lock_;
    int minKeycode_ = 8;
    int maxKeycode_ = 255;
    int symsPerKeycode_ = 2;
    bool slotsFound_ = false;
    std::vector<KeyCode> slots_;
    std::vector<std::optional<char32_t>> slotCharacters_;
    std::map<KeyCode, std::vector<KeySym>> originalRows_;
    std::map<Key, KeyCode> lentNamedKeys_;
    std::set<KeyCode> pressedSinceHandled_;
    std::set<KeyCode> down_;
    bool focusLookedUp_ = false;
    Window focus_ = None;
    FocusedApplication focused_;
    bool watchingRoot_ = false;
    bool pingUnanswered_ = false;
    bool processNeverSettled_ = false;
    long pingStamp_ = 0;
};

class XTestKeyboard final : public SyntheticKeyboard {
public:
    explicit XTestKeyboard(std::optional<std::string> displayName) : displayName_(std::move(displayName)) {}

    bool mayPost() override { return connect(displayName_) != nullptr; }

    std::unique_ptr<KeySession> open() override {
        std::unique_lock lock(sessionMutex());
        auto connection = connect(displayName_);
        if (!connection) return nullptr;
        return std::make_unique<XTestSession>(std::move(connection), std::move(lock));
    }

private:
    std::optional<std::string> displayName_;
};

}  // namespace

std::shared_ptr<SyntheticKeyboard> xtestKeyboard(std::optional<std::string> displayName) {
    return std::make_shared<XTestKeyboard>(std::move(displayName));
}

}  // namespace pelora::synthkeys
