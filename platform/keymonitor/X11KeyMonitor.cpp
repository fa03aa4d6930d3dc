#include "platform/keymonitor/X11KeyMonitor.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace pelora::keymonitor {

namespace {

// Xlib reports errors through one process-wide handler whose default ends the program.
// Ours records errors of requests we wait on and logs the rest of our connections'
// errors; errors of other connections go to whichever handler was there before.
std::mutex registryMutex;
std::set<Display*> ourDisplays;
XErrorHandler previousHandler = nullptr;
thread_local Display* trapDisplay = nullptr;
thread_local int* trapError = nullptr;

int onXError(Display* display, XErrorEvent* event) {
    if (display == trapDisplay && trapError) {
        if (*trapError == 0) *trapError = event->error_code;
        return 0;
    }
    bool ours = false;
    {
        std::lock_guard lock(registryMutex);
        ours = ourDisplays.count(display) != 0;
    }
    if (ours) {
        char text[160] = {};
        XGetErrorText(display, event->error_code, text, sizeof text);
        std::clog << "PeloraVoice2: X error on the key monitor's connection: " << text << '\n';
        return 0;
    }
    return previousHandler ? previousHandler(display, event) : 0;
}

void installErrorHandler() {
    static std::once_flag once;
    std::call_once(once, [] { previousHandler = XSetErrorHandler(onXError); });
}

// Records the first error of the requests made while it lives (the caller syncs).
class ErrorTrap {
public:
    explicit ErrorTrap(Display* display) {
        trapDisplay = display;
        trapError = &error_;
    }
    ~ErrorTrap() {
        trapDisplay = nullptr;
        trapError = nullptr;
    }
    int error() const { return error_; }

private:
    int error_ = 0;
};

struct RawEvent {
    int keycode;
    bool pressed;
    std::uint32_t time;
};

struct GrabEvent {
    int keycode;
    unsigned state;
    bool pressed;
    bool repeat;
    std::uint32_t time;
};

}  // namespace

struct X11KeyMonitor::Impl {
    struct Watch {
        int keycode;
        std::function<void(KeyTransition)> callback;
    };
    struct Grab {
        int keycode;
        unsigned modifiers;
        std::vector<unsigned> variants;
        bool down = false;
        std::function<void(HotKeyEvent)> callback;
    };

    std::optional<std::string> displayName;
    std::mutex connectMutex;  // connecting, and the fields up to `error`
    Display* raw = nullptr;
    Display* grab = nullptr;
    int xiOpcode = -1;
    unsigned numLockMask = 0;
    std::string error;
    std::mutex rawMutex;   // every Xlib call on `raw`
    std::mutex grabMutex;  // every Xlib call on `grab`
    std::atomic<bool> broken{false};
    int wakeFd = -1;
    std::jthread reader;

    std::mutex deliveryMutex;  // the subscriptions; held while calling them
    std::uint64_t nextId = 0;
    std::map<std::uint64_t, Watch> watches;
    std::map<std::uint64_t, Grab> grabs;

    ~Impl() { shutdown(); }

    bool connect();
    void shutdown();
    void wake() {
        if (wakeFd >= 0) {
            std::uint64_t one = 1;
            [[maybe_unused]] auto n = ::write(wakeFd, &one, sizeof one);
        }
    }
    void readLoop(std::stop_token stop);
    void deliver(std::vector<RawEvent>& rawEvents, std::vector<GrabEvent>& grabEvents);
    std::optional<int> keycodeForName(std::string_view name);  // none for an empty name
};

namespace {

void onIOFailure(Display*, void* data) {
    // The server is gone: stop using the connection instead of ending the program.
    static_cast<std::atomic<bool>*>(data)->store(true);
}

unsigned findNumLockMask(Display* display) {
    const KeyCode numLock = XKeysymToKeycode(display, XK_Num_Lock);
    XModifierKeymap* map = XGetModifierMapping(display);
    unsigned mask = 0;
    if (map && numLock != 0) {
        for (int modifier = 0; modifier < 8; ++modifier) {
            for (int k = 0; k < map->max_keypermod; ++k) {
                if (map->modifiermap[modifier * map->max_keypermod + k] == numLock) mask = 1u << modifier;
            }
        }
    }
    if (map) XFreeModifiermap(map);
    return mask;
}

}  // namespace

