#include "platform/clipboard/X11Clipboard.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <poll.h>
#include <set>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace pelora::clipboard {
namespace {

using Clock = std::chrono::steady_clock;

// Errors on this layer's connections (a requestor window gone mid-transfer) are expected;
// Xlib's default handler would end the process. Other connections keep their handler.
std::mutex ownDisplaysMutex;
std::set<Display*> ownDisplays;
XErrorHandler previousHandler = nullptr;

int ignoreOwnErrors(Display* display, XErrorEvent* event) {
    {
        std::lock_guard lock(ownDisplaysMutex);
        if (ownDisplays.count(display)) return 0;
    }
    return previousHandler ? previousHandler(display, event) : 0;
}

struct XFreeDeleter {
    void operator()(void* p) const { if (p) XFree(p); }
};

bool isMetaOrHandle(const std::string& name) {
    static const std::set<std::string> left = {
        "TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS", "DELETE", "INSERT_SELECTION",
        "INSERT_PROPERTY", "CLIENT_WINDOW", "LENGTH", "TARGET_SIZES", "HOST_NAME", "USER",
        "PIXMAP", "BITMAP", "DRAWABLE", "COLORMAP", "WINDOW"};
    return left.count(name) > 0;
}

// Text, HTML, file lists and PNG are read first: they matter most when time runs out.
int readingRank(const std::string& name) {
    if (name == "UTF8_STRING" || name.starts_with("text/plain") || name == "STRING" || name == "TEXT" ||
        name == "COMPOUND_TEXT") return 0;
    if (name == "text/html") return 1;
    if (name == "text/uri-list" || name == "x-special/gnome-copied-files") return 2;
    if (name == "image/png") return 3;
    return 4;
}

// Xlib hands 32-bit items as longs and 16-bit ones as shorts; the snapshot keeps them
// packed as the wire carries them.
std::string packItems(const unsigned char* data, unsigned long count, int format) {
    if (format == 8) return std::string(reinterpret_cast<const char*>(data), count);
    std::string out;
    if (format == 16) {
        auto* items = reinterpret_cast<const short*>(data);
        out.resize(count * 2);
        for (unsigned long i = 0; i < count; ++i) {
            std::uint16_t v = static_cast<std::uint16_t>(items[i]);
            std::memcpy(&out[i * 2], &v, 2);
        }
    } else if (format == 32) {
        auto* items = reinterpret_cast<const long*>(data);
        out.resize(count * 4);
        for (unsigned long i = 0; i < count; ++i) {
            std::uint32_t v = static_cast<std::uint32_t>(items[i]);
            std::memcpy(&out[i * 4], &v, 4);
        }
    }
    return out;
}

// The reverse, for XChangeProperty.
struct UnpackedItems {
    std::vector<long> longs;
    std::vector<short> shorts;
    const unsigned char* data = nullptr;
    int count = 0;
};

UnpackedItems unpackItems(const std::string& bytes, std::size_t offset, std::size_t length, int format) {
    UnpackedItems u;
    if (format == 32) {
        u.longs.resize(length / 4);
        for (std::size_t i = 0; i < u.longs.size(); ++i) {
            std::uint32_t v;
            std::memcpy(&v, bytes.data() + offset + i * 4, 4);
            u.longs[i] = static_cast<long>(v);
        }
        u.data = reinterpret_cast<const unsigned char*>(u.longs.data());
        u.count = static_cast<int>(u.longs.size());
    } else if (format == 16) {
        u.shorts.resize(length / 2);
        for (std::size_t i = 0; i < u.shorts.size(); ++i) {
            std::uint16_t v;
            std::memcpy(&v, bytes.data() + offset + i * 2, 2);
            u.shorts[i] = static_cast<short>(v);
        }
        u.data = reinterpret_cast<const unsigned char*>(u.shorts.data());
        u.count = static_cast<int>(u.shorts.size());
    } else {
        u.data = reinterpret_cast<const unsigned char*>(bytes.data() + offset);
        u.count = static_cast<int>(length);
    }
    return u;
}

// Latin-1 bytes of a UTF-8 text, when every character fits.
std::optional<std::string> latin1Of(const std::string& utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) { out += static_cast<char>(c); ++i; continue; }
        if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size() &&
            (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) == 0x80) {
            out += static_cast<char>(((c & 0x1F) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3F));
            i += 2;
            continue;
        }
        return std::nullopt;
    }
    return out;
}

}  // namespace

