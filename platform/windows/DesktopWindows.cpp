#include "platform/windows/DesktopWindows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <poll.h>
#include <set>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace pelora::windows {
namespace {

namespace fs = std::filesystem;

// Windows vanish between any two requests; Xlib's default handler would end the process
// on the BadWindow that follows. Errors on our own connections are ignored (each request
// that matters checks its reply); other connections keep whatever handler they had.
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

Display* openDisplay(const std::string& name) {
    static std::once_flag installed;
    std::call_once(installed, [] { previousHandler = XSetErrorHandler(ignoreOwnErrors); });
    Display* display = XOpenDisplay(name.empty() ? nullptr : name.c_str());
    if (display) {
        std::lock_guard lock(ownDisplaysMutex);
        ownDisplays.insert(display);
    }
    return display;
}

void closeDisplay(Display* display) {
    if (!display) return;
    XCloseDisplay(display);
    std::lock_guard lock(ownDisplaysMutex);
    ownDisplays.erase(display);
}

struct XFreeDeleter {
    void operator()(void* p) const { if (p) XFree(p); }
};

// One property as bytes (format 8) or longs (format 32).
struct Property {
    Atom type = None;
    int format = 0;
    std::vector<unsigned char> bytes;
    std::vector<unsigned long> longs;
};

std::optional<Property> readProperty(Display* d, Window w, Atom property, Atom type = AnyPropertyType) {
    Atom actualType = None;
    int actualFormat = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, property, 0, 1 << 16, False, type, &actualType, &actualFormat,
                           &count, &after, &data) != Success) {
        return std::nullopt;
    }
    std::unique_ptr<unsigned char, XFreeDeleter> owned(data);
    if (actualType == None) return std::nullopt;
    Property p;
    p.type = actualType;
    p.format = actualFormat;
    if (actualFormat == 8) {
        p.bytes.assign(data, data + count);
    } else if (actualFormat == 32) {
        auto* values = reinterpret_cast<unsigned long*>(data);  // Xlib hands 32-bit data as longs
        p.longs.assign(values, values + count);
    }
    return p;
}

std::string readText(Display* d, Window w, const char* name) {
    Atom atom = XInternAtom(d, name, True);
    if (atom == None) return {};
    auto p = readProperty(d, w, atom);
    if (!p || p->format != 8) return {};
    std::string text(p->bytes.begin(), p->bytes.end());
    if (auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
    return text;
}

std::optional<Window> readWindow(Display* d, Window w, const char* name) {
    Atom atom = XInternAtom(d, name, True);
    if (atom == None) return std::nullopt;
    auto p = readProperty(d, w, atom, XA_WINDOW);
    if (!p || p->format != 32 || p->longs.empty() || p->longs[0] == None) return std::nullopt;
    return static_cast<Window>(p->longs[0]);
}

bool hasWindowManager(Display* d) {
    Window root = DefaultRootWindow(d);
    auto check = readWindow(d, root, "_NET_SUPPORTING_WM_CHECK");
    if (!check) return false;
    auto self = readWindow(d, *check, "_NET_SUPPORTING_WM_CHECK");
    return self && *self == *check;
}

bool hasWmState(Display* d, Window w) {
    Atom wmState = XInternAtom(d, "WM_STATE", True);
    return wmState != None && readProperty(d, w, wmState).has_value();
}

// The client window (the one with WM_STATE) at or below `w`, breadth first.
Window clientWindowOf(Display* d, Window w) {
    std::deque<Window> queue{w};
    int visited = 0;
    while (!queue.empty() && visited++ < 256) {
        Window current = queue.front();
        queue.pop_front();
        if (hasWmState(d, current)) return current;
        Window root = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(d, current, &root, &parent, &children, &count)) continue;
        std::unique_ptr<Window, XFreeDeleter> owned(children);
        for (unsigned int i = 0; i < count; ++i) queue.push_back(children[i]);
    }
    return w;
}

// Without a window manager: the top-level window holding the input focus.
std::optional<Window> focusedTopLevel(Display* d) {
    Window focus = None;
    int revert = 0;
    XGetInputFocus(d, &focus, &revert);
    if (focus == None || focus == PointerRoot) return std::nullopt;
    Window rootWindow = DefaultRootWindow(d);
    Window current = focus;
    for (int depth = 0; depth < 64; ++depth) {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(d, current, &root, &parent, &children, &count)) return std::nullopt;
        std::unique_ptr<Window, XFreeDeleter> owned(children);
        if (parent == rootWindow || parent == None) break;
        current = parent;
    }
    if (current == rootWindow) return std::nullopt;
    return clientWindowOf(d, current);
}

std::optional<Window> activeWindow(Display* d) {
    if (auto active = readWindow(d, DefaultRootWindow(d), "_NET_ACTIVE_WINDOW")) return active;
    if (hasWindowManager(d)) return std::nullopt;  // the manager says nothing is active
    return focusedTopLevel(d);
}