bool X11KeyMonitor::Impl::connect() {
    // connectMutex held by the caller.
    if (raw && grab && !broken) return true;
    if (raw || grab) {
        error = "the X server connection was lost";
        return false;  // a lost server does not come back for this process
    }
    installErrorHandler();
    const char* name = displayName ? displayName->c_str() : nullptr;
    if (!name && !std::getenv("DISPLAY")) {
        error = "no X11 display (DISPLAY is not set)";
        return false;
    }
    Display* first = XOpenDisplay(name);
    if (!first) {
        error = "cannot open the X11 display";
        return false;
    }
    int event = 0, errorBase = 0, opcode = 0;
    int major = 2, minor = 2;
    if (!XQueryExtension(first, "XInputExtension", &opcode, &event, &errorBase) ||
        XIQueryVersion(first, &major, &minor) != Success || major < 2 || (major == 2 && minor < 2)) {
        XCloseDisplay(first);
        error = "the X server offers no XInput 2.2 raw key events";
        return false;
    }
    Display* second = XOpenDisplay(name);
    if (!second) {
        XCloseDisplay(first);
        error = "cannot open a second X11 connection";
        return false;
    }
    {
        std::lock_guard lock(registryMutex);
        ourDisplays.insert(first);
        ourDisplays.insert(second);
    }
    XSetIOErrorExitHandler(first, onIOFailure, &broken);
    XSetIOErrorExitHandler(second, onIOFailure, &broken);

    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XISetMask(bits, XI_RawKeyRelease);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    XISelectEvents(first, DefaultRootWindow(first), &mask, 1);
    XSync(first, False);

    // Held keys then repeat as presses only, with one release at the end.
    Bool supported = False;
    XkbSetDetectableAutoRepeat(second, True, &supported);
    numLockMask = findNumLockMask(second);
    XSync(second, False);

    raw = first;
    grab = second;
    xiOpcode = opcode;
    error.clear();
    wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    reader = std::jthread([this](std::stop_token stop) { readLoop(stop); });
    return true;
}

void X11KeyMonitor::Impl::shutdown() {
    if (reader.joinable()) {
        reader.request_stop();
        wake();
        reader.join();
    }
    std::lock_guard lock(connectMutex);
    for (Display** display : {&raw, &grab}) {
        if (!*display) continue;
        {
            std::lock_guard registry(registryMutex);
            ourDisplays.erase(*display);
        }
        if (!broken) XCloseDisplay(*display);  // a broken connection is left to the process's end
        *display = nullptr;
    }
    if (wakeFd >= 0) ::close(wakeFd);
    wakeFd = -1;
}

