#include "platform/keymonitor/X11KeyMonitor.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using namespace pelora::keymonitor;

namespace {

// Another X client: presses keys through XTest, grabs, owns windows.
class Client {
public:
    Client() : display_(XOpenDisplay(nullptr)) {}
    ~Client() {
        if (display_) XCloseDisplay(display_);
    }
    Display* display() const { return display_; }
    int keycodeOf(KeySym keysym) const { return XKeysymToKeycode(display_, keysym); }
    // By keysym (the keycode it is on); never by name through a tool that may press siblings.
    void key(KeySym keysym, bool down) {
        XTestFakeKeyEvent(display_, keycodeOf(keysym), down, CurrentTime);
        XSync(display_, False);
    }
    Window window() {
        if (!window_) {
            window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 10, 10, 200, 100, 0, 0, 0);
            XSelectInput(display_, window_, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
            XMapRaised(display_, window_);
            XSync(display_, False);
            for (int i = 0; i < 200; ++i) {  // until it is viewable
                XWindowAttributes attributes;
                XGetWindowAttributes(display_, window_, &attributes);
                if (attributes.map_state == IsViewable) break;
                std::this_thread::sleep_for(10ms);
            }
        }
        return window_;
    }
    void focus() {
        XSetInputFocus(display_, window(), RevertToParent, CurrentTime);
        XSync(display_, False);
    }
    // Key presses our window received so far.
    std::vector<KeySym> pressesReceived() {
        std::vector<KeySym> keys;
        XSync(display_, False);
        while (XPending(display_)) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type == KeyPress) keys.push_back(XLookupKeysym(&event.xkey, 0));
        }
        return keys;
    }

private:
    Display* display_;
    Window window_ = 0;
};

template <typename Event>
class Recorder {
public:
    std::function<void(Event)> callback() {
        return [this](Event event) {
            std::lock_guard lock(mutex_);
            events_.push_back(event);
            changed_.notify_all();
        };
    }
    // Waits (generously) until `count` events came; returns what came.
    std::vector<Event> waitFor(std::size_t count, std::chrono::milliseconds limit = 5s) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, limit, [&] { return events_.size() >= count; });
        return events_;
    }
    // Lets late events arrive, then returns all.
    std::vector<Event> settle(std::chrono::milliseconds quiet = 300ms) {
        std::this_thread::sleep_for(quiet);
        std::lock_guard lock(mutex_);
        return events_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Event> events_;
};

std::vector<bool> presses(const std::vector<KeyTransition>& events) {
    std::vector<bool> out;
    for (const auto& e : events) out.push_back(e.pressed);
    return out;
}

class X11KeyMonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "runs in the private test desktop";
        ASSERT_NE(client.display(), nullptr);
    }
    void TearDown() override {
        // Leave no key down for the next test.
        for (KeySym k : {XK_Alt_L, XK_Alt_R, XK_Control_L, XK_Control_R, XK_Super_R, XK_Shift_L, XK_v, XK_p, XK_u})
            client.key(k, false);
    }
    Client client;
    X11KeyMonitor monitor;
};

struct PhysicalKey {
    const char* name;
    KeySym keysym;
};

TEST_F(X11KeyMonitorTest, EachPushToTalkKeyIsSeenByItsNameAndNoOtherKeyIs) {
    const PhysicalKey keys[] = {{"RALT", XK_Alt_R}, {"LALT", XK_Alt_L}, {"RWIN", XK_Super_R}, {"RCTL", XK_Control_R}};
    for (const auto& key : keys) {
        Recorder<KeyTransition> seen;
        auto watch = monitor.watchKey(key.name, seen.callback());
        ASSERT_NE(watch, nullptr) << key.name << ": " << monitor.connectionError();
        for (const auto& other : keys) {
            if (other.keysym == key.keysym) continue;
            client.key(other.keysym, true);
            client.key(other.keysym, false);
        }
        client.key(key.keysym, true);
        client.key(key.keysym, false);
        const auto events = seen.waitFor(2);
        EXPECT_EQ(presses(seen.settle()), (std::vector<bool>{true, false})) << key.name;
        if (events.size() == 2) {
            EXPECT_LE(events[1].serverTime - events[0].serverTime, 5000u) << key.name;
        }
    }
}

TEST_F(X11KeyMonitorTest, UnknownKeyNamesAreRefused) {
    Recorder<KeyTransition> seen;
    EXPECT_EQ(monitor.watchKey("ZZZZ", seen.callback()), nullptr);
    EXPECT_EQ(monitor.watchKey("", seen.callback()), nullptr);
}

