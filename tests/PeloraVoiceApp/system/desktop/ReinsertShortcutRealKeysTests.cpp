#include "PeloraVoiceApp/QtMainThreadScheduler.h"
#include "PeloraVoiceApp/system/ReinsertShortcutMonitor.h"
#include "platform/keymonitor/X11KeyMonitor.h"
#include "tests/PeloraVoiceApp/system/desktop/MainLoop.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using pelora::ReinsertShortcutMonitor;
using pelora::ReinsertShortcutPreset;
namespace preset = pelora::reinsert_shortcut_preset;
namespace mod = pelora::keymonitor::modifier;

namespace {

using main_loop::application;
using main_loop::spinFor;
using main_loop::spinUntil;

// The keys that make up a preset's modifiers.
std::vector<KeySym> modifierKeys(ReinsertShortcutPreset p) {
    const unsigned mask = preset::x11ModifierMask(p);
    std::vector<KeySym> keys;
    if (mask & mod::control) keys.push_back(XK_Control_L);
    if (mask & mod::mod1) keys.push_back(XK_Alt_L);
    if (mask & mod::mod4) keys.push_back(XK_Super_L);
    if (mask & mod::shift) keys.push_back(XK_Shift_L);
    return keys;
}

class ReinsertRealKeys : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        display_ = XOpenDisplay(nullptr);
        ASSERT_NE(display_, nullptr) << "runs in the private desktop";
        shortcut_.onTrigger = [this] {
            Trigger t;
            t.modifiers = keys_.modifierState().value_or(0);
            t.afterModifiersUp = modifiersUp_;
            triggers.push_back(t);
        };
    }
    void TearDown() override {
        shortcut_.stop();
        for (KeySym k : {XK_Control_L, XK_Alt_L, XK_Super_L, XK_Shift_L, XK_v, XK_p, XK_u}) key(k, false);
        if (display_) XCloseDisplay(display_);
    }
    void key(KeySym keysym, bool down) {
        XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, keysym), down, CurrentTime);
        XSync(display_, False);
    }
    void toggle(KeySym lock) {
        key(lock, true);
        key(lock, false);
    }
    // The preset's modifiers down, its key pressed for `hold` and let go; the modifiers
    // stay down for the caller to release.
    void pressKeepingModifiers(ReinsertShortcutPreset p, int holdMs = 40) {
        modifiersUp_ = false;
        for (KeySym k : modifierKeys(p)) key(k, true);
        key(preset::x11Keysym(p), true);
        spinFor(holdMs);
        key(preset::x11Keysym(p), false);
    }
    void releaseModifiers(ReinsertShortcutPreset p) {
        for (KeySym k : modifierKeys(p)) key(k, false);
        modifiersUp_ = true;
    }
    void press(ReinsertShortcutPreset p, int holdMs = 40) {
        pressKeepingModifiers(p, holdMs);
        releaseModifiers(p);
    }

    struct Trigger {
        unsigned modifiers = 0;
        bool afterModifiersUp = false;
    };

    Display* display_ = nullptr;
    pelora::keymonitor::X11KeyMonitor keys_;
    QtMainThreadScheduler scheduler_;
    ReinsertShortcutMonitor shortcut_{ReinsertShortcutPreset::optionShiftV, keys_, scheduler_};
    bool modifiersUp_ = true;
    std::vector<Trigger> triggers;
};

TEST_F(ReinsertRealKeys, EachPresetTriggersOncePerPressWithTheLocksOnOrOff) {
    struct Lock {
        const char* name;
        KeySym toggle;  // 0: none
    };
    const Lock locks[] = {{"no lock", 0}, {"NumLock on", XK_Num_Lock}, {"CapsLock on", XK_Caps_Lock}};
    for (const auto p : preset::allCases) {
        shortcut_.setPreset(p);
        shortcut_.start();
        ASSERT_TRUE(shortcut_.isGrabbed()) << preset::badgeLabel(p) << ": " << shortcut_.grabError();
        for (const auto& lock : locks) {
            triggers.clear();
            if (lock.toggle) toggle(lock.toggle);
            press(p);
            EXPECT_TRUE(spinUntil([&] { return !triggers.empty(); })) << preset::badgeLabel(p) << ", " << lock.name;
            spinFor(300);  // nothing more comes, and the next press is past the debounce
            if (lock.toggle) toggle(lock.toggle);
            EXPECT_EQ(triggers.size(), 1u) << preset::badgeLabel(p) << ", " << lock.name;
        }
    }
}

TEST_F(ReinsertRealKeys, AnExtraModifierIsNoTrigger) {
    shortcut_.start();
    key(XK_Control_L, true);
    press(ReinsertShortcutPreset::optionShiftV);
    key(XK_Control_L, false);
    spinFor(600);
    EXPECT_TRUE(triggers.empty());
    press(ReinsertShortcutPreset::optionShiftV);
    EXPECT_TRUE(spinUntil([&] { return !triggers.empty(); })) << "the combination itself still triggers";
}

