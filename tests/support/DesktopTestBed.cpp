#include "tests/support/DesktopTestBed.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "tests/support/PrivateSoundServer.h"
#include "tests/support/RunCommand.h"

namespace pelora::testing {

namespace {

using namespace std::chrono_literals;

// Generous: a loaded two-core machine starts these slowly, and waits only poll.
constexpr auto startTimeout = 60s;

const char* const accessibilityLaunchers[] = {
    "/usr/libexec/at-spi-bus-launcher",
    "/usr/lib/at-spi2-core/at-spi-bus-launcher",
    "/usr/lib/x86_64-linux-gnu/at-spi2-core/at-spi-bus-launcher",
    "/usr/lib/aarch64-linux-gnu/at-spi2-core/at-spi-bus-launcher",
};

// A minimal window manager set-up: one desktop, click to focus, a tray at the bottom
// with a task list and a system-tray dock (for tray icons).
const char* const windowManagerConfiguration = R"(<?xml version="1.0"?>
<JWM>
  <Desktops width="1" height="1"/>
  <FocusModel>click</FocusModel>
  <Tray x="0" y="-1" height="32" autohide="off">
    <TaskList maxwidth="240"/>
    <Dock/>
  </Tray>
  <RootMenu onroot="123"><Restart label="Restart"/></RootMenu>
</JWM>
)";

std::string tail(const std::filesystem::path& file, std::size_t bytes = 4000) {
    std::string text = readFile(file);
    if (text.size() > bytes) text = "..." + text.substr(text.size() - bytes);
    return text;
}

// Reads one line from `fd` within `timeout`; empty when nothing came.
std::string readLine(int fd, std::chrono::milliseconds timeout) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        char buffer[256];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        line.append(buffer, static_cast<std::size_t>(n));
    }
    if (const auto newline = line.find('\n'); newline != std::string::npos) line.erase(newline);
    return line;
}

struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() {
        if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    }
    ~Pipe() {
        closeWriteEnd();
        if (fds[0] >= 0) close(fds[0]);
    }
    void closeWriteEnd() {
        if (fds[1] >= 0) close(fds[1]);
        fds[1] = -1;
    }
};

int ignoreXErrors(Display*, XErrorEvent*) { return 0; }

struct DisplayCloser {
    void operator()(Display* d) const { XCloseDisplay(d); }
};

// A connection that reports X errors as failed requests instead of ending the process.
class XConnection {
public:
    explicit XConnection(const std::string& name) : display_(XOpenDisplay(name.c_str())) {
        previous_ = XSetErrorHandler(ignoreXErrors);
    }
    ~XConnection() { XSetErrorHandler(previous_); }
    Display* get() const { return display_.get(); }

    std::optional<Window> windowProperty(Window window, const char* name) const {
        const Atom atom = XInternAtom(get(), name, False);
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(get(), window, atom, 0, 1, False, XA_WINDOW, &type, &format, &count, &after, &data) !=
                Success ||
            !data) {
            return std::nullopt;
        }
        std::optional<Window> result;
        if (type == XA_WINDOW && format == 32 && count == 1) result = *reinterpret_cast<Window*>(data);
        XFree(data);
        return result;
    }

private:
    std::unique_ptr<Display, DisplayCloser> display_;
    XErrorHandler previous_ = nullptr;
};

// The window manager is up when the root's _NET_SUPPORTING_WM_CHECK names a window
// that names itself, and the tray's dock owns the system-tray selection.
bool windowManagerReady(const std::string& display) {
    XConnection x(display);
    if (!x.get()) return false;
    const Window root = DefaultRootWindow(x.get());
    const auto check = x.windowProperty(root, "_NET_SUPPORTING_WM_CHECK");
    if (!check || x.windowProperty(*check, "_NET_SUPPORTING_WM_CHECK") != check) return false;
    const Atom tray = XInternAtom(x.get(), "_NET_SYSTEM_TRAY_S0", False);
    return XGetSelectionOwner(x.get(), tray) != None;
}

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct VariantUnref {
    void operator()(GVariant* v) const { g_variant_unref(v); }
};
using Connection = std::unique_ptr<GDBusConnection, ObjectUnref>;
using Variant = std::unique_ptr<GVariant, VariantUnref>;

Connection connectTo(const std::string& address, std::string& error) {
    GError* e = nullptr;
    GDBusConnection* c = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &e);
    if (e) {
        error = e->message;
        g_error_free(e);
    }
    return Connection(c);
}

Variant call(GDBusConnection* c, const char* destination, const char* path, const char* interface,
             const char* method, GVariant* parameters, std::string& error) {
    GError* e = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(c, destination, path, interface, method, parameters, nullptr,
                                                  G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, nullptr, &e);
    if (e) {
        error = e->message;
        g_error_free(e);
    }
    return Variant(reply);
}

}  // namespace

