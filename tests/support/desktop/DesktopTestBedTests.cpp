#include "tests/support/DesktopTestBed.h"

#include <gtest/gtest.h>
// After gtest: Xlib defines None, Bool and Status as macros.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <atspi/atspi.h>
#include <signal.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tests/support/RunCommand.h"
#include "tests/support/TempDir.h"

namespace pelora::testing {
namespace {

using namespace std::chrono_literals;

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Everything here runs inside the bed that pelora-desktop-run started for this program.
class DesktopTestBedTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(insideDesktopTestBed()) << "run this program under pelora-desktop-run"; }
};

TEST_F(DesktopTestBedTest, ProgramsSeeThePrivateDesktopOnly) {
    struct Case {
        const char* variable;
        const char* expected;  // nullptr: must be set, any value
    };
    const Case cases[] = {
        {"DISPLAY", nullptr},          {"DBUS_SESSION_BUS_ADDRESS", nullptr},
        {"XDG_RUNTIME_DIR", nullptr},  {"HOME", nullptr},
        {"PULSE_SERVER", nullptr},     {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"},
        {"QT_QPA_PLATFORM", "xcb"},    {"LANG", "C.UTF-8"},
    };
    for (const auto& c : cases) {
        const char* value = std::getenv(c.variable);
        ASSERT_NE(value, nullptr) << c.variable;
        if (c.expected) {
            EXPECT_STREQ(value, c.expected) << c.variable;
        }
    }
    EXPECT_EQ(std::getenv("WAYLAND_DISPLAY"), nullptr);
    EXPECT_EQ(std::getenv("XAUTHORITY"), nullptr);

    const std::string root = env(desktopTestBedVariable);
    for (const char* inside : {"HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME"}) {
        EXPECT_EQ(env(inside).rfind(root, 0), 0u) << inside << " = " << env(inside) << " is outside " << root;
    }
    struct stat info {};
    ASSERT_EQ(stat(env("XDG_RUNTIME_DIR").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(info.st_uid, getuid());
}

TEST_F(DesktopTestBedTest, XServerAndWindowManagerAnswer) {
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr) << env("DISPLAY");
    EXPECT_EQ(DisplayWidth(display, 0), 1280);
    EXPECT_EQ(DisplayHeight(display, 0), 800);
    EXPECT_EQ(DefaultDepth(display, 0), 24);
    int event = 0, error = 0, major = 0, minor = 0;
    EXPECT_TRUE(XQueryExtension(display, "XTEST", &major, &event, &error)) << "synthetic keys need XTEST";
    EXPECT_TRUE(XQueryExtension(display, "XInputExtension", &major, &event, &error));
    EXPECT_TRUE(XQueryExtension(display, "XFIXES", &major, &event, &error));
    (void)minor;

    const auto windowProperty = [&](Window window, const char* name) -> Window {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        Window result = None;
        if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1, False, XA_WINDOW, &type,
                               &format, &count, &after, &data) == Success &&
            data && count == 1) {
            result = *reinterpret_cast<Window*>(data);
        }
        if (data) XFree(data);
        return result;
    };
    const Window check = windowProperty(DefaultRootWindow(display), "_NET_SUPPORTING_WM_CHECK");
    ASSERT_NE(check, None) << "no EWMH window manager";
    EXPECT_EQ(windowProperty(check, "_NET_SUPPORTING_WM_CHECK"), check);
    EXPECT_NE(XGetSelectionOwner(display, XInternAtom(display, "_NET_SYSTEM_TRAY_S0", False)), None)
        << "no system tray";
    XCloseDisplay(display);
}

TEST_F(DesktopTestBedTest, AccessibilityBusIsOnAndReachable) {
    const CommandResult enabled =
        runCommand({"gdbus", "call", "--session", "--dest", "org.a11y.Bus", "--object-path", "/org/a11y/bus",
                    "--method", "org.freedesktop.DBus.Properties.Get", "org.a11y.Status", "IsEnabled"});
    ASSERT_EQ(enabled.exitCode, 0) << enabled.err;
    EXPECT_EQ(enabled.out, "(<true>,)\n");

    // The registry on the accessibility bus answers for the desktop.
    ASSERT_EQ(atspi_init(), 0);
    AtspiAccessible* desktop = atspi_get_desktop(0);
    ASSERT_NE(desktop, nullptr);
    GError* error = nullptr;
    const gint children = atspi_accessible_get_child_count(desktop, &error);
    EXPECT_EQ(error, nullptr) << (error ? error->message : "");
    EXPECT_GE(children, 0);
    gchar* role = atspi_accessible_get_role_name(desktop, &error);
    EXPECT_STREQ(role, "desktop frame");
    g_free(role);
    if (error) g_error_free(error);
    g_object_unref(desktop);
}