struct HeldKeyCase {
    const char* name;
    std::function<void(Client&, Client&)> whileHeld;  // (presser, other client)
};

TEST_F(X11KeyMonitorTest, TheReleaseArrivesWhateverHappensWhileTheKeyIsHeld) {
    const HeldKeyCase cases[] = {
        {"the sibling key is held across the release",
         [](Client& presser, Client&) { presser.key(XK_Alt_L, true); }},
        {"another client grabs the keyboard",
         [](Client&, Client& other) {
             ASSERT_EQ(XGrabKeyboard(other.display(), other.window(), False, GrabModeAsync, GrabModeAsync, CurrentTime),
                       GrabSuccess);
             XSync(other.display(), False);
         }},
        {"the focus moves to another window", [](Client&, Client& other) { other.focus(); }},
    };
    for (const auto& c : cases) {
        Client other;
        Recorder<KeyTransition> seen;
        auto watch = monitor.watchKey("RALT", seen.callback());
        ASSERT_NE(watch, nullptr);
        client.key(XK_Alt_R, true);
        seen.waitFor(1);
        c.whileHeld(client, other);
        client.key(XK_Alt_R, false);
        EXPECT_EQ(presses(seen.waitFor(2)), (std::vector<bool>{true, false})) << c.name;
        client.key(XK_Alt_L, false);
        XUngrabKeyboard(other.display(), CurrentTime);
        XSync(other.display(), False);
        EXPECT_EQ(presses(seen.settle()), (std::vector<bool>{true, false})) << c.name;
    }
}

TEST_F(X11KeyMonitorTest, NoCallbackAfterTheWatchEnds) {
    Recorder<KeyTransition> seen;
    auto watch = monitor.watchKey("RCTL", seen.callback());
    client.key(XK_Control_R, true);
    seen.waitFor(1);
    watch.reset();
    client.key(XK_Control_R, false);
    EXPECT_EQ(seen.settle().size(), 1u);
}

struct Combination {
    const char* name;
    KeySym key;
    unsigned modifiers;
    std::vector<KeySym> held;
};

const Combination combinations[] = {
    {"Alt+Shift+V", XK_v, modifier::mod1 | modifier::shift, {XK_Alt_L, XK_Shift_L}},
    {"Control+Shift+P", XK_p, modifier::control | modifier::shift, {XK_Control_L, XK_Shift_L}},
    {"Alt+Shift+P", XK_p, modifier::mod1 | modifier::shift, {XK_Alt_L, XK_Shift_L}},
    {"Super+Shift+U", XK_u, modifier::mod4 | modifier::shift, {XK_Super_L, XK_Shift_L}},
};

void pressCombination(Client& client, const Combination& c, std::chrono::milliseconds hold = 0ms) {
    for (KeySym k : c.held) client.key(k, true);
    client.key(c.key, true);
    std::this_thread::sleep_for(hold);
    client.key(c.key, false);
    for (KeySym k : c.held) client.key(k, false);
}

struct LockState {
    const char* name;
    KeySym toggle;  // pressed once before and once after; 0: none
};

TEST_F(X11KeyMonitorTest, EachCombinationIsCaughtWithCapsLockOrNumLockOnOrOff) {
    const LockState locks[] = {{"no lock", 0}, {"NumLock on", XK_Num_Lock}, {"CapsLock on", XK_Caps_Lock}};
    for (const auto& c : combinations) {
        for (const auto& lock : locks) {
            Recorder<HotKeyEvent> seen;
            auto outcome = monitor.grabKey(c.key, c.modifiers, seen.callback());
            ASSERT_NE(outcome.grab, nullptr) << c.name << ": " << outcome.error;
            if (lock.toggle) client.key(lock.toggle, true), client.key(lock.toggle, false);
            pressCombination(client, c);
            const auto events = seen.waitFor(2);
            if (lock.toggle) client.key(lock.toggle, true), client.key(lock.toggle, false);
            ASSERT_EQ(events.size(), 2u) << c.name << ", " << lock.name;
            EXPECT_TRUE(events[0].pressed && !events[0].repeat) << c.name << ", " << lock.name;
            EXPECT_TRUE(!events[1].pressed && !events[1].repeat) << c.name << ", " << lock.name;
        }
    }
}

TEST_F(X11KeyMonitorTest, AnExtraModifierIsNotCaughtAndTheKeyReachesTheFocusedWindow) {
    const auto& c = combinations[0];
    Recorder<HotKeyEvent> seen;
    auto outcome = monitor.grabKey(c.key, c.modifiers, seen.callback());
    ASSERT_NE(outcome.grab, nullptr) << outcome.error;
    client.focus();
    client.pressesReceived();
    client.key(XK_Control_L, true);
    pressCombination(client, c);
    client.key(XK_Control_L, false);
    EXPECT_TRUE(seen.settle().empty());
    const auto received = client.pressesReceived();
    EXPECT_NE(std::find(received.begin(), received.end(), XK_v), received.end()) << "V passed on";
}

