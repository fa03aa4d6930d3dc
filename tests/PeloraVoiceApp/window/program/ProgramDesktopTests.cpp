// The program PeloraVoice2 started for real on the private test desktop: the window the
// desktop sees, and one instance per session (a second start brings the first one's
// window to the front and ends; a killed instance's lock does not block the next start).
#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopTestBed.h"
#include "tests/support/TargetApplication.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

// After gtest: Xlib defines None, Bool and Status as macros.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using namespace pelora::testing;
namespace fs = std::filesystem;

namespace {

// Windows come and go while the tree is walked: an error about one that just went is no fault.
int ignoreXErrors(Display*, XErrorEvent*) { return 0; }

class XSession {
public:
    explicit XSession(const char* name = nullptr) : display_(XOpenDisplay(name)) { XSetErrorHandler(ignoreXErrors); }
    ~XSession() {
        if (display_) XCloseDisplay(display_);
    }
    Display* display() const { return display_; }

    std::string windowClass(Window window) const {
        XClassHint hint{};
        if (!XGetClassHint(display_, window, &hint)) return {};
        std::string name = hint.res_class ? hint.res_class : "";
        if (hint.res_name) XFree(hint.res_name);
        if (hint.res_class) XFree(hint.res_class);
        return name;
    }
    std::string windowName(Window window) const {
        const Atom netName = XInternAtom(display_, "_NET_WM_NAME", False);
        const Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::string name;
        if (XGetWindowProperty(display_, window, netName, 0, 1024, False, utf8, &type, &format, &count, &after, &data) ==
                Success && data) {
            name.assign(reinterpret_cast<char*>(data), count);
            XFree(data);
        }
        return name;
    }
    bool viewable(Window window) const {
        XWindowAttributes attributes{};
        return XGetWindowAttributes(display_, window, &attributes) && attributes.map_state == IsViewable;
    }
    int width(Window window) const {
        XWindowAttributes attributes{};
        return XGetWindowAttributes(display_, window, &attributes) ? attributes.width : 0;
    }
    // Every mapped top-level client window whose WM_CLASS class is `className` and whose
    // title is `title` ("*": any), the tray icon (a small window of the same class) apart.
    std::vector<Window> clientWindows(const std::string& className, const std::string& title) const {
        std::vector<Window> found, windows;
        collect(DefaultRootWindow(display_), className, title, found, 0);
        for (Window window : found)
            if (width(window) >= 200) windows.push_back(window);
        return windows;
    }
    Window activeWindow() const {
        const Atom active = XInternAtom(display_, "_NET_ACTIVE_WINDOW", False);
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        Window window = 0;
        if (XGetWindowProperty(display_, DefaultRootWindow(display_), active, 0, 1, False, XA_WINDOW, &type, &format,
                               &count, &after, &data) == Success && data) {
            if (count == 1) window = *reinterpret_cast<Window*>(data);
            XFree(data);
        }
        return window;
    }
    // What the window manager's close button sends.
    void requestClose(Window window) const {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display_, window, False, NoEventMask, &event);
        XFlush(display_);
    }
    // Whether a small window of this WM_CLASS class is mapped: the icon in the tray.
    bool hasTrayIcon(const std::string& className) const {
        std::vector<Window> found;
        collect(DefaultRootWindow(display_), className, "*", found, 0);
        for (Window window : found)
            if (width(window) < 100) return true;
        return false;
    }
    XSizeHints sizeHints(Window window) const {
        XSizeHints hints{};
        long supplied = 0;
        XGetWMNormalHints(display_, window, &hints, &supplied);
        return hints;
    }

private:
    void collect(Window window, const std::string& className, const std::string& title, std::vector<Window>& found,
                 int depth) const {
        if (depth > 0 && viewable(window) && windowClass(window) == className &&
            (title == "*" || windowName(window) == title)) {
            found.push_back(window);
            return;
        }
        if (depth > 3) return;
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display_, window, &root, &parent, &children, &count)) return;
        for (unsigned int i = 0; i < count; ++i) collect(children[i], className, title, found, depth + 1);
        if (children) XFree(children);
    }

    Display* display_;
};

// The program with no model server within reach (nothing is downloaded).
std::unique_ptr<ChildProcess> startProgram(const fs::path& log,
                                           std::map<std::string, std::optional<std::string>> environment = {}) {
    environment["PELORAVOICE_MODEL_SERVER"] = "http://127.0.0.1:9";
    return std::make_unique<ChildProcess>(ChildProcess::Options{
        .argv = {PELORA_APP_PATH},
        .environment = std::move(environment),
        .log = log,
    });
}

class ProgramDesktop : public ::testing::Test {
protected:
    void SetUp() override {
        if (!insideDesktopTestBed()) GTEST_SKIP() << "runs only inside the private test desktop (pelora-desktop-run)";
        ASSERT_NE(x_.display(), nullptr);
    }
    std::vector<Window> mainWindows() const { return x_.clientWindows("PeloraVoice2", "PeloraVoice 2"); }
    Window waitForMainWindow() const {
        std::vector<Window> windows;
        waitUntil(60s, [&] {
            windows = mainWindows();
            return !windows.empty();
        });
        return windows.empty() ? 0 : windows.front();
    }
    std::string logText() const {
        std::string text;
        for (const auto& entry : fs::directory_iterator(logs_.path())) text += readFile(entry.path());
        return text;
    }
    static fs::path instanceFolder() { return fs::path(std::getenv("XDG_RUNTIME_DIR")) / "PeloraVoice2"; }