TEST_F(ReinsertRealKeys, AKeyHeldWhileTheServerRepeatsItTriggersOnce) {
    shortcut_.setPreset(ReinsertShortcutPreset::controlShiftP);
    shortcut_.start();
    press(ReinsertShortcutPreset::controlShiftP, 1500);
    spinFor(600);
    EXPECT_EQ(triggers.size(), 1u);
}

TEST_F(ReinsertRealKeys, TheTriggerWaitsForTheModifiersButNotForever) {
    shortcut_.start();
    // Let go 0.1 s after the key: the trigger follows the release.
    pressKeepingModifiers(ReinsertShortcutPreset::optionShiftV);
    spinFor(100);
    releaseModifiers(ReinsertShortcutPreset::optionShiftV);
    ASSERT_TRUE(spinUntil([&] { return triggers.size() == 1; }));
    EXPECT_TRUE(triggers[0].afterModifiersUp);
    EXPECT_EQ(triggers[0].modifiers & (mod::shift | mod::mod1), 0u);

    // Held on and on (0.4 s and more): the trigger comes anyway, with the keys still down.
    spinFor(400);
    pressKeepingModifiers(ReinsertShortcutPreset::optionShiftV);
    const bool triggered = spinUntil([&] { return triggers.size() == 2; }, 3000);
    releaseModifiers(ReinsertShortcutPreset::optionShiftV);
    ASSERT_TRUE(triggered);
    EXPECT_FALSE(triggers[1].afterModifiersUp);
    EXPECT_EQ(triggers[1].modifiers & (mod::shift | mod::mod1), mod::shift | mod::mod1);
}

// Errors of the test's own connection are counted; the rest go to the handler before.
int refusals = 0;
Display* countedDisplay = nullptr;
XErrorHandler forwardTo = nullptr;
int countRefusal(Display* display, XErrorEvent* error) {
    if (display != countedDisplay) return forwardTo ? forwardTo(display, error) : 0;
    if (error->error_code == BadAccess) ++refusals;
    return 0;
}

// Whether another client can take the combination now (BadAccess while someone holds it).
bool anotherClientCanGrab(Display* other, ReinsertShortcutPreset p) {
    refusals = 0;
    countedDisplay = other;
    forwardTo = XSetErrorHandler(countRefusal);
    const int keycode = XKeysymToKeycode(other, preset::x11Keysym(p));
    XGrabKey(other, keycode, preset::x11ModifierMask(p), DefaultRootWindow(other), False, GrabModeAsync, GrabModeAsync);
    XSync(other, False);
    const bool took = refusals == 0;
    if (took) XUngrabKey(other, keycode, preset::x11ModifierMask(p), DefaultRootWindow(other));
    XSync(other, False);
    XSetErrorHandler(forwardTo);
    return took;
}

TEST_F(ReinsertRealKeys, ACombinationHeldElsewhereIsRecordedAndAPresetChangeLetsTheOldOneGo) {
    Display* other = XOpenDisplay(nullptr);
    ASSERT_NE(other, nullptr);
    const auto held = ReinsertShortcutPreset::optionShiftP;
    ASSERT_TRUE(anotherClientCanGrab(other, held));
    const int keycode = XKeysymToKeycode(other, preset::x11Keysym(held));
    XGrabKey(other, keycode, preset::x11ModifierMask(held), DefaultRootWindow(other), False, GrabModeAsync,
             GrabModeAsync);
    XSync(other, False);

    shortcut_.setPreset(held);
    shortcut_.start();
    EXPECT_TRUE(shortcut_.isRunning());
    EXPECT_FALSE(shortcut_.isGrabbed());
    EXPECT_FALSE(shortcut_.grabError().empty()) << "readable, and logged";
    press(held);
    spinFor(500);
    EXPECT_TRUE(triggers.empty());

    // Another preset: taken, and the program goes on.
    shortcut_.setPreset(ReinsertShortcutPreset::optionShiftV);
    EXPECT_TRUE(shortcut_.isGrabbed()) << shortcut_.grabError();
    EXPECT_FALSE(anotherClientCanGrab(other, ReinsertShortcutPreset::optionShiftV)) << "held while in use";
    shortcut_.setPreset(ReinsertShortcutPreset::commandShiftU);
    EXPECT_TRUE(anotherClientCanGrab(other, ReinsertShortcutPreset::optionShiftV)) << "the old combination is let go";
    shortcut_.stop();
    EXPECT_TRUE(anotherClientCanGrab(other, ReinsertShortcutPreset::commandShiftU)) << "stopping lets it go";

    XUngrabKey(other, keycode, preset::x11ModifierMask(held), DefaultRootWindow(other));
    XSync(other, False);
    shortcut_.setPreset(held);
    shortcut_.start();
    EXPECT_TRUE(shortcut_.isGrabbed()) << "free again: taken at the next start";
    XCloseDisplay(other);
}

}  // namespace