TEST_F(X11KeyMonitorTest, AHeldCombinationRepeatsAsMarkedPressesWithOneRelease) {
    const auto& c = combinations[1];
    Recorder<HotKeyEvent> seen;
    auto outcome = monitor.grabKey(c.key, c.modifiers, seen.callback());
    ASSERT_NE(outcome.grab, nullptr) << outcome.error;
    pressCombination(client, c, 1500ms);
    const auto events = seen.settle();
    ASSERT_GE(events.size(), 2u);
    EXPECT_TRUE(events.front().pressed && !events.front().repeat);
    int unmarkedReleases = 0;
    for (const auto& e : events) unmarkedReleases += (!e.pressed && !e.repeat) ? 1 : 0;
    EXPECT_EQ(unmarkedReleases, 1) << events.size() << " events";
    EXPECT_FALSE(events.back().pressed);
}

TEST_F(X11KeyMonitorTest, ACombinationAnotherClientHoldsIsRefusedWithoutEndingTheProgram) {
    const auto& c = combinations[2];
    Client other;
    const int keycode = other.keycodeOf(c.key);
    XGrabKey(other.display(), keycode, c.modifiers, DefaultRootWindow(other.display()), False, GrabModeAsync,
             GrabModeAsync);
    XSync(other.display(), False);
    Recorder<HotKeyEvent> seen;
    auto outcome = monitor.grabKey(c.key, c.modifiers, seen.callback());
    EXPECT_EQ(outcome.grab, nullptr);
    EXPECT_NE(outcome.error.find("another program"), std::string::npos) << outcome.error;
    // Once the other client lets go, the combination can be taken.
    XUngrabKey(other.display(), keycode, c.modifiers, DefaultRootWindow(other.display()));
    XSync(other.display(), False);
    outcome = monitor.grabKey(c.key, c.modifiers, seen.callback());
    EXPECT_NE(outcome.grab, nullptr) << outcome.error;
}

TEST_F(X11KeyMonitorTest, AReleasedGrabLetsTheKeyThroughAgain) {
    const auto& c = combinations[0];
    Recorder<HotKeyEvent> seen;
    auto outcome = monitor.grabKey(c.key, c.modifiers, seen.callback());
    ASSERT_NE(outcome.grab, nullptr);
    outcome.grab.reset();
    client.focus();
    client.pressesReceived();
    pressCombination(client, c);
    EXPECT_TRUE(seen.settle().empty());
    const auto received = client.pressesReceived();
    EXPECT_NE(std::find(received.begin(), received.end(), XK_v), received.end());
}

TEST_F(X11KeyMonitorTest, ModifierStateFollowsTheKeyboard) {
    struct Case {
        KeySym key;
        unsigned bit;
    };
    for (auto c : {Case{XK_Shift_L, modifier::shift}, Case{XK_Control_R, modifier::control},
                   Case{XK_Alt_L, modifier::mod1}}) {
        client.key(c.key, true);
        EXPECT_EQ(monitor.modifierState().value_or(0) & c.bit, c.bit);
        client.key(c.key, false);
        EXPECT_EQ(monitor.modifierState().value_or(~0u) & c.bit, 0u);
    }
}

TEST_F(X11KeyMonitorTest, TheDesktopOffersRawAndSyntheticKeyEvents) {
    EXPECT_TRUE(monitor.rawKeyEventsAvailable()) << monitor.connectionError();
    EXPECT_TRUE(monitor.syntheticEventsAvailable());
}

TEST(X11KeyMonitorWithoutDisplay, RefusesEverythingAndSaysWhy) {
    X11KeyMonitor monitor(std::string(":97"));
    EXPECT_FALSE(monitor.rawKeyEventsAvailable());
    EXPECT_FALSE(monitor.syntheticEventsAvailable());
    EXPECT_FALSE(monitor.connectionError().empty());
    EXPECT_EQ(monitor.watchKey("RALT", [](KeyTransition) {}), nullptr);
    auto outcome = monitor.grabKey(XK_v, modifier::shift, [](HotKeyEvent) {});
    EXPECT_EQ(outcome.grab, nullptr);
    EXPECT_FALSE(outcome.error.empty());
    EXPECT_EQ(monitor.modifierState(), std::nullopt);
}

}  // namespace
