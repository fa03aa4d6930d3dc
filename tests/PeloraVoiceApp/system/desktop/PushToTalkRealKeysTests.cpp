#include "PeloraVoiceApp/QtMainThreadScheduler.h"
#include "PeloraVoiceApp/system/PushToTalkKey.h"
#include "tests/PeloraVoiceApp/system/desktop/MainLoop.h"
#include "platform/keymonitor/X11KeyMonitor.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using pelora::PTTShortcutKey;
using pelora::PushToTalkKey;

namespace {

using main_loop::application;
using main_loop::spinFor;
using main_loop::spinUntil;

class RealKeys : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        display_ = XOpenDisplay(nullptr);
        ASSERT_NE(display_, nullptr) << "runs in the private desktop";
        watcher_.onStartRecording = [this](bool handsFree) { log.push_back(handsFree ? "start(locked)" : "start"); };
        watcher_.onStopRecording = [this] { log.push_back("stop"); };
    }
    void TearDown() override {
        for (KeySym k : {XK_Alt_L, XK_Alt_R, XK_Control_R, XK_Super_R}) key(k, false);
        if (display_) XCloseDisplay(display_);
    }
    void key(KeySym keysym, bool down) {
        XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, keysym), down, CurrentTime);
        XSync(display_, False);
    }

    Display* display_ = nullptr;
    pelora::keymonitor::X11KeyMonitor monitor_;
    QtMainThreadScheduler scheduler_;
    PushToTalkKey watcher_{PTTShortcutKey::rightOption, monitor_, scheduler_};
    std::vector<std::string> log;
};

TEST_F(RealKeys, EachKeyHoldsAndReleases) {
    struct Case {
        PTTShortcutKey key;
        KeySym keysym;
    };
    for (auto c : {Case{PTTShortcutKey::rightOption, XK_Alt_R}, Case{PTTShortcutKey::leftOption, XK_Alt_L},
                   Case{PTTShortcutKey::rightCommand, XK_Super_R}, Case{PTTShortcutKey::rightControl, XK_Control_R}}) {
        spinFor(400);  // apart from the last key's press: no double tap
        log.clear();
        watcher_.updateConfiguration(c.key, true, true);
        ASSERT_TRUE(watcher_.isMonitoring()) << pelora::ptt_shortcut_key::rawValue(c.key) << ": " << monitor_.connectionError();
        key(c.keysym, true);
        spinFor(300);
        key(c.keysym, false);
        EXPECT_TRUE(spinUntil([&] { return log.size() >= 2; })) << pelora::ptt_shortcut_key::rawValue(c.key);
        EXPECT_EQ(log, (std::vector<std::string>{"start", "stop"})) << pelora::ptt_shortcut_key::rawValue(c.key);
    }
}

TEST_F(RealKeys, ReleasingTheKeyWhileItsSiblingIsHeldStops) {
    watcher_.updateConfiguration(PTTShortcutKey::rightOption, true, true);
    key(XK_Alt_L, true);
    key(XK_Alt_R, true);
    spinFor(300);
    key(XK_Alt_R, false);
    EXPECT_TRUE(spinUntil([&] { return log.size() >= 2; }));
    key(XK_Alt_L, false);
    spinFor(200);
    EXPECT_EQ(log, (std::vector<std::string>{"start", "stop"}));
    EXPECT_FALSE(watcher_.isPressed());
}

// Another X client that grabs the keyboard (as an open menu does) or takes the focus.
class OtherClient {
public:
    OtherClient() : display_(XOpenDisplay(nullptr)) {
        window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 20, 20, 160, 80, 0, 0, 0);
        XMapRaised(display_, window_);
        XSync(display_, False);
        for (int i = 0; i < 200; ++i) {  // until it is viewable
            XWindowAttributes attributes;
            XGetWindowAttributes(display_, window_, &attributes);
            if (attributes.map_state == IsViewable) break;
            std::this_thread::sleep_for(10ms);
        }
    }
    ~OtherClient() { XCloseDisplay(display_); }
    bool grabKeyboard() {
        const bool grabbed =
            XGrabKeyboard(display_, window_, False, GrabModeAsync, GrabModeAsync, CurrentTime) == GrabSuccess;
        XSync(display_, False);
        return grabbed;
    }
    void takeFocus() {
        XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
        XSync(display_, False);
    }

private:
    Display* display_;
    Window window_;
};

TEST_F(RealKeys, TheReleaseEndsTheRecordingWhateverHappensWhileTheKeyIsHeld) {
    struct Case {
        const char* name;
        std::function<void(OtherClient&)> whileHeld;
    };
    const Case cases[] = {
        {"another client grabs the keyboard", [](OtherClient& other) { ASSERT_TRUE(other.grabKeyboard()); }},
        {"the focus moves to another window", [](OtherClient& other) { other.takeFocus(); }},
    };
    watcher_.updateConfiguration(PTTShortcutKey::rightOption, true, true);
    for (const auto& c : cases) {
        spinFor(400);  // apart from the last case: no double tap
        log.clear();
        OtherClient other;
        key(XK_Alt_R, true);
        ASSERT_TRUE(spinUntil([&] { return log.size() == 1; })) << c.name;
        c.whileHeld(other);
        spinFor(300);
        key(XK_Alt_R, false);
        EXPECT_TRUE(spinUntil([&] { return log.size() >= 2; })) << c.name;
        EXPECT_EQ(log, (std::vector<std::string>{"start", "stop"})) << c.name;
        EXPECT_FALSE(watcher_.isPressed()) << c.name;
    }
}

TEST_F(RealKeys, ADoubleTapWhileTheMainThreadIsBusyStillLocks) {
    watcher_.updateConfiguration(PTTShortcutKey::rightControl, true, true);
    key(XK_Control_R, true);
    std::this_thread::sleep_for(60ms);
    key(XK_Control_R, false);
    spinUntil([&] { return !log.empty(); }, 2000);
    spinFor(40);  // the release is handled and the deferred stop armed
    // The main thread is stuck for 0.4 s: the second tap and the deferred stop's due time
    // both pass before it looks again.
    std::thread second([this] {
        Display* other = XOpenDisplay(nullptr);
        std::this_thread::sleep_for(120ms);
        const int keycode = XKeysymToKeycode(other, XK_Control_R);
        XTestFakeKeyEvent(other, keycode, True, CurrentTime);
        XSync(other, False);
        std::this_thread::sleep_for(60ms);
        XTestFakeKeyEvent(other, keycode, False, CurrentTime);
        XSync(other, False);
        XCloseDisplay(other);
    });
    std::this_thread::sleep_for(400ms);
    second.join();
    spinFor(800);
    EXPECT_EQ(log, (std::vector<std::string>{"start", "start(locked)"}));
    EXPECT_TRUE(watcher_.isHandsFreeLocked());
}

TEST_F(RealKeys, TheFnKeyIsRefusedAndRetriedByTheNextConfiguration) {
    EXPECT_TRUE(watcher_.updateConfiguration(PTTShortcutKey::fnKey, true, true) == false);
    EXPECT_FALSE(watcher_.isMonitoring());
    watcher_.updateConfiguration(PTTShortcutKey::rightOption, true, true);
    EXPECT_TRUE(watcher_.isMonitoring());
}

}  // namespace