// A 1 s 440 Hz tone, 16-bit mono WAV.
std::string toneWav() {
    const int rate = 16000;
    std::string pcm;
    for (int i = 0; i < rate; ++i) {
        const auto s = static_cast<std::int16_t>(12000 * std::sin(2 * M_PI * 440 * i / rate));
        pcm.append(reinterpret_cast<const char*>(&s), 2);
    }
    const auto u32 = [](std::uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
    const auto u16 = [](std::uint16_t v) { return std::string(reinterpret_cast<const char*>(&v), 2); };
    return "RIFF" + u32(36 + pcm.size()) + "WAVEfmt " + u32(16) + u16(1) + u16(1) + u32(rate) + u32(rate * 2) +
           u16(2) + u16(16) + "data" + u32(pcm.size()) + pcm;
}

TEST_F(DesktopTestBedTest, SoundPlayedIntoMicfeedIsHeardOnTheDefaultSource) {
    const CommandResult info = runCommand({"pactl", "info"});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find("Default Source: virtmic"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Default Sink: speaker"), std::string::npos) << info.out;

    TempDir dir;
    writeFile(dir / "tone.wav", toneWav());
    const auto recording = dir / "heard.raw";
    // Records the default source while the tone plays, until something loud arrives.
    ChildProcess recorder(ChildProcess::Options{
        .argv = {"parecord", "--raw", "--format=s16le", "--rate=16000", "--channels=1", recording.string()}});
    double peak = 0;
    const bool heard = waitUntil(60s, [&] {
        runCommand({"paplay", "--latency-msec=10", "-d", "micfeed", (dir / "tone.wav").string()});
        const std::string pcm = readFile(recording);
        for (std::size_t i = 0; i + 1 < pcm.size(); i += 2) {
            std::int16_t s;
            std::memcpy(&s, pcm.data() + i, 2);
            peak = std::max(peak, std::abs(static_cast<double>(s)));
        }
        return peak > 5000;
    });
    recorder.stop();
    EXPECT_TRUE(heard) << "peak " << peak;
}

TEST_F(DesktopTestBedTest, AnotherBedGetsItsOwnDisplayAndStopsEveryPiece) {
    std::vector<pid_t> pids;
    std::string display;
    {
        DesktopTestBed second(DesktopTestBed::Options{.windowManager = true, .accessibility = false, .audio = false});
        display = second.display();
        EXPECT_NE(display, env("DISPLAY"));
        EXPECT_NE(second.sessionBusAddress(), env("DBUS_SESSION_BUS_ADDRESS"));
        EXPECT_EQ(second.environment().at("QT_QPA_PLATFORM"), "xcb");
        pids.push_back(second.xServerPid());
        Display* x = XOpenDisplay(display.c_str());
        ASSERT_NE(x, nullptr);
        XCloseDisplay(x);
    }
    for (pid_t pid : pids) EXPECT_NE(kill(pid, 0), 0) << "process " << pid << " still there";
    EXPECT_EQ(XOpenDisplay(display.c_str()), nullptr) << display << " still answers";
}

// The default screen is 1280 × 800; a bed may be asked for another size, within reason.
TEST_F(DesktopTestBedTest, ScreenHasTheSizeAskedFor) {
    auto rootSize = [](const std::string& display) {
        Display* x = XOpenDisplay(display.c_str());
        if (!x) return std::pair{0, 0};
        const std::pair size{DisplayWidth(x, DefaultScreen(x)), DisplayHeight(x, DefaultScreen(x))};
        XCloseDisplay(x);
        return size;
    };
    EXPECT_EQ(rootSize(env("DISPLAY")), (std::pair{1280, 800}));
    {
        DesktopTestBed wide(DesktopTestBed::Options{
            .windowManager = false, .accessibility = false, .audio = false, .screenWidth = 2560, .screenHeight = 800});
        EXPECT_EQ(rootSize(wide.display()), (std::pair{2560, 800}));
    }
    EXPECT_THROW(DesktopTestBed(DesktopTestBed::Options{.audio = false, .screenWidth = 0}), std::invalid_argument);
}

}  // namespace
}  // namespace pelora::testing
