#pragma once

#include <X11/Xlib.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pelora::synthkeys::testing {

// A focused window of our own that reads key presses the way an ordinary Xlib client
// does: keysyms looked up when the event is read, keymap refreshed on MappingNotify.
class KeyReader {
public:
    struct Press {
        KeySym keysym;
        unsigned state;  // modifier mask at the press
    };

    // How the window treats window-manager pings (_NET_WM_PING).
    enum class Pings { notListed, answered, listedButIgnored };
    struct Options {
        Pings pings = Pings::notListed;
        // Time spent handling each key press: a client slower than any fixed wait.
        std::chrono::milliseconds perPress{0};
    };

    explicit KeyReader(const std::string& display) : KeyReader(display, Options{}) {}
    KeyReader(const std::string& display, Options options);
    ~KeyReader();
    KeyReader(const KeyReader&) = delete;
    KeyReader& operator=(const KeyReader&) = delete;

    // The presses so far, as text (each keysym's character) and as keysyms.
    std::u32string text();
    std::vector<Press> presses();
    void clear();
    // Waits (polling) until `count` presses arrived or `timeout` passed; then waits a
    // little longer so that surplus presses would show.
    void waitForPresses(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(30));

private:
    void run();

    Options options_;
    Display* display_ = nullptr;
    Window window_ = 0;
    std::mutex mutex_;
    std::vector<Press> presses_;
    std::atomic<bool> stop_ = false;
    std::thread thread_;
};

}  // namespace pelora::synthkeys::testing
