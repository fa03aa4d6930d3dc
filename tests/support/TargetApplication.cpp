#include "tests/support/TargetApplication.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <optional>
#include <stdexcept>

namespace pelora::testing {

namespace {

using namespace std::chrono_literals;

int ignoreXErrors(Display*, XErrorEvent*) { return 0; }

// A short-lived connection to the bed's display; X errors (a window that went away)
// fail the request instead of ending the test program.
class X {
public:
    X() : display_(XOpenDisplay(nullptr)) {
        if (!display_) throw std::runtime_error("TargetApplication: cannot open the display (run under pelora-desktop-run)");
        previous_ = XSetErrorHandler(ignoreXErrors);
    }
    ~X() {
        XCloseDisplay(display_);
        XSetErrorHandler(previous_);
    }
    Display* get() const { return display_; }
    Window root() const { return DefaultRootWindow(display_); }
    Atom atom(const char* name) const { return XInternAtom(display_, name, False); }

    std::optional<unsigned long> cardinal(Window w, const char* name, Atom type) const {
        Atom actual = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::optional<unsigned long> value;
        if (XGetWindowProperty(display_, w, atom(name), 0, 1, False, type, &actual, &format, &count, &after, &data) ==
                Success &&
            data && format == 32 && count == 1) {
            value = *reinterpret_cast<unsigned long*>(data);
        }
        if (data) XFree(data);
        return value;
    }

    std::string text(Window w, const char* name) const {
        Atom actual = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::string value;
        if (XGetWindowProperty(display_, w, atom(name), 0, 4096, False, AnyPropertyType, &actual, &format, &count,
                               &after, &data) == Success &&
            data && format == 8) {
            value.assign(reinterpret_cast<const char*>(data), count);
        }
        if (data) XFree(data);
        return value;
    }

    // The first window, breadth first below the root, whose process or title matches.
    Window find(pid_t pid, const std::string& title) const {
        std::vector<Window> level{root()};
        for (int depth = 0; depth < 4 && !level.empty(); ++depth) {
            std::vector<Window> next;
            for (Window parent : level) {
                Window rootReturn = 0, parentReturn = 0;
                Window* children = nullptr;
                unsigned int count = 0;
                if (!XQueryTree(display_, parent, &rootReturn, &parentReturn, &children, &count)) continue;
                for (unsigned int i = 0; i < count; ++i) {
                    const Window w = children[i];
                    const bool titled = text(w, "_NET_WM_NAME") == title || text(w, "WM_NAME") == title;
                    const auto owner = cardinal(w, "_NET_WM_PID", XA_CARDINAL);
                    if (titled && (!owner || static_cast<pid_t>(*owner) == pid || pid <= 0)) {
                        XFree(children);
                        return w;
                    }
                    next.push_back(w);
                }
                if (children) XFree(children);
            }
            level = std::move(next);
        }
        return 0;
    }

    bool windowManagerRuns() const { return cardinal(root(), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW).has_value(); }

    // True when the focus is on `w` or inside it.
    bool hasFocus(Window w) const {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(display_, &focus, &revert);
        while (focus && focus != PointerRoot && focus != root()) {
            if (focus == w) return true;
            Window rootReturn = 0, parent = 0;
            Window* children = nullptr;
            unsigned int count = 0;
            if (!XQueryTree(display_, focus, &rootReturn, &parent, &children, &count)) return false;
            if (children) XFree(children);
            focus = parent;
        }
        return false;
    }

