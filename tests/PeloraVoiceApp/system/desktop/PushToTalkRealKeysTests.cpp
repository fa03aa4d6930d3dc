#include "PeloraVoiceApp/QtMainThreadScheduler.h"
#include "PeloraVoiceApp/system/PushToTalkKey.h"
#include "platform/keymonitor/X11KeyMonitor.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using pelora::PTTShortcutKey;
using pelora::PushToTalkKey;

namespace {

QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "push-to-talk-real-keys";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Spins the main loop until `done` or the limit.
bool spinUntil(const std::function<bool()>& done, int limitMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < limitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return done();
}

void spinFor(int ms) { spinUntil([] { return false; }, ms); }

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