DesktopTestBed::DesktopTestBed(Options options) : options_(options) {
    if (options_.screenWidth < 1 || options_.screenHeight < 1 || options_.screenWidth > 16384 ||
        options_.screenHeight > 16384) {
        throw std::invalid_argument("desktop test bed: screen size " + std::to_string(options_.screenWidth) + "x" +
                                    std::to_string(options_.screenHeight) + " out of range");
    }
    home_ = root_.path() / "home";
    runtimeDirectory_ = root_.path() / "run";
    logDirectory_ = root_.path() / "logs";
    for (const auto& folder : {home_, home_ / ".config", home_ / ".local/share", home_ / ".cache", logDirectory_}) {
        std::filesystem::create_directories(folder);
    }
    std::filesystem::create_directories(runtimeDirectory_);
    chmod(runtimeDirectory_.c_str(), 0700);

    environment_ = {
        {"HOME", home_.string()},
        {"XDG_RUNTIME_DIR", runtimeDirectory_.string()},
        {"XDG_CONFIG_HOME", (home_ / ".config").string()},
        {"XDG_DATA_HOME", (home_ / ".local/share").string()},
        {"XDG_CACHE_HOME", (home_ / ".cache").string()},
        {"XDG_SESSION_TYPE", "x11"},
        {"LANG", "C.UTF-8"},
        {"LC_ALL", std::nullopt},
        {"LC_CTYPE", std::nullopt},
        {"QT_QPA_PLATFORM", "xcb"},
        {"GDK_BACKEND", "x11"},
        // No dconf in the bed; settings that toolkits write stay in memory.
        {"GSETTINGS_BACKEND", "memory"},
        {"WAYLAND_DISPLAY", std::nullopt},
        {"XAUTHORITY", std::nullopt},
        {"SESSION_MANAGER", std::nullopt},
        {"XDG_CURRENT_DESKTOP", std::nullopt},
        {"NO_AT_BRIDGE", std::nullopt},
        {"AT_SPI_BUS_ADDRESS", std::nullopt},
        {"PULSE_SERVER", std::nullopt},
        {"DBUS_SESSION_BUS_ADDRESS", std::nullopt},
        {desktopTestBedVariable, root_.path().string()},
    };
    try {
        startXServer();
        startSessionBus();
        if (options_.windowManager) startWindowManager();
        if (options_.accessibility) startAccessibilityBus();
        if (options_.audio) startAudio();
    } catch (...) {
        stopAll();
        throw;
    }
}

DesktopTestBed::~DesktopTestBed() { stopAll(); }

void DesktopTestBed::stopAll() {
    for (auto* piece : {&audio_, &accessibilityLauncher_, &windowManager_, &sessionBus_, &xServer_}) {
        if (*piece) (*piece)->stop();
        piece->reset();
    }
}

void DesktopTestBed::fail(const std::string& piece, const std::string& what) const {
    throw std::runtime_error("desktop test bed: " + piece + ": " + what + "\n" + logs());
}

std::string DesktopTestBed::logs() const {
    std::string text;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(logDirectory_, ec)) {
        const std::string content = tail(entry.path());
        if (content.empty()) continue;
        text += "--- " + entry.path().filename().string() + "\n" + content;
        if (text.back() != '\n') text += '\n';
    }
    return text;
}

void DesktopTestBed::exportEnvironment() const {
    for (const auto& [name, value] : environment_) {
        if (value) setenv(name.c_str(), value->c_str(), 1);
        else unsetenv(name.c_str());
    }
}

void DesktopTestBed::startXServer() {
    Pipe ready;
    // -displayfd: the server picks a free display and writes its number when it accepts
    // connections. -noreset: the last client leaving must not wipe the root's properties.
    const std::string screen =
        std::to_string(options_.screenWidth) + "x" + std::to_string(options_.screenHeight) + "x24";
    xServer_ = std::make_unique<ChildProcess>(ChildProcess::Options{
        .argv = {"Xvfb", "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp", "-noreset", "-dpi", "96"},
        .environment = environment_,
        .log = logDirectory_ / "xvfb.log",
        .passedDescriptor = ready.fds[1]});
    ready.closeWriteEnd();
    const std::string number = readLine(ready.fds[0], startTimeout);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) {
        fail("Xvfb", "no display number (" + (xServer_->running() ? std::string("still running") : "exited") + ")");
    }
    display_ = ":" + number;
    environment_["DISPLAY"] = display_;
    if (!waitUntil(startTimeout, [&] { return XConnection(display_).get() != nullptr; })) {
        fail("Xvfb", "display " + display_ + " does not accept connections");
    }
}

void DesktopTestBed::startWindowManager() {
    const auto configuration = home_ / ".jwmrc";
    writeFile(configuration, windowManagerConfiguration);
    windowManager_ = std::make_unique<ChildProcess>(ChildProcess::Options{
        .argv = {"jwm", "-display", display_, "-f", configuration.string()},
        .environment = environment_,
        .log = logDirectory_ / "jwm.log"});
    if (!waitUntil(startTimeout, [&] { return !windowManager_->running() || windowManagerReady(display_); }) ||
        !windowManager_->running()) {
        fail("jwm", "no _NET_SUPPORTING_WM_CHECK and tray on " + display_);
    }
}