pid_t processOf(Display* d, Window w) {
    int eventBase = 0, errorBase = 0;
    if (XResQueryExtension(d, &eventBase, &errorBase)) {
        XResClientIdSpec spec{w, XRES_CLIENT_ID_PID_MASK};
        long count = 0;
        XResClientIdValue* values = nullptr;
        if (XResQueryClientIds(d, 1, &spec, &count, &values) == Success) {
            pid_t pid = 0;
            for (long i = 0; i < count && pid <= 0; ++i) {
                if (XResGetClientIdType(&values[i]) == XRES_CLIENT_ID_PID) pid = XResGetClientPid(&values[i]);
            }
            XResClientIdsDestroy(count, values);
            if (pid > 0) return pid;
        }
    }
    // _NET_WM_PID means something only for a client on this host.
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) return 0;
    if (readText(d, w, "WM_CLIENT_MACHINE") != host) return 0;
    Atom atom = XInternAtom(d, "_NET_WM_PID", True);
    if (atom == None) return 0;
    auto p = readProperty(d, w, atom, XA_CARDINAL);
    if (!p || p->format != 32 || p->longs.empty()) return 0;
    return static_cast<pid_t>(p->longs[0]);
}

std::string lowered(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::vector<fs::path> applicationFolders() {
    std::vector<fs::path> folders;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && *dataHome == '/') {
        folders.emplace_back(fs::path(dataHome) / "applications");
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        folders.emplace_back(fs::path(home) / ".local/share/applications");
    }
    std::string dirs = std::getenv("XDG_DATA_DIRS") && *std::getenv("XDG_DATA_DIRS")
                           ? std::getenv("XDG_DATA_DIRS")
                           : "/usr/local/share:/usr/share";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        if (!dir.empty() && dir[0] == '/') folders.emplace_back(fs::path(dir) / "applications");
        start = end + 1;
    }
    return folders;
}

// The user's language as desktop entries spell their keys: "ja_JP", then "ja".
std::vector<std::string> languageKeys() {
    const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::string locale;
    for (const char* name : names) {
        const char* value = std::getenv(name);
        if (value && *value) { locale = value; break; }
    }
    if (auto dot = locale.find_first_of(".@"); dot != std::string::npos) locale.resize(dot);
    std::vector<std::string> keys;
    if (locale.empty() || locale == "C" || locale == "POSIX") return keys;
    keys.push_back(locale);
    if (auto underscore = locale.find('_'); underscore != std::string::npos) keys.push_back(locale.substr(0, underscore));
    return keys;
}

struct ParsedEntry {
    std::string name;
    std::string startupWMClass;
    bool hidden = false;
};

std::optional<ParsedEntry> parseDesktopEntry(const fs::path& file) {
    std::ifstream in(file);
    if (!in) return std::nullopt;
    std::vector<std::string> languages = languageKeys();
    ParsedEntry entry;
    size_t bestRank = languages.size() + 1;  // 0 = the first language key; size()+1 = plain Name
    bool inMain = false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') { inMain = line == "[Desktop Entry]"; continue; }
        if (!inMain) continue;
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq);
        std::string value = line.substr(eq + 1);
        while (!key.empty() && key.back() == ' ') key.pop_back();
        while (!value.empty() && value.front() == ' ') value.erase(value.begin());
        if (key == "StartupWMClass") entry.startupWMClass = value;
        else if (key == "Hidden" || key == "NoDisplay") entry.hidden = entry.hidden || (key == "Hidden" && value == "true");
        else if (key == "Name" && bestRank == languages.size() + 1) { entry.name = value; bestRank = languages.size(); }
        else if (key.rfind("Name[", 0) == 0 && key.back() == ']') {
            std::string lang = key.substr(5, key.size() - 6);
            for (size_t rank = 0; rank < languages.size() && rank < bestRank; ++rank) {
                if (languages[rank] == lang) { entry.name = value; bestRank = rank; }
            }
        }
    }
    if (entry.hidden) return std::nullopt;
    return entry;
}

std::optional<DesktopWindows::DesktopEntry> entryById(const std::string& id) {
    if (id.empty() || id.find('/') != std::string::npos) return std::nullopt;
    for (const auto& folder : applicationFolders()) {
        std::error_code ec;
        fs::path file = folder / (id + ".desktop");
        if (!fs::is_regular_file(file, ec)) continue;
        if (auto parsed = parseDesktopEntry(file)) return DesktopWindows::DesktopEntry{id, parsed->name};
        return std::nullopt;  // an earlier folder's entry hides later ones
    }
    return std::nullopt;
}

}  // namespace