struct X11Clipboard::Impl {
    Limits limits;
    Display* d = nullptr;
    Window win = None;
    int xfixesEventBase = -1;
    Atom CLIPBOARD{}, TARGETS{}, MULTIPLE{}, TIMESTAMP{}, INCR{}, UTF8_STRING{}, CLIPBOARD_MANAGER{},
        SAVE_TARGETS{}, RECEIVE{}, TIMEPROBE{};

    std::atomic<std::uint64_t> changes{0};

    // Owned contents: touched on the clipboard thread only.
    ClipboardSnapshot owned;
    bool owning = false;
    Time ownedSince = CurrentTime;

    mutable std::mutex fetchMutex;
    mutable std::condition_variable fetchChanged;
    std::uint64_t fetches = 0;  // guarded by fetchMutex

    struct Transfer {
        Window requestor = None;
        Atom property = None;
        Atom type = None;
        int format = 8;
        std::string data;
        std::size_t offset = 0;
        Clock::time_point lastActivity;
    };
    std::vector<Transfer> transfers;

    std::mutex queueMutex;
    std::deque<std::function<void()>> queue;
    int wakeFd = -1;
    std::jthread thread;

    ~Impl() = default;

    Atom atom(const char* name) { return XInternAtom(d, name, False); }

    std::string atomName(Atom a) {
        if (a == None) return {};
        std::unique_ptr<char, XFreeDeleter> name(XGetAtomName(d, a));
        return name ? std::string(name.get()) : std::string();
    }

    void addFetch() {
        {
            std::lock_guard lock(fetchMutex);
            ++fetches;
        }
        fetchChanged.notify_all();
    }

    void resetFetches() {
        std::lock_guard lock(fetchMutex);
        fetches = 0;
    }

    // --- serving ---------------------------------------------------------------

    void sendNotify(const XSelectionRequestEvent& request, Atom property) {
        XEvent reply{};
        reply.xselection.type = SelectionNotify;
        reply.xselection.display = d;
        reply.xselection.requestor = request.requestor;
        reply.xselection.selection = request.selection;
        reply.xselection.target = request.target;
        reply.xselection.property = property;
        reply.xselection.time = request.time;
        XSendEvent(d, request.requestor, False, NoEventMask, &reply);
    }

    void serve(const XSelectionRequestEvent& request) {
        Atom property = request.property == None ? request.target : request.property;
        if (!owning || request.selection != CLIPBOARD) {
            sendNotify(request, None);
            return;
        }
        if (request.target == TARGETS) {
            std::vector<long> atoms = {static_cast<long>(TARGETS), static_cast<long>(TIMESTAMP)};
            for (const auto& entry : owned) {
                long a = static_cast<long>(atom(entry.target.c_str()));
                if (std::find(atoms.begin(), atoms.end(), a) == atoms.end()) atoms.push_back(a);
            }
            XChangeProperty(d, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(atoms.data()), static_cast<int>(atoms.size()));
            sendNotify(request, property);
            return;
        }
        if (request.target == TIMESTAMP) {
            long time = static_cast<long>(ownedSince);
            XChangeProperty(d, request.requestor, property, XA_INTEGER, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(&time), 1);
            sendNotify(request, property);
            return;
        }
        std::string wanted = atomName(request.target);
        auto entry = std::find_if(owned.begin(), owned.end(), [&](const auto& e) { return e.target == wanted; });
        if (entry == owned.end()) {
            sendNotify(request, None);
            return;
        }
        Atom type = atom(entry->type.c_str());
        if (entry->bytes.size() > limits.incrThreshold) {
            long size = static_cast<long>(entry->bytes.size());
            XSelectInput(d, request.requestor, PropertyChangeMask);
            XChangeProperty(d, request.requestor, property, INCR, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(&size), 1);
            transfers.push_back(Transfer{request.requestor, property, type, entry->format, entry->bytes, 0,
                                         Clock::now()});
            sendNotify(request, property);
            return;
        }
        auto items = unpackItems(entry->bytes, 0, entry->bytes.size(), entry->format);
        XChangeProperty(d, request.requestor, property, type, entry->format, PropModeReplace, items.data, items.count);
        sendNotify(request, property);
        addFetch();
    }