void X11KeyMonitor::Impl::readLoop(std::stop_token stop) {
    const int rawFd = ConnectionNumber(raw);
    const int grabFd = ConnectionNumber(grab);
    std::vector<RawEvent> rawEvents;
    std::vector<GrabEvent> grabEvents;
    while (!stop.stop_requested() && !broken) {
        pollfd fds[3] = {{rawFd, POLLIN, 0}, {grabFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (::poll(fds, 3, 1000) < 0 && errno != EINTR) break;
        if (fds[2].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto n = ::read(wakeFd, &count, sizeof count);
        }
        if (stop.stop_requested()) break;
        {
            std::lock_guard lock(rawMutex);
            while (!broken && XPending(raw) > 0) {
                XEvent event;
                XNextEvent(raw, &event);
                XGenericEventCookie* cookie = &event.xcookie;
                if (cookie->type != GenericEvent || cookie->extension != xiOpcode) continue;
                if (!XGetEventData(raw, cookie)) continue;
                if (cookie->evtype == XI_RawKeyPress || cookie->evtype == XI_RawKeyRelease) {
                    const auto* rawEvent = static_cast<const XIRawEvent*>(cookie->data);
                    rawEvents.push_back({rawEvent->detail, cookie->evtype == XI_RawKeyPress,
                                         static_cast<std::uint32_t>(rawEvent->time)});
                }
                XFreeEventData(raw, cookie);
            }
        }
        {
            std::lock_guard lock(grabMutex);
            while (!broken && XPending(grab) > 0) {
                XEvent event;
                XNextEvent(grab, &event);
                if (event.type != KeyPress && event.type != KeyRelease) continue;
                grabEvents.push_back({static_cast<int>(event.xkey.keycode), event.xkey.state,
                                      event.type == KeyPress, false, static_cast<std::uint32_t>(event.xkey.time)});
            }
        }
        // Where the server cannot mark repeats, a held key comes as release/press pairs
        // with one time stamp: both halves are repeats.
        for (std::size_t i = 0; i + 1 < grabEvents.size(); ++i) {
            auto& release = grabEvents[i];
            auto& press = grabEvents[i + 1];
            if (!release.pressed && press.pressed && release.keycode == press.keycode && release.time == press.time)
                release.repeat = press.repeat = true;
        }
        deliver(rawEvents, grabEvents);
        rawEvents.clear();
        grabEvents.clear();
    }
}

void X11KeyMonitor::Impl::deliver(std::vector<RawEvent>& rawEvents, std::vector<GrabEvent>& grabEvents) {
    std::lock_guard lock(deliveryMutex);
    for (const auto& event : rawEvents) {
        for (auto& [id, watch] : watches) {
            if (watch.keycode == event.keycode) watch.callback({event.pressed, event.time});
        }
    }
    const unsigned ignored = LockMask | numLockMask;
    for (const auto& event : grabEvents) {
        for (auto& [id, g] : grabs) {
            if (g.keycode != event.keycode || (event.state & ~ignored & 0xFF) != g.modifiers) continue;
            bool repeat = event.repeat;
            if (event.pressed) {
                repeat = repeat || g.down;  // a detectable repeat: another press while held
                g.down = true;
            } else if (!repeat) {
                g.down = false;
            }
            g.callback({event.pressed, repeat, event.time});
        }
    }
}

std::optional<int> X11KeyMonitor::Impl::keycodeForName(std::string_view name) {
    // rawMutex held by the caller.
    if (name.empty() || name.size() > XkbKeyNameLength) return std::nullopt;
    XkbDescPtr keyboard = XkbGetMap(raw, 0, XkbUseCoreKbd);
    if (!keyboard) return std::nullopt;
    std::optional<int> found;
    if (XkbGetNames(raw, XkbKeyNamesMask | XkbKeyAliasesMask, keyboard) == Success && keyboard->names) {
        auto same = [&](const char* keyName) {
            return name.size() <= XkbKeyNameLength && std::strncmp(keyName, std::string(name).c_str(), XkbKeyNameLength) == 0;
        };
        for (int code = keyboard->min_key_code; code <= keyboard->max_key_code && !found; ++code) {
            if (same(keyboard->names->keys[code].name)) found = code;
        }
        for (int i = 0; i < keyboard->names->num_key_aliases && !found; ++i) {
            const auto& alias = keyboard->names->key_aliases[i];
            if (!same(alias.alias)) continue;
            for (int code = keyboard->min_key_code; code <= keyboard->max_key_code && !found; ++code) {
                if (std::strncmp(keyboard->names->keys[code].name, alias.real, XkbKeyNameLength) == 0) found = code;
            }
        }
    }
    XkbFreeKeyboard(keyboard, 0, True);
    return found;
}

namespace {

class WatchTicket final : public Subscription {
public:
    WatchTicket(std::weak_ptr<X11KeyMonitor::Impl> impl, std::uint64_t id) : impl_(std::move(impl)), id_(id) {}
    ~WatchTicket() override {
        if (auto impl = impl_.lock()) {
            std::lock_guard lock(impl->deliveryMutex);
            impl->watches.erase(id_);
        }
    }

private:
    std::weak_ptr<X11KeyMonitor::Impl> impl_;
    std::uint64_t id_;
};

class GrabTicket final : public Subscription {
public:
    GrabTicket(std::weak_ptr<X11KeyMonitor::Impl> impl, std::uint64_t id) : impl_(std::move(impl)), id_(id) {}
    ~GrabTicket() override {
        auto impl = impl_.lock();
        if (!impl) return;
        X11KeyMonitor::Impl::Grab grab;
        {
            std::lock_guard lock(impl->deliveryMutex);
            auto it = impl->grabs.find(id_);
            if (it == impl->grabs.end()) return;
            grab = std::move(it->second);
            impl->grabs.erase(it);
        }
        std::lock_guard connect(impl->connectMutex);
        if (!impl->grab || impl->broken) return;
        std::lock_guard lock(impl->grabMutex);
        ErrorTrap trap(impl->grab);
        for (unsigned variant : grab.variants)
            XUngrabKey(impl->grab, grab.keycode, grab.modifiers | variant, DefaultRootWindow(impl->grab));
        XSync(impl->grab, False);
        impl->wake();
    }

private:
    std::weak_ptr<X11KeyMonitor::Impl> impl_;
    std::uint64_t id_;
};

}  // namespace

X11KeyMonitor::X11KeyMonitor(std::optional<std::string> displayName) : impl_(std::make_shared<Impl>()) {
    impl_->displayName = std::move(displayName);
}

X11KeyMonitor::~X11KeyMonitor() { impl_->shutdown(); }

std::unique_ptr<Subscription> X11KeyMonitor::watchKey(std::string_view keyName,
                                                      std::function<void(KeyTransition)> onTransition) {
    std::optional<int> keycode;
    {
        std::lock_guard connect(impl_->connectMutex);
        if (!impl_->connect()) return nullptr;
        std::lock_guard lock(impl_->rawMutex);
        keycode = impl_->keycodeForName(keyName);
    }
    impl_->wake();
    // Key codes above 255 (Fn's among them) never reach X11 clients.
    if (!keycode) return nullptr;
    std::lock_guard lock(impl_->deliveryMutex);
    const auto id = impl_->nextId++;
    impl_->watches[id] = {*keycode, std::move(onTransition)};
    return std::make_unique<WatchTicket>(impl_, id);
}

GrabOutcome X11KeyMonitor::grabKey(std::uint32_t keysym, unsigned modifiers, std::function<void(HotKeyEvent)> onEvent) {
    std::lock_guard connect(impl_->connectMutex);
    if (!impl_->connect()) return {nullptr, impl_->error};
    Display* display = impl_->grab;
    Impl::Grab grab;
    grab.modifiers = modifiers & 0xFF;
    grab.callback = std::move(onEvent);
    {
        std::lock_guard lock(impl_->grabMutex);
        grab.keycode = XKeysymToKeycode(display, keysym);
        if (grab.keycode == 0) return {nullptr, "no key of this keyboard produces the shortcut's key"};
        // The grab must hold with CapsLock and NumLock on as well.
        for (unsigned variant : {0u, static_cast<unsigned>(LockMask), impl_->numLockMask,
                                 static_cast<unsigned>(LockMask) | impl_->numLockMask}) {
            if (std::find(grab.variants.begin(), grab.variants.end(), variant) == grab.variants.end())
                grab.variants.push_back(variant);
        }
        int error = 0;
        {
            ErrorTrap trap(display);
            for (unsigned variant : grab.variants)
                XGrabKey(display, grab.keycode, grab.modifiers | variant, DefaultRootWindow(display), False,
                         GrabModeAsync, GrabModeAsync);
            XSync(display, False);
            error = trap.error();
        }
        if (error != 0) {
            // Some variants may have taken: give them back.
            ErrorTrap trap(display);
            for (unsigned variant : grab.variants)
                XUngrabKey(display, grab.keycode, grab.modifiers | variant, DefaultRootWindow(display));
            XSync(display, False);
            impl_->wake();
            if (error == BadAccess) return {nullptr, "another program already uses this key combination"};
            char text[160] = {};
            XGetErrorText(display, error, text, sizeof text);
            return {nullptr, std::string("the X server refused the key combination: ") + text};
        }
    }
    impl_->wake();
    std::lock_guard lock(impl_->deliveryMutex);
    const auto id = impl_->nextId++;
    impl_->grabs[id] = std::move(grab);
    return {std::make_unique<GrabTicket>(impl_, id), {}};
}

std::optional<unsigned> X11KeyMonitor::modifierState() {
    std::lock_guard connect(impl_->connectMutex);
    if (!impl_->connect()) return std::nullopt;
    XkbStateRec state{};
    {
        std::lock_guard lock(impl_->grabMutex);
        if (XkbGetState(impl_->grab, XkbUseCoreKbd, &state) != Success) return std::nullopt;
    }
    impl_->wake();
    return static_cast<unsigned>(state.mods);
}

bool X11KeyMonitor::rawKeyEventsAvailable() {
    std::lock_guard connect(impl_->connectMutex);
    return impl_->connect() && !impl_->broken;
}

bool X11KeyMonitor::syntheticEventsAvailable() {
    std::lock_guard connect(impl_->connectMutex);
    if (!impl_->connect() || impl_->broken) return false;
    int opcode = 0, event = 0, error = 0;
    std::lock_guard lock(impl_->grabMutex);
    return XQueryExtension(impl_->grab, "XTEST", &opcode, &event, &error);
}

std::string X11KeyMonitor::connectionError() const {
    std::lock_guard connect(impl_->connectMutex);
    return impl_->error;
}

}  // namespace pelora::keymonitor