std::optional<DesktopWindows::DesktopEntry> DesktopWindows::findDesktopEntry(const std::string& wmClassInstance,
                                                                            const std::string& wmClassName) {
    std::string instance = lowered(wmClassInstance), name = lowered(wmClassName);
    if (instance.empty() && name.empty()) return std::nullopt;
    std::optional<DesktopEntry> byFileName;
    std::set<std::string> seen;
    for (const auto& folder : applicationFolders()) {
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            const fs::path& file = it->path();
            if (file.extension() != ".desktop") continue;
            std::string id = file.stem().string();
            if (!seen.insert(id).second) continue;  // hidden by an earlier folder
            auto parsed = parseDesktopEntry(file);
            if (!parsed) continue;
            std::string wmClass = lowered(parsed->startupWMClass);
            if (!wmClass.empty() && (wmClass == name || wmClass == instance)) return DesktopEntry{id, parsed->name};
            // "org.gnome.Terminal" also matches the WM_CLASS "gnome-terminal"'s last component
            std::string lowId = lowered(id);
            std::string lastComponent = lowId.substr(lowId.find_last_of('.') + 1);
            if (!byFileName && (lowId == name || lowId == instance ||
                                (lastComponent != lowId && (lastComponent == name || lastComponent == instance)))) {
                byFileName = DesktopEntry{id, parsed->name};
            }
        }
    }
    return byFileName;
}

struct DesktopWindows::Impl {
    std::mutex mutex;  // guards `display` and `recent`
    Display* display = nullptr;
    std::deque<std::pair<pid_t, Window>> recent;  // most recently active first

    std::mutex watchMutex;
    std::jthread watcher;
    int wakeFd = -1;
    std::string displayName;

    WindowOwner ownerOf(Display* d, Window w) {
        WindowOwner owner;
        owner.window = w;
        XClassHint hint{};
        if (XGetClassHint(d, w, &hint)) {
            if (hint.res_name) owner.wmClassInstance = hint.res_name;
            if (hint.res_class) owner.wmClassName = hint.res_class;
            if (hint.res_name) XFree(hint.res_name);
            if (hint.res_class) XFree(hint.res_class);
        }
        owner.processIdentifier = processOf(d, w);
        std::string declared = readText(d, w, "_GTK_APPLICATION_ID");
        if (declared.empty()) declared = readText(d, w, "_KDE_NET_WM_DESKTOP_FILE");
        if (declared.size() > 8 && declared.ends_with(".desktop")) declared.resize(declared.size() - 8);
        std::optional<DesktopEntry> entry;
        if (!declared.empty()) {
            owner.desktopFileId = declared;
            entry = entryById(declared);
        } else {
            entry = findDesktopEntry(owner.wmClassInstance, owner.wmClassName);
            if (entry) owner.desktopFileId = entry->id;
        }
        owner.appName = entry && !entry->name.empty() ? entry->name : owner.wmClassName;
        return owner;
    }

    void remember(pid_t pid, Window w) {
        if (pid <= 0) return;
        std::erase_if(recent, [&](const auto& e) { return e.second == w; });
        recent.emplace_front(pid, w);
        if (recent.size() > 64) recent.pop_back();
    }

    // A server timestamp: the time of a property change on a window of our own.
    Time serverTime(Display* d) {
        XSetWindowAttributes attributes{};
        attributes.event_mask = PropertyChangeMask;
        Window probe = XCreateWindow(d, DefaultRootWindow(d), -10, -10, 1, 1, 0, 0, InputOnly, CopyFromParent,
                                     CWEventMask, &attributes);
        Atom atom = XInternAtom(d, "_PELORA_TIMESTAMP", False);
        XChangeProperty(d, probe, atom, XA_STRING, 8, PropModeAppend, nullptr, 0);
        XEvent event;
        XWindowEvent(d, probe, PropertyChangeMask, &event);
        XDestroyWindow(d, probe);
        XFlush(d);
        return event.xproperty.time;
    }
};

DesktopWindows::DesktopWindows(const std::string& displayName) : impl_(std::make_unique<Impl>()) {
    impl_->displayName = displayName;
    impl_->display = openDisplay(displayName);
}

DesktopWindows::~DesktopWindows() {
    watchActivations(nullptr);
    closeDisplay(impl_->display);
}

bool DesktopWindows::connected() const { return impl_->display != nullptr; }

std::optional<WindowOwner> DesktopWindows::frontmost() {
    std::lock_guard lock(impl_->mutex);
    Display* d = impl_->display;
    if (!d) return std::nullopt;
    auto window = activeWindow(d);
    if (!window) return std::nullopt;
    WindowOwner owner = impl_->ownerOf(d, *window);
    impl_->remember(owner.processIdentifier, *window);
    return owner;
}