    XSession x_;
    TempDir logs_;
};

TEST_F(ProgramDesktop, MainWindowCarriesTheApplicationsIdentityAndSizes) {
    auto program = startProgram(logs_ / "first.log");
    const Window window = waitForMainWindow();
    ASSERT_NE(window, 0u) << logText();
    EXPECT_EQ(x_.windowClass(window), "PeloraVoice2");  // the desktop file's StartupWMClass
    const XSizeHints hints = x_.sizeHints(window);
    ASSERT_TRUE(hints.flags & PMinSize);
    EXPECT_EQ(hints.min_width, 880);
    EXPECT_EQ(hints.min_height, 580);
    XWindowAttributes attributes{};
    ASSERT_TRUE(XGetWindowAttributes(x_.display(), window, &attributes));
    EXPECT_EQ(attributes.width, 1020);
    EXPECT_EQ(attributes.height, 680);

    // The guard's folder is private.
    struct stat info {};
    ASSERT_EQ(::lstat(instanceFolder().c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(readFile(instanceFolder() / "instance.lock"), std::to_string(program->pid()) + "\n");
}

TEST_F(ProgramDesktop, SecondStartBringsTheFirstWindowToTheFrontAndEnds) {
    auto first = startProgram(logs_ / "first.log");
    const Window window = waitForMainWindow();
    ASSERT_NE(window, 0u) << logText();

    // Another application in front of it.
    TargetApplication other = TargetApplication::qt();
    other.activate();
    ASSERT_EQ(x_.activeWindow(), other.window());

    auto second = startProgram(logs_ / "second.log");
    ASSERT_TRUE(second->waitForExit(30s)) << logText();
    ASSERT_TRUE(second->waitStatus().has_value());
    EXPECT_TRUE(WIFEXITED(*second->waitStatus()) && WEXITSTATUS(*second->waitStatus()) == 0)
        << describeWaitStatus(*second->waitStatus()) << logText();

    EXPECT_TRUE(first->running());
    EXPECT_TRUE(waitUntil(20s, [&] { return x_.activeWindow() == window; }))
        << "active window " << x_.activeWindow() << ", ours " << window;
    EXPECT_EQ(mainWindows().size(), 1u);
}

TEST_F(ProgramDesktop, StartAfterAKilledInstanceTakesOver) {
    auto killed = startProgram(logs_ / "killed.log");
    ASSERT_NE(waitForMainWindow(), 0u) << logText();
    killed->signal(SIGKILL);
    ASSERT_TRUE(killed->waitForExit(10s));
    ASSERT_TRUE(waitUntil(10s, [&] { return mainWindows().empty(); }));
    // What the killed one left behind: its socket and its lock file.
    EXPECT_TRUE(fs::exists(instanceFolder() / "instance.socket"));

    auto next = startProgram(logs_ / "next.log");
    const Window window = waitForMainWindow();
    ASSERT_NE(window, 0u) << logText();
    EXPECT_TRUE(next->running());
    EXPECT_EQ(readFile(instanceFolder() / "instance.lock"), std::to_string(next->pid()) + "\n");

    // And it is the one a further start now talks to.
    auto further = startProgram(logs_ / "further.log");
    ASSERT_TRUE(further->waitForExit(30s)) << logText();
    EXPECT_TRUE(WIFEXITED(*further->waitStatus()) && WEXITSTATUS(*further->waitStatus()) == 0) << logText();
    EXPECT_TRUE(next->running());
}

TEST_F(ProgramDesktop, ClosingHidesTheWindowWhileTheTrayHoldsItAndASecondStartShowsIt) {
    auto program = startProgram(logs_ / "tray.log");
    const Window window = waitForMainWindow();
    ASSERT_NE(window, 0u) << logText();
    ASSERT_TRUE(waitUntil(20s, [&] { return x_.hasTrayIcon("PeloraVoice2"); })) << "no tray icon";

    x_.requestClose(window);
    ASSERT_TRUE(waitUntil(20s, [&] { return mainWindows().empty(); }));
    EXPECT_FALSE(program->waitForExit(1500ms)) << "closing the window ended the program";

    auto second = startProgram(logs_ / "second.log");
    ASSERT_TRUE(second->waitForExit(30s)) << logText();
    const Window shown = waitForMainWindow();
    ASSERT_NE(shown, 0u) << logText();
    EXPECT_TRUE(waitUntil(20s, [&] { return x_.activeWindow() == shown; }));
}

TEST_F(ProgramDesktop, WithoutATrayClosingTheWindowQuits) {
    // A desktop of its own without a window manager, hence without a tray.
    DesktopTestBed bare({.windowManager = false, .accessibility = false, .audio = false});
    XSession x(bare.display().c_str());
    ASSERT_NE(x.display(), nullptr);
    auto environment = bare.environment();
    auto program = startProgram(logs_ / "bare.log", environment);
    std::vector<Window> windows;
    ASSERT_TRUE(waitUntil(60s, [&] {
        windows = x.clientWindows("PeloraVoice2", "PeloraVoice 2");
        return !windows.empty();
    })) << logText();
    x.requestClose(windows.front());
    ASSERT_TRUE(program->waitForExit(20s)) << logText();
    EXPECT_TRUE(WIFEXITED(*program->waitStatus()) && WEXITSTATUS(*program->waitStatus()) == 0)
        << describeWaitStatus(*program->waitStatus());
}

}  // namespace