    void continueTransfer(const XPropertyEvent& event) {
        for (auto it = transfers.begin(); it != transfers.end(); ++it) {
            if (it->requestor != event.window || it->property != event.atom) continue;
            Transfer& t = *it;
            t.lastActivity = Clock::now();
            std::size_t unit = t.format == 32 ? 4 : t.format == 16 ? 2 : 1;
            std::size_t chunk = std::min(limits.incrThreshold / unit * unit, t.data.size() - t.offset);
            auto items = unpackItems(t.data, t.offset, chunk, t.format);
            XChangeProperty(d, t.requestor, t.property, t.type, t.format, PropModeReplace, items.data, items.count);
            t.offset += chunk;
            if (chunk == 0) {
                // The zero-length chunk ends the transfer: the requestor has everything.
                Window requestor = t.requestor;
                transfers.erase(it);
                forgetRequestor(requestor);
                addFetch();
            }
            return;
        }
    }

    void forgetRequestor(Window requestor) {
        bool stillUsed = std::any_of(transfers.begin(), transfers.end(),
                                     [&](const auto& t) { return t.requestor == requestor; });
        if (!stillUsed) XSelectInput(d, requestor, NoEventMask);
    }

    void expireTransfers() {
        auto now = Clock::now();
        for (auto it = transfers.begin(); it != transfers.end();) {
            if (now - it->lastActivity > limits.total) {
                Window requestor = it->requestor;
                it = transfers.erase(it);
                forgetRequestor(requestor);
            } else {
                ++it;
            }
        }
    }

    void handle(const XEvent& event) {
        if (xfixesEventBase >= 0 && event.type == xfixesEventBase + XFixesSelectionNotify) {
            auto& notify = reinterpret_cast<const XFixesSelectionNotifyEvent&>(event);
            if (notify.selection == CLIPBOARD) changes.fetch_add(1);
            return;
        }
        switch (event.type) {
        case SelectionRequest:
            serve(event.xselectionrequest);
            XFlush(d);
            break;
        case SelectionClear:
            if (event.xselectionclear.selection == CLIPBOARD && event.xselectionclear.window == win) {
                owning = false;
                owned.clear();
            }
            break;
        case PropertyNotify:
            if (event.xproperty.state == PropertyDelete && event.xproperty.window != win) {
                continueTransfer(event.xproperty);
                XFlush(d);
            }
            break;
        default:
            break;
        }
    }

    // Handles every event until one satisfies `wanted` or the deadline passes.
    template <class Predicate>
    std::optional<XEvent> waitFor(Predicate wanted, Clock::time_point deadline) {
        for (;;) {
            while (XPending(d) > 0) {
                XEvent event;
                XNextEvent(d, &event);
                handle(event);
                if (wanted(event)) return event;
            }
            expireTransfers();
            auto now = Clock::now();
            if (now >= deadline) return std::nullopt;
            auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
            pollfd fd{ConnectionNumber(d), POLLIN, 0};
            if (poll(&fd, 1, static_cast<int>(std::min<long long>(wait + 1, 100))) < 0 && errno != EINTR) {
                return std::nullopt;
            }
            if (fd.revents & (POLLERR | POLLHUP)) return std::nullopt;
        }
    }

    Time serverTime() {
        XChangeProperty(d, win, TIMEPROBE, XA_STRING, 8, PropModeAppend, nullptr, 0);
        XFlush(d);
        auto event = waitFor(
            [&](const XEvent& e) {
                return e.type == PropertyNotify && e.xproperty.window == win && e.xproperty.atom == TIMEPROBE;
            },
            Clock::now() + std::chrono::seconds(2));
        return event ? event->xproperty.time : CurrentTime;
    }