void DesktopWindows::watchActivations(std::function<void(const WindowOwner&)> onActivated) {
    std::lock_guard watchLock(impl_->watchMutex);
    if (impl_->watcher.joinable()) {
        impl_->watcher.request_stop();
        std::uint64_t one = 1;
        (void)!write(impl_->wakeFd, &one, sizeof one);
        impl_->watcher.join();
        close(impl_->wakeFd);
        impl_->wakeFd = -1;
    }
    if (!onActivated || !impl_->display) return;
    impl_->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (impl_->wakeFd < 0) return;
    int wakeFd = impl_->wakeFd;
    Impl* impl = impl_.get();
    // Returns only once the server sends the watcher every change: an activation right
    // after this call is never missed, and a read of the front made after it is current.
    std::promise<void> listening;
    std::future<void> listeningNow = listening.get_future();
    impl_->watcher = std::jthread([impl, wakeFd, onActivated = std::move(onActivated),
                                   listening = std::move(listening)](std::stop_token stop) mutable {
        Display* d = openDisplay(impl->displayName);
        if (!d) {
            listening.set_value();
            return;
        }
        Window root = DefaultRootWindow(d);
        XSelectInput(d, root, PropertyChangeMask);
        Atom activeAtom = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
        XSync(d, False);
        listening.set_value();
        Window last = None;
        while (!stop.stop_requested()) {
            bool changed = false;
            while (XPending(d) > 0) {
                XEvent event;
                XNextEvent(d, &event);
                if (event.type == PropertyNotify && event.xproperty.window == root && event.xproperty.atom == activeAtom) {
                    changed = true;
                }
            }
            if (changed) {
                auto window = readWindow(d, root, "_NET_ACTIVE_WINDOW");
                if (window && *window != last) {
                    last = *window;
                    WindowOwner owner = impl->ownerOf(d, *window);
                    {
                        std::lock_guard lock(impl->mutex);
                        impl->remember(owner.processIdentifier, *window);
                    }
                    onActivated(owner);
                } else if (!window) {
                    last = None;
                }
                continue;
            }
            pollfd fds[2] = {{ConnectionNumber(d), POLLIN, 0}, {wakeFd, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
            if (fds[0].revents & (POLLERR | POLLHUP)) break;
        }
        closeDisplay(d);
    });
    listeningNow.wait();
}

bool DesktopWindows::activateProcess(pid_t processIdentifier) {
    if (processIdentifier <= 0) return false;
    std::lock_guard lock(impl_->mutex);
    Display* d = impl_->display;
    if (!d) return false;
    Window root = DefaultRootWindow(d);

    auto isMappedClientOf = [&](Window w) {
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(d, w, &attributes)) return false;
        if (attributes.map_state != IsViewable && !hasWmState(d, w)) return false;
        return processOf(d, w) == processIdentifier;
    };

    std::optional<Window> target;
    for (const auto& [pid, window] : impl_->recent) {
        if (pid == processIdentifier && isMappedClientOf(window)) { target = window; break; }
    }
    if (!target) {
        // Nothing seen active yet: the topmost of its windows in the stacking order.
        Atom stacking = XInternAtom(d, "_NET_CLIENT_LIST_STACKING", True);
        if (stacking != None) {
            if (auto list = readProperty(d, root, stacking, XA_WINDOW); list && list->format == 32) {
                for (auto it = list->longs.rbegin(); it != list->longs.rend() && !target; ++it) {
                    if (isMappedClientOf(static_cast<Window>(*it))) target = static_cast<Window>(*it);
                }
            }
        }
    }
    if (!target) {
        // No window manager keeps a list: the root's children, topmost first.
        Window rootReturn = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        if (XQueryTree(d, root, &rootReturn, &parent, &children, &count)) {
            std::unique_ptr<Window, XFreeDeleter> owned(children);
            for (unsigned int i = count; i-- > 0 && !target;) {
                Window client = clientWindowOf(d, children[i]);
                if (isMappedClientOf(children[i])) target = children[i];
                else if (client != children[i] && isMappedClientOf(client)) target = client;
            }
        }
    }
    if (!target) return false;

    if (hasWindowManager(d)) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = *target;
        event.xclient.message_type = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2;  // source: a pager, i.e. on the user's behalf
        event.xclient.data.l[1] = static_cast<long>(impl_->serverTime(d));
        event.xclient.data.l[2] = 0;
        XSendEvent(d, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    } else {
        XRaiseWindow(d, *target);
        XSetInputFocus(d, *target, RevertToParent, impl_->serverTime(d));
    }
    XFlush(d);
    return true;
}

bool DesktopWindows::isProcessTerminated(pid_t processIdentifier) {
    if (processIdentifier <= 0) return true;
    std::error_code ec;
    return !fs::exists(fs::path("/proc") / std::to_string(processIdentifier), ec);
}

}  // namespace pelora::windows