    void requestActivation(Window w) const {
        if (windowManagerRuns()) {
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = w;
            event.xclient.message_type = atom("_NET_ACTIVE_WINDOW");
            event.xclient.format = 32;
            event.xclient.data.l[0] = 2;  // from a pager: honoured without a user timestamp
            event.xclient.data.l[1] = CurrentTime;
            XSendEvent(display_, root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
        } else {
            XSetInputFocus(display_, w, RevertToParent, CurrentTime);
        }
        XRaiseWindow(display_, w);
        XFlush(display_);
    }

private:
    Display* display_;
    XErrorHandler previous_ = nullptr;
};

std::string uniqueTitle(const char* kind) {
    static std::atomic<int> counter{0};
    return std::string("Pelora ") + kind + " " + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

std::vector<std::string> withOptions(std::vector<std::string> argv, const std::vector<std::string>& more) {
    argv.insert(argv.end(), more.begin(), more.end());
    return argv;
}

}  // namespace

TargetApplication::TargetApplication(TargetApplication&&) noexcept = default;
TargetApplication& TargetApplication::operator=(TargetApplication&&) noexcept = default;

TargetApplication::~TargetApplication() {
    if (process_) process_->stop();
}

TargetApplication TargetApplication::qt() { return qt(Options{}); }
TargetApplication TargetApplication::gtk() { return gtk(Options{}); }
TargetApplication TargetApplication::terminal() { return terminal(Options{}); }

TargetApplication TargetApplication::qt(Options options) {
    TargetApplication app;
    app.folder_ = std::make_unique<TempDir>();
    app.title_ = options.title.empty() ? uniqueTitle("Qt") : options.title;
    app.stateFile_ = app.folder_->path() / "state.json";
    std::string program = PELORA_QT_TARGET_PATH;
    if (!options.programName.empty()) {
        const auto link = app.folder_->path() / "bin" / options.programName;
        std::filesystem::create_directories(link.parent_path());
        std::filesystem::create_symlink(program, link);
        program = link.string();
    }
    app.start(withOptions({program, "--window-title", app.title_, "--state-file", app.stateFile_.string()}, options.arguments),
              60s);
    return app;
}

TargetApplication TargetApplication::gtk(Options options) {
    TargetApplication app;
    app.folder_ = std::make_unique<TempDir>();
    app.title_ = options.title.empty() ? uniqueTitle("GTK") : options.title;
    app.stateFile_ = app.folder_->path() / "state.json";
    // The system's Python: python3-gi is installed for it, not for any other python3 on PATH.
    app.start(withOptions({"/usr/bin/python3", PELORA_GTK_TARGET_SCRIPT, "--window-title", app.title_, "--state-file",
                           app.stateFile_.string()},
                          options.arguments),
              60s);
    return app;
}

TargetApplication TargetApplication::terminal(Options options) {
    TargetApplication app;
    app.folder_ = std::make_unique<TempDir>();
    app.title_ = options.title.empty() ? uniqueTitle("Terminal") : options.title;
    app.receivedFile_ = app.folder_->path() / "received.bin";
    // An Xft font: the bed has no core X fonts. The title stays as given.
    app.start(withOptions({"xterm", "-T", app.title_, "-u8", "-fa", "Monospace", "-fs", "11", "-geometry", "80x24",
                           "-xrm", "XTerm*allowTitleOps: false"},
                          withOptions(options.arguments, {"-e", PELORA_RAW_READER_PATH, app.receivedFile_.string()})),
              60s);
    if (!waitUntil(60s, [&] { return std::filesystem::exists(app.receivedFile_) || !app.process_->running(); }) ||
        !app.process_->running()) {
        throw std::runtime_error("TargetApplication: the raw reader did not start in xterm\n" +
                                 readFile(app.folder_->path() / "log.txt"));
    }
    return app;
}

void TargetApplication::start(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
    outputFile_ = folder_->path() / "output.txt";
    process_ = std::make_unique<ChildProcess>(ChildProcess::Options{
        .argv = argv, .log = folder_->path() / "log.txt", .output = outputFile_});
    const bool shown = waitUntil(timeout, [&] {
        if (!process_->running()) return true;
        window_ = X().find(process_->pid(), title_);
        return window_ != 0;
    });
    if (!shown || window_ == 0) {
        const std::string log = readFile(folder_->path() / "log.txt");
        process_->stop();
        throw std::runtime_error("TargetApplication: no window \"" + title_ + "\" from " + argv.front() + "\n" + log);
    }
    if (!stateFile_.empty()) {
        waitUntil(timeout, [&] { return std::filesystem::exists(stateFile_); });
    }
}

void TargetApplication::activate(std::chrono::milliseconds timeout) {
    X x;
    auto lastRequest = std::chrono::steady_clock::now() - 1h;
    const bool focused = waitUntil(timeout, [&] {
        if (x.hasFocus(window_)) return true;
        // Asked again now and then: a window manager may still be mapping the window.
        if (std::chrono::steady_clock::now() - lastRequest > 1s) {
            x.requestActivation(window_);
            lastRequest = std::chrono::steady_clock::now();
        }
        return false;
    });
    if (!focused) throw std::runtime_error("TargetApplication: \"" + title_ + "\" does not take the focus");
    // The toolkits report their focused field once their window is active.
    if (!stateFile_.empty() &&
        !waitForState([](const nlohmann::json& s) { return s.value("focus", std::string()) != ""; }, timeout)) {
        throw std::runtime_error("TargetApplication: \"" + title_ + "\" has no focused field");
    }
}

nlohmann::json TargetApplication::state() const {
    const std::string text = readFile(stateFile_);
    const nlohmann::json parsed = nlohmann::json::parse(text, nullptr, false);
    return parsed.is_object() ? parsed : nlohmann::json::object();
}

std::string TargetApplication::field(const std::string& name) const {
    const nlohmann::json s = state();
    const auto it = s.find(name);
    return it != s.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool TargetApplication::waitForState(const std::function<bool(const nlohmann::json&)>& condition,
                                     std::chrono::milliseconds timeout) const {
    return waitUntil(timeout, [&] { return condition(state()); });
}

bool TargetApplication::waitForField(const std::string& name, const std::string& expected,
                                     std::chrono::milliseconds timeout) const {
    return waitUntil(timeout, [&] { return field(name) == expected; });
}

std::string TargetApplication::received() const { return readFile(receivedFile_); }

bool TargetApplication::waitForReceived(const std::string& expected, std::chrono::milliseconds timeout) const {
    waitUntil(timeout, [&] {
        const std::string got = received();
        return got.size() >= expected.size();
    });
    // Anything late still shows as a difference.
    std::this_thread::sleep_for(100ms);
    return received() == expected;
}

void TargetApplication::suspend() { process_->signal(SIGSTOP); }
void TargetApplication::resume() { process_->signal(SIGCONT); }

std::string TargetApplication::close() {
    process_->stop(20s);
    return readFile(outputFile_);
}

}  // namespace pelora::testing