    bool takeOwnership(ClipboardSnapshot contents) {
        Time time = serverTime();
        XSetSelectionOwner(d, CLIPBOARD, win, time);
        if (XGetSelectionOwner(d, CLIPBOARD) != win) return false;
        owned = std::move(contents);
        owning = true;
        ownedSince = time;
        resetFetches();
        // Our own change is counted before the caller reads the count.
        if (xfixesEventBase >= 0) {
            waitFor(
                [&](const XEvent& e) {
                    if (e.type != xfixesEventBase + XFixesSelectionNotify) return false;
                    auto& n = reinterpret_cast<const XFixesSelectionNotifyEvent&>(e);
                    return n.selection == CLIPBOARD && n.owner == win;
                },
                Clock::now() + std::chrono::seconds(1));
        }
        return true;
    }

    // --- reading -------------------------------------------------------------------

    struct Reply {
        std::string type;
        int format = 8;
        std::string bytes;
    };

    // Reads our property, deleting it (which asks an INCR sender for the next chunk).
    std::optional<Reply> takeProperty(Atom& typeOut) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(d, win, RECEIVE, 0, 0x1FFFFFFF, True, AnyPropertyType, &type, &format, &count,
                               &after, &data) != Success) {
            return std::nullopt;
        }
        std::unique_ptr<unsigned char, XFreeDeleter> owner(data);
        typeOut = type;
        if (type == None) return std::nullopt;
        Reply reply;
        reply.format = format;
        if (data && count) reply.bytes = packItems(data, count, format);
        return reply;
    }

    std::optional<Reply> convert(Atom selection, Atom target, Clock::time_point deadline, std::uint64_t budget) {
        XDeleteProperty(d, win, RECEIVE);
        XConvertSelection(d, selection, target, RECEIVE, win, CurrentTime);
        XFlush(d);
        auto idleDeadline = [&] { return std::min(deadline, Clock::now() + limits.idle); };
        auto notify = waitFor(
            [&](const XEvent& e) {
                return e.type == SelectionNotify && e.xselection.requestor == win &&
                       e.xselection.selection == selection && e.xselection.target == target;
            },
            idleDeadline());
        if (!notify || notify->xselection.property == None) return std::nullopt;
        Atom type = None;
        auto first = takeProperty(type);
        if (!first) return std::nullopt;
        if (type != INCR) {
            first->type = atomName(type);
            if (first->bytes.size() > budget) return std::nullopt;
            return first;
        }
        Reply whole;
        whole.type.clear();
        for (;;) {
            auto chunkReady = waitFor(
                [&](const XEvent& e) {
                    return e.type == PropertyNotify && e.xproperty.window == win && e.xproperty.atom == RECEIVE &&
                           e.xproperty.state == PropertyNewValue;
                },
                idleDeadline());
            if (!chunkReady) return std::nullopt;
            Atom chunkType = None;
            auto chunk = takeProperty(chunkType);
            if (!chunk) return std::nullopt;
            if (chunk->bytes.empty()) break;
            if (whole.type.empty()) {
                whole.type = atomName(chunkType);
                whole.format = chunk->format;
            }
            whole.bytes += chunk->bytes;
            if (whole.bytes.size() > budget) return std::nullopt;
        }
        if (whole.type.empty()) whole.type = atomName(XA_STRING);  // an empty INCR reply
        return whole;
    }

    ClipboardSnapshot readSnapshot() {
        if (owning && XGetSelectionOwner(d, CLIPBOARD) == win) return owned;
        if (XGetSelectionOwner(d, CLIPBOARD) == None) return {};
        auto start = Clock::now();
        auto deadline = start + limits.total;
        auto targets = convert(CLIPBOARD, TARGETS, deadline, 1 << 20);
        if (!targets || targets->format != 32) return {};
        std::vector<std::pair<std::string, Atom>> names;
        std::set<std::string> seen;
        for (std::size_t i = 0; i + 4 <= targets->bytes.size(); i += 4) {
            std::uint32_t a;
            std::memcpy(&a, targets->bytes.data() + i, 4);
            std::string name = atomName(a);
            if (name.empty() || isMetaOrHandle(name) || !seen.insert(name).second) continue;
            names.emplace_back(name, a);
        }
        std::stable_sort(names.begin(), names.end(),
                         [](const auto& a, const auto& b) { return readingRank(a.first) < readingRank(b.first); });
        ClipboardSnapshot snapshot;
        std::uint64_t total = 0;
        for (const auto& [name, a] : names) {
            if (Clock::now() >= deadline) break;
            auto reply = convert(CLIPBOARD, a, deadline, limits.totalBytes - total);
            if (!reply) continue;  // unreadable, silent or too large: left out
            total += reply->bytes.size();
            snapshot.push_back(ClipboardEntry{name, reply->type, reply->format, std::move(reply->bytes)});
        }
        return snapshot;
    }

    // --- the thread --------------------------------------------------------------

    void runLoop(std::stop_token stop) {
        while (!stop.stop_requested()) {
            for (;;) {
                std::function<void()> job;
                {
                    std::lock_guard lock(queueMutex);
                    if (queue.empty()) break;
                    job = std::move(queue.front());
                    queue.pop_front();
                }
                job();
            }
            while (XPending(d) > 0) {
                XEvent event;
                XNextEvent(d, &event);
                handle(event);
            }
            expireTransfers();
            pollfd fds[2] = {{ConnectionNumber(d), POLLIN, 0}, {wakeFd, POLLIN, 0}};
            int timeout = transfers.empty() ? -1 : 200;
            if (poll(fds, 2, timeout) < 0 && errno != EINTR) break;
            if (fds[1].revents & POLLIN) {
                std::uint64_t value;
                (void)!read(wakeFd, &value, sizeof value);
            }
            if (fds[0].revents & (POLLERR | POLLHUP)) break;
        }
    }

    template <class F>
    auto call(F f) -> decltype(f()) {
        using Result = decltype(f());
        auto task = std::make_shared<std::packaged_task<Result()>>(std::move(f));
        auto future = task->get_future();
        {
            std::lock_guard lock(queueMutex);
            queue.emplace_back([task] { (*task)(); });
        }
        std::uint64_t one = 1;
        (void)!write(wakeFd, &one, sizeof one);
        return future.get();
    }
};

