#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

namespace pelora::windows {

// What the desktop tells about the application that owns a top-level window.
struct WindowOwner {
    pid_t processIdentifier = 0;      // 0 when the owner's process could not be learned
    std::string desktopFileId;        // "org.gnome.gedit", without ".desktop"; empty when unknown
    std::string wmClassInstance;      // WM_CLASS, first string
    std::string wmClassName;          // WM_CLASS, second string
    std::string appName;              // desktop entry Name in the user's language, else WM_CLASS class
    std::uint64_t window = 0;         // the X window this was read from

    bool operator==(const WindowOwner&) const = default;
};

// The X11 desktop's windows as the front-application tracker needs them: which
// application is in front, when that changes, and bringing one to the front. Works
// with an EWMH window manager (_NET_ACTIVE_WINDOW) and without one (the top-level
// holding the input focus).
class DesktopWindows {
public:
    // Connects to $DISPLAY (or `displayName`); a display that can't be opened gives an
    // object whose queries answer "nothing" and whose watcher never fires.
    explicit DesktopWindows(const std::string& displayName = {});
    ~DesktopWindows();
    DesktopWindows(const DesktopWindows&) = delete;
    DesktopWindows& operator=(const DesktopWindows&) = delete;

    bool connected() const;

    // The owner of the active top-level window, if any.
    std::optional<WindowOwner> frontmost();

    // Calls `onActivated` on a thread of this object's own (never the caller's) each time
    // the active window changes, with the new owner. Replaces an earlier callback; an empty
    // function stops watching. Returns once the watcher hears every change, so a read of
    // the front made after it misses nothing. The callback must not call back into this
    // object's watcher.
    void watchActivations(std::function<void(const WindowOwner&)> onActivated);

    // Asks the window manager to activate the most recently active top-level window of the
    // process. False when the process has no mapped top-level window or no display.
    bool activateProcess(pid_t processIdentifier);

    // True when the process no longer exists (its /proc entry is gone).
    static bool isProcessTerminated(pid_t processIdentifier);

    // Reads a desktop entry's identity for a WM_CLASS: the entry whose StartupWMClass or
    // file name matches (instance or class, ignoring letter case) in $XDG_DATA_HOME and
    // $XDG_DATA_DIRS. Exposed for tests.
    struct DesktopEntry {
        std::string id;
        std::string name;  // localised to the user's language where the entry has it
    };
    static std::optional<DesktopEntry> findDesktopEntry(const std::string& wmClassInstance,
                                                        const std::string& wmClassName);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace pelora::windows
