#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace pelora::testing {

// One application that GUI tests put text into, started inside the current private
// desktop (pelora-desktop-run sets DISPLAY and the buses) and stopped by process id:
//   - qt():       the Qt 6 Widgets target (fields "line", "rich", "readonly", "secret";
//                 Edit menu with a disabled Paste, Ctrl+Shift+V, a submenu and Paste on Ctrl+V),
//   - gtk():      the GTK 3 target (fields "entry", "view", "readonly"; a similar Edit menu),
//   - terminal(): xterm running a raw reader that keeps every byte the terminal sends.
// The Qt and GTK targets report their fields through a state file after every change;
// state() reads it, without going through the accessibility bus under test.
class TargetApplication {
public:
    struct Options {
        // More arguments for the program, e.g. {"--focus", "rich", "--cursor", "3"} (see
        // the options at the top of tests/support/programs/qt_text_target.cpp and
        // gtk_text_target.py).
        std::vector<std::string> arguments = {};
        // Window title; empty: a unique one.
        std::string title = {};
        // Starts the Qt target through a symlink of this name, so its WM_CLASS (and its
        // application name on the accessibility bus) is this name.
        std::string programName = {};
    };

    static TargetApplication qt(Options options);
    static TargetApplication gtk(Options options);
    static TargetApplication terminal(Options options);
    static TargetApplication qt();
    static TargetApplication gtk();
    static TargetApplication terminal();

    TargetApplication(TargetApplication&&) noexcept;
    TargetApplication& operator=(TargetApplication&&) noexcept;
    ~TargetApplication();

    pid_t pid() const { return process_->pid(); }
    // The application's top-level X window (the client window, not the frame).
    unsigned long window() const { return window_; }
    const std::string& title() const { return title_; }

    // Makes it the active window holding the keyboard focus, and waits until it is.
    // Throws std::runtime_error when it does not happen within `timeout`.
    void activate(std::chrono::milliseconds timeout = std::chrono::seconds(30));

    // The last state the Qt or GTK target wrote (an empty object before the first).
    nlohmann::json state() const;
    // state()[name] as text (empty when absent or not a string).
    std::string field(const std::string& name) const;
    // Polls the state until `condition` holds; false after `timeout`.
    bool waitForState(const std::function<bool(const nlohmann::json&)>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
    bool waitForField(const std::string& name, const std::string& expected,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;

    // Terminal: every byte the terminal has sent to the reader so far.
    std::string received() const;
    // Terminal: polls until exactly `expected` has arrived; false after `timeout` or when
    // more or other bytes came.
    bool waitForReceived(const std::string& expected,
                         std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;

    // SIGSTOP / SIGCONT, for tests of a target that does not answer.
    void suspend();
    void resume();

    // Ends it as the desktop would (SIGTERM) and returns what it printed on exit: the Qt
    // and GTK targets print their final state as one JSON line.
    std::string close();

private:
    TargetApplication() = default;
    void start(const std::vector<std::string>& argv, std::chrono::milliseconds timeout);

    std::unique_ptr<TempDir> folder_;
    std::unique_ptr<ChildProcess> process_;
    std::string title_;
    std::filesystem::path stateFile_;
    std::filesystem::path receivedFile_;
    std::filesystem::path outputFile_;
    unsigned long window_ = 0;
};

}  // namespace pelora::testing
