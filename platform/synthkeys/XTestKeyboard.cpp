#include "platform/synthkeys/Keysyms.h"
#include "platform/synthkeys/SyntheticKeyboard.h"
#include "platform/synthkeys/TypingPlan.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_set>
#include <vector>

namespace pelora::synthkeys {

namespace {

// How long clients need to pick up a keymap change, and to read the key events that
// used a keycode before it may be lent again. Shorter waits lost and swapped characters
// in real clients (Qt, xterm), which look keysyms up when they read the event.
constexpr auto keymapSettle = std::chrono::milliseconds(50);

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
            // Clients may still be reading presses of lent keycodes.
            if (pressedLentKeycodeSinceSettle()) std::this_thread::sleep_for(keymapSettle);
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
            pressedSinceSettle_.insert(keycode);
        } else {
            down_.erase(keycode);
        }
    }

    bool pressedLentKeycodeSinceSettle() const {
        for (const auto& entry : originalRows_) {
            if (pressedSinceSettle_.contains(entry.first)) return true;
        }
        return false;
    }

    void settle() {
        std::this_thread::sleep_for(keymapSettle);
        pressedSinceSettle_.clear();
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
    // Lock changes nothing), then waits until clients have the new keymap. A keycode
    // whose earlier presses clients may not have read yet is not changed before that.
    bool lendKeycodes(const std::vector<std::pair<KeyCode, KeySym>>& lends) {
        for (const auto& lend : lends) {
            if (pressedSinceSettle_.contains(lend.first)) {
                settle();
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
        settle();
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
    std::set<KeyCode> pressedSinceSettle_;
    std::set<KeyCode> down_;
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
