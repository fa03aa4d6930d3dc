#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace pelora::testing {

// A private X11 desktop for GUI tests, never the developer's: Xvfb on a free display,
// the jwm window manager with a tray, a private D-Bus session bus, the AT-SPI bus with
// accessibility switched on, and a PulseAudio server whose default source "virtmic"
// plays what is written to the null sink "micfeed" (`paplay -d micfeed`); the default
// sink is the null sink "speaker". HOME and XDG_RUNTIME_DIR are private folders.
//
// GUI test programs do not start it themselves: CTest runs each of them once under
// `pelora-desktop-run`, which starts one bed, runs the program inside it and stops the
// bed (see tests/CMakeLists.txt). A test that needs a desktop of a different shape
// (no accessibility bus, say) may start its own bed.
class DesktopTestBed {
public:
    struct Options {
        bool windowManager = true;
        bool accessibility = true;
        bool audio = true;
        // The X screen's size in pixels (one monitor; a test may split it with
        // `xrandr --setmonitor`).
        int screenWidth = 1280;
        int screenHeight = 800;
    };

    // Starts and waits for each piece; throws std::runtime_error naming the piece that
    // failed, with the tail of its log. What was started is stopped again.
    explicit DesktopTestBed(Options options);
    DesktopTestBed() : DesktopTestBed(Options{}) {}
    // Stops every piece by its process id, last started first.
    ~DesktopTestBed();
    DesktopTestBed(const DesktopTestBed&) = delete;
    DesktopTestBed& operator=(const DesktopTestBed&) = delete;

    // The variables a program inside the desktop needs (DISPLAY, DBUS_SESSION_BUS_ADDRESS,
    // XDG_RUNTIME_DIR, HOME, PULSE_SERVER, QT_QPA_PLATFORM=xcb,
    // QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1, ...); nullopt entries are to be removed.
    const std::map<std::string, std::optional<std::string>>& environment() const { return environment_; }
    // Applies environment() to this process.
    void exportEnvironment() const;

    const std::string& display() const { return display_; }
    const std::string& sessionBusAddress() const { return sessionBusAddress_; }
    const std::filesystem::path& home() const { return home_; }
    const std::filesystem::path& runtimeDirectory() const { return runtimeDirectory_; }
    // Empty when the bed runs without audio.
    const std::string& pulseServer() const { return pulseServer_; }
    pid_t xServerPid() const { return xServer_ ? xServer_->pid() : -1; }
    pid_t accessibilityBusLauncherPid() const { return accessibilityLauncher_ ? accessibilityLauncher_->pid() : -1; }

    // The logs of all pieces, for a failure message.
    std::string logs() const;

private:
    void startXServer();
    void startWindowManager();
    void startSessionBus();
    void startAccessibilityBus();
    void startAudio();
    [[noreturn]] void fail(const std::string& piece, const std::string& what) const;
    void stopAll();

    Options options_;
    TempDir root_;
    std::filesystem::path home_;
    std::filesystem::path runtimeDirectory_;
    std::filesystem::path logDirectory_;
    std::string display_;
    std::string sessionBusAddress_;
    std::string pulseServer_;
    std::map<std::string, std::optional<std::string>> environment_;
    std::unique_ptr<ChildProcess> xServer_;
    std::unique_ptr<ChildProcess> windowManager_;
    std::unique_ptr<ChildProcess> sessionBus_;
    std::unique_ptr<ChildProcess> accessibilityLauncher_;
    std::unique_ptr<ChildProcess> audio_;
};

// Set by pelora-desktop-run for the program it runs: the bed's root folder.
inline constexpr const char* desktopTestBedVariable = "PELORA_TEST_DESKTOP";

// True in a program that pelora-desktop-run started inside a bed.
bool insideDesktopTestBed();

}  // namespace pelora::testing