void DesktopTestBed::startSessionBus() {
    Pipe ready;
    const std::string socket = "unix:path=" + (runtimeDirectory_ / "bus").string();
    sessionBus_ = std::make_unique<ChildProcess>(ChildProcess::Options{
        .argv = {"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + socket, "--print-address=3"},
        .environment = environment_,
        .log = logDirectory_ / "dbus.log",
        .passedDescriptor = ready.fds[1]});
    ready.closeWriteEnd();
    sessionBusAddress_ = readLine(ready.fds[0], startTimeout);
    if (sessionBusAddress_.empty()) fail("dbus-daemon", "no bus address");
    environment_["DBUS_SESSION_BUS_ADDRESS"] = sessionBusAddress_;
}

void DesktopTestBed::startAccessibilityBus() {
    std::string launcher;
    for (const char* candidate : accessibilityLaunchers) {
        if (access(candidate, X_OK) == 0) {
            launcher = candidate;
            break;
        }
    }
    if (launcher.empty()) fail("at-spi-bus-launcher", "not installed (package at-spi2-core)");
    accessibilityLauncher_ = std::make_unique<ChildProcess>(ChildProcess::Options{
        .argv = {launcher, "--launch-immediately"},
        .environment = environment_,
        .log = logDirectory_ / "at-spi.log"});

    std::string error;
    Connection session = connectTo(sessionBusAddress_, error);
    if (!session) fail("dbus-daemon", "cannot connect: " + error);
    // The launcher answers GetAddress once its own bus runs.
    std::string accessibilityBus;
    waitUntil(startTimeout, [&] {
        if (!accessibilityLauncher_->running()) return true;
        Variant reply = call(session.get(), "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr,
                             error);
        if (!reply) return false;
        const gchar* address = nullptr;
        g_variant_get(reply.get(), "(&s)", &address);
        accessibilityBus = address ? address : "";
        return !accessibilityBus.empty();
    });
    if (accessibilityBus.empty()) fail("at-spi-bus-launcher", "org.a11y.Bus does not answer: " + error);
    if (!connectTo(accessibilityBus, error)) fail("at-spi-bus-launcher", "its bus refuses connections: " + error);

    // Toolkits load their accessibility bridge only when IsEnabled is true.
    Variant set = call(session.get(), "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
                       g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(TRUE)), error);
    if (!set) fail("at-spi-bus-launcher", "cannot set IsEnabled: " + error);
    Variant get = call(session.get(), "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Get",
                       g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"), error);
    GVariant* value = nullptr;
    if (get) g_variant_get(get.get(), "(v)", &value);
    const bool enabled = value && g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value);
    if (value) g_variant_unref(value);
    if (!enabled) fail("at-spi-bus-launcher", "IsEnabled stays false");
    environment_["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1";
    environment_["QT_ACCESSIBILITY"] = "1";
}

void DesktopTestBed::startAudio() {
    const auto socket = runtimeDirectory_ / "pulse" / "native";
    std::filesystem::create_directories(socket.parent_path());
    const auto script = home_ / "pulse.pa";
    // Anonymous clients on a socket of our own; "virtmic" (the default source) hears what
    // is played into the null sink "micfeed"; sound for the speakers goes nowhere.
    writeFile(script, soundServerScript(socket));
    pulseServer_ = "unix:" + socket.string();
    audio_ = std::make_unique<ChildProcess>(ChildProcess::Options{
        .argv = {"pulseaudio", "-n", "-F", script.string(), "--daemonize=no", "--exit-idle-time=-1",
                 "--use-pid-file=no", "--realtime=no", "--high-priority=no", "--log-target=stderr"},
        .environment = environment_,
        .log = logDirectory_ / "pulseaudio.log"});
    environment_["PULSE_SERVER"] = pulseServer_;

    std::map<std::string, std::string> clientEnvironment{{"PULSE_SERVER", pulseServer_},
                                                         {"HOME", home_.string()},
                                                         {"XDG_RUNTIME_DIR", runtimeDirectory_.string()}};
    std::string info;
    const bool ready = waitUntil(startTimeout, [&] {
        if (!audio_->running()) return true;
        const CommandResult r = runCommand({"pactl", "info"}, clientEnvironment, std::chrono::seconds(10));
        info = r.out + r.err;
        return r.exitCode == 0 && info.find("Default Source: virtmic") != std::string::npos;
    });
    if (!ready || !audio_->running()) fail("pulseaudio", "not ready: " + info);
}

bool insideDesktopTestBed() {
    const char* root = std::getenv(desktopTestBedVariable);
    return root && *root && std::getenv("DISPLAY");
}

}  // namespace pelora::testing