X11Clipboard::X11Clipboard(const std::string& displayName) : X11Clipboard(displayName, Limits{}) {}

X11Clipboard::X11Clipboard(const std::string& displayName, Limits limits) : impl_(std::make_unique<Impl>()) {
    impl_->limits = limits;
    static std::once_flag installed;
    std::call_once(installed, [] { previousHandler = XSetErrorHandler(ignoreOwnErrors); });
    Display* d = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
    if (!d) return;
    {
        std::lock_guard lock(ownDisplaysMutex);
        ownDisplays.insert(d);
    }
    Impl& impl = *impl_;
    impl.d = d;
    impl.CLIPBOARD = impl.atom("CLIPBOARD");
    impl.TARGETS = impl.atom("TARGETS");
    impl.MULTIPLE = impl.atom("MULTIPLE");
    impl.TIMESTAMP = impl.atom("TIMESTAMP");
    impl.INCR = impl.atom("INCR");
    impl.UTF8_STRING = impl.atom("UTF8_STRING");
    impl.CLIPBOARD_MANAGER = impl.atom("CLIPBOARD_MANAGER");
    impl.SAVE_TARGETS = impl.atom("SAVE_TARGETS");
    impl.RECEIVE = impl.atom("_PELORA_CLIPBOARD");
    impl.TIMEPROBE = impl.atom("_PELORA_TIMESTAMP");
    XSetWindowAttributes attributes{};
    attributes.event_mask = PropertyChangeMask;
    impl.win = XCreateWindow(d, DefaultRootWindow(d), -10, -10, 1, 1, 0, 0, InputOnly, CopyFromParent, CWEventMask,
                             &attributes);
    int errorBase = 0;
    if (XFixesQueryExtension(d, &impl.xfixesEventBase, &errorBase)) {
        XFixesSelectSelectionInput(d, DefaultRootWindow(d), impl.CLIPBOARD,
                                   XFixesSetSelectionOwnerNotifyMask | XFixesSelectionWindowDestroyNotifyMask |
                                       XFixesSelectionClientCloseNotifyMask);
    } else {
        impl.xfixesEventBase = -1;
    }
    XFlush(d);
    impl.wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    impl.thread = std::jthread([&impl](std::stop_token stop) { impl.runLoop(stop); });
}

