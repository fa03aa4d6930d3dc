#include "tests/platform/clipboard/StandInClipboardManager.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

struct Saved {
    Atom target;
    Atom type;
    int format;
    std::string bytes;
};

// Waits for the next event matching `wanted`, serving nothing else meanwhile; none
// after two seconds.
template <typename Wanted>
std::optional<XEvent> nextEvent(Display* d, Wanted wanted) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (;;) {
        while (XPending(d) > 0) {
            XEvent event;
            XNextEvent(d, &event);
            if (wanted(event)) return event;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd fd{ConnectionNumber(d), POLLIN, 0};
        poll(&fd, 1, static_cast<int>(left.count()));
    }
}

// Converts CLIPBOARD to `target` onto our window and reads the reply whole.
std::optional<Saved> convert(Display* d, Window window, Atom clipboard, Atom target, Atom property, Time time) {
    XConvertSelection(d, clipboard, target, property, window, time);
    XFlush(d);
    auto notify = nextEvent(d, [&](const XEvent& e) {
        return e.type == SelectionNotify && e.xselection.requestor == window && e.xselection.target == target;
    });
    if (!notify || notify->xselection.property == None) return std::nullopt;
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, window, property, 0, 1 << 24, True, AnyPropertyType, &type, &format, &items, &after,
                           &data) != Success) {
        return std::nullopt;
    }
    Saved saved{target, type, format, {}};
    if (data) {
        const std::size_t unit = format == 32 ? sizeof(long) : format / 8;
        if (format == 32) {
            // Xlib hands 32-bit items as longs; the wire carries 4 bytes each.
            for (unsigned long i = 0; i < items; ++i) {
                const auto value = static_cast<std::uint32_t>(reinterpret_cast<long*>(data)[i]);
                saved.bytes.append(reinterpret_cast<const char*>(&value), 4);
            }
        } else {
            saved.bytes.assign(reinterpret_cast<char*>(data), items * unit);
        }
        XFree(data);
    }
    return saved;
}

}  // namespace

StandInClipboardManager::StandInClipboardManager() {
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::jthread([this](std::stop_token stop) {
        run(stop);
        finished_ = true;
    });
    // Until it owns CLIPBOARD_MANAGER (or gave up).
    for (int i = 0; i < 500 && !running_ && !finished_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

StandInClipboardManager::~StandInClipboardManager() {
    thread_.request_stop();
    std::uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof one);
    thread_.join();
    close(wakeFd_);
}

std::map<std::string, std::string> StandInClipboardManager::saved() const {
    std::lock_guard lock(mutex_);
    return saved_;
}

void StandInClipboardManager::run(std::stop_token stop) {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return;
    Window window = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(d, window, PropertyChangeMask);
    const Atom manager = XInternAtom(d, "CLIPBOARD_MANAGER", False);
    const Atom clipboard = XInternAtom(d, "CLIPBOARD", False);
    const Atom saveTargets = XInternAtom(d, "SAVE_TARGETS", False);
    const Atom targetsAtom = XInternAtom(d, "TARGETS", False);
    const Atom timestampAtom = XInternAtom(d, "TIMESTAMP", False);
    const Atom multipleAtom = XInternAtom(d, "MULTIPLE", False);
    const Atom incoming = XInternAtom(d, "_STAND_IN_MANAGER", False);
    // A server time for ownership: a zero-length append to our own window.
    XChangeProperty(d, window, incoming, XA_STRING, 8, PropModeAppend, nullptr, 0);
    XFlush(d);
    auto stamp = nextEvent(d, [&](const XEvent& e) { return e.type == PropertyNotify && e.xproperty.window == window; });
    const Time now = stamp ? stamp->xproperty.time : CurrentTime;
    XSetSelectionOwner(d, manager, window, now);
    if (XGetSelectionOwner(d, manager) != window) {
        XCloseDisplay(d);
        return;
    }
    running_ = true;

    std::vector<Saved> contents;
    Time ownedSince = CurrentTime;
    auto reply = [&](const XSelectionRequestEvent& request, Atom property) {
        XEvent answer{};
        answer.xselection.type = SelectionNotify;
        answer.xselection.requestor = request.requestor;
        answer.xselection.selection = request.selection;
        answer.xselection.target = request.target;
        answer.xselection.property = property;
        answer.xselection.time = request.time;
        XSendEvent(d, request.requestor, False, 0, &answer);
        XFlush(d);
    };

    while (!stop.stop_requested()) {
        while (XPending(d) > 0) {
            XEvent event;
            XNextEvent(d, &event);
            if (event.type != SelectionRequest) continue;
            const XSelectionRequestEvent& request = event.xselectionrequest;
            const Atom property = request.property == None ? request.target : request.property;
            if (request.selection == manager && request.target == saveTargets) {
                // Read every target the owner lists, then keep the clipboard ourselves.
                std::vector<Saved> read;
                if (auto list = convert(d, window, clipboard, targetsAtom, incoming, request.time)) {
                    for (std::size_t at = 0; at + 4 <= list->bytes.size(); at += 4) {
                        std::uint32_t atom = 0;
                        std::memcpy(&atom, list->bytes.data() + at, 4);
                        if (atom == targetsAtom || atom == timestampAtom || atom == multipleAtom ||
                            atom == saveTargets)
                            continue;
                        if (auto one = convert(d, window, clipboard, atom, incoming, request.time))
                            read.push_back(std::move(*one));
                    }
                }
                contents = std::move(read);
                {
                    std::lock_guard lock(mutex_);
                    saved_.clear();
                    for (const auto& entry : contents) {
                        char* name = XGetAtomName(d, entry.target);
                        saved_[name ? name : "?"] = entry.bytes;
                        if (name) XFree(name);
                    }
                }
                ownedSince = request.time;
                XSetSelectionOwner(d, clipboard, window, ownedSince);
                ++saves_;
                reply(request, property);
            } else if (request.selection == clipboard && !contents.empty()) {
                if (request.target == targetsAtom) {
                    std::vector<long> atoms{static_cast<long>(targetsAtom)};
                    for (const auto& entry : contents) atoms.push_back(static_cast<long>(entry.target));
                    XChangeProperty(d, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                                    reinterpret_cast<unsigned char*>(atoms.data()), static_cast<int>(atoms.size()));
                    reply(request, property);
                    continue;
                }
                Atom answered = None;
                for (const auto& entry : contents) {
                    if (entry.target != request.target) continue;
                    if (entry.format == 32) {
                        std::vector<long> items(entry.bytes.size() / 4);
                        for (std::size_t i = 0; i < items.size(); ++i) {
                            std::uint32_t value = 0;
                            std::memcpy(&value, entry.bytes.data() + 4 * i, 4);
                            items[i] = static_cast<long>(value);
                        }
                        XChangeProperty(d, request.requestor, property, entry.type, 32, PropModeReplace,
                                        reinterpret_cast<unsigned char*>(items.data()), static_cast<int>(items.size()));
                    } else {
                        XChangeProperty(d, request.requestor, property, entry.type, entry.format, PropModeReplace,
                                        reinterpret_cast<const unsigned char*>(entry.bytes.data()),
                                        static_cast<int>(entry.bytes.size() / (entry.format / 8)));
                    }
                    answered = property;
                    break;
                }
                reply(request, answered);
            } else {
                reply(request, None);
            }
        }
        pollfd fds[2] = {{ConnectionNumber(d), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        poll(fds, 2, -1);
    }
    running_ = false;
    XDestroyWindow(d, window);
    XCloseDisplay(d);
}