X11Clipboard::~X11Clipboard() {
    if (!impl_->d) return;
    saveToClipboardManager();
    impl_->thread.request_stop();
    std::uint64_t one = 1;
    (void)!write(impl_->wakeFd, &one, sizeof one);
    impl_->thread.join();
    close(impl_->wakeFd);
    XDestroyWindow(impl_->d, impl_->win);
    XCloseDisplay(impl_->d);
    std::lock_guard lock(ownDisplaysMutex);
    ownDisplays.erase(impl_->d);
}

bool X11Clipboard::connected() const { return impl_->d != nullptr; }

std::uint64_t X11Clipboard::changeCount() const { return impl_->changes.load(); }

ClipboardSnapshot X11Clipboard::snapshot() {
    if (!impl_->d) return {};
    return impl_->call([this] { return impl_->readSnapshot(); });
}

bool X11Clipboard::writeText(const std::string& utf8) {
    if (!impl_->d) return false;
    ClipboardSnapshot contents = {
        {"UTF8_STRING", "UTF8_STRING", 8, utf8},
        {"text/plain;charset=utf-8", "text/plain;charset=utf-8", 8, utf8},
        {"text/plain", "text/plain", 8, utf8},
        {"TEXT", "UTF8_STRING", 8, utf8},
    };
    if (auto latin1 = latin1Of(utf8)) contents.push_back({"STRING", "STRING", 8, *latin1});
    return impl_->call([this, contents = std::move(contents)]() mutable {
        return impl_->takeOwnership(std::move(contents));
    });
}

bool X11Clipboard::restore(const ClipboardSnapshot& snapshot) {
    if (!impl_->d || snapshot.empty()) return false;
    return impl_->call([this, snapshot] { return impl_->takeOwnership(snapshot); });
}

std::uint64_t X11Clipboard::fetchCount() const {
    std::lock_guard lock(impl_->fetchMutex);
    return impl_->fetches;
}

bool X11Clipboard::waitForFetches(std::uint64_t count, std::chrono::milliseconds timeLimit) const {
    std::unique_lock lock(impl_->fetchMutex);
    return impl_->fetchChanged.wait_for(lock, timeLimit, [&] { return impl_->fetches >= count; });
}

std::optional<std::string> X11Clipboard::readText() {
    if (!impl_->d) return std::nullopt;
    return impl_->call([this]() -> std::optional<std::string> {
        Impl& impl = *impl_;
        if (impl.owning && XGetSelectionOwner(impl.d, impl.CLIPBOARD) == impl.win) {
            for (const auto& entry : impl.owned) {
                if (entry.target == "UTF8_STRING") return entry.bytes;
            }
            return std::nullopt;
        }
        if (XGetSelectionOwner(impl.d, impl.CLIPBOARD) == None) return std::nullopt;
        auto reply = impl.convert(impl.CLIPBOARD, impl.UTF8_STRING, Clock::now() + impl.limits.total,
                                  impl.limits.totalBytes);
        if (!reply) return std::nullopt;
        return reply->bytes;
    });
}

bool X11Clipboard::saveToClipboardManager(std::chrono::milliseconds timeLimit) {
    if (!impl_->d) return false;
    return impl_->call([this, timeLimit] {
        Impl& impl = *impl_;
        if (!impl.owning || XGetSelectionOwner(impl.d, impl.CLIPBOARD) != impl.win) return false;
        if (XGetSelectionOwner(impl.d, impl.CLIPBOARD_MANAGER) == None) return false;
        XConvertSelection(impl.d, impl.CLIPBOARD_MANAGER, impl.SAVE_TARGETS, impl.RECEIVE, impl.win, impl.ownedSince);
        XFlush(impl.d);
        // The manager reads our targets meanwhile; waitFor serves those requests.
        auto done = impl.waitFor(
            [&](const XEvent& e) {
                return e.type == SelectionNotify && e.xselection.requestor == impl.win &&
                       e.xselection.selection == impl.CLIPBOARD_MANAGER && e.xselection.target == impl.SAVE_TARGETS;
            },
            Clock::now() + timeLimit);
        return done && done->xselection.property != None;
    });
}

}  // namespace pelora::clipboard
