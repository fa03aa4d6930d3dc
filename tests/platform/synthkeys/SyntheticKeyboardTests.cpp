// GoogleTest comes before the X11 headers, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include "platform/synthkeys/SyntheticKeyboard.h"
#include "tests/platform/synthkeys/KeyReader.h"
#include "tests/platform/synthkeys/PrivateXServer.h"
#include "tests/support/ScopedEnvironment.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <chrono>
#include <memory>
#include <optional>
#include <thread>

namespace pelora::synthkeys {
namespace {

using testing::KeyReader;
using testing::PrivateXServer;

// Where two texts first differ, for a readable failure message.
std::string firstDifference(const std::u32string& typed, const std::u32string& expected) {
    std::size_t i = 0;
    while (i < typed.size() && i < expected.size() && typed[i] == expected[i]) ++i;
    if (i == typed.size() && i == expected.size()) return "equal";
    auto at = [i](const std::u32string& s) {
        return i < s.size() ? "U+" + std::to_string(static_cast<unsigned>(s[i])) : std::string("end");
    };
    return "first difference at " + std::to_string(i) + ": typed " + at(typed) + ", expected " + at(expected) +
           " (lengths " + std::to_string(typed.size()) + " and " + std::to_string(expected.size()) + ")";
}

std::u32string mixedText(std::size_t length) {
    // Kanji, kana, ASCII and two characters beyond the BMP, in an order that keeps
    // lending new characters to keycodes that were just pressed.
    const std::u32string pool = U"漢字変換日本語入力ひらがなカタカナabcXYZ019 ,.!?😀𠮷ー。、「」";
    std::u32string text;
    for (std::size_t i = 0; i < length; ++i) text += pool[(i * 11 + i / 7) % pool.size()];
    return text;
}

class XTestKeyboardTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = std::make_unique<PrivateXServer>(); }
    static void TearDownTestSuite() { server_.reset(); }

    const std::string& display() const { return server_->display(); }

    static std::unique_ptr<PrivateXServer> server_;
};
std::unique_ptr<PrivateXServer> XTestKeyboardTest::server_;

TEST_F(XTestKeyboardTest, MayPostOnlyWhereADisplayWithXTestAnswers) {
    struct Case {
        const char* name;
        std::optional<std::string> environmentDisplay;  // nullopt: DISPLAY unset
        std::optional<std::string> explicitDisplay;
        bool mayPost;
    };
    const Case cases[] = {
        {"no DISPLAY", std::nullopt, std::nullopt, false},
        {"empty DISPLAY", "", std::nullopt, false},
        {"DISPLAY of no server", ":4711", std::nullopt, false},
        {"DISPLAY of the private server", display(), std::nullopt, true},
        {"named display", std::nullopt, display(), true},
        {"named display of no server", display(), ":4711", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pelora::testing::ScopedEnvironment environment("DISPLAY", c.environmentDisplay);
        auto keyboard = xtestKeyboard(c.explicitDisplay);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(keyboard->mayPost(), c.mayPost);
        EXPECT_EQ(keyboard->open() != nullptr, c.mayPost);
        // "Quickly" with room for a loaded machine.
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    }
}

TEST_F(XTestKeyboardTest, TypesMixedTextExactlyAndPutsTheKeymapBack) {
    struct Case {
        const char* name;
        KeySym held;  // a key the user still holds when typing starts, or NoSymbol
    };
    const Case cases[] = {
        {"nothing held", NoSymbol},
        {"Shift held", XK_Shift_L},
        {"Control held", XK_Control_L},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto before = testing::snapshotKeymap(display());
        if (c.held != NoSymbol) testing::fakeKey(display(), c.held, true);
        KeyReader reader(display());
        const std::u32string text = mixedText(1000);
        {
            auto session = xtestKeyboard(display())->open();
            ASSERT_NE(session, nullptr);
            ASSERT_TRUE(session->releaseHeldModifiers());
            ASSERT_TRUE(session->type(text));
        }
        reader.waitForPresses(text.size());
        EXPECT_EQ(firstDifference(reader.text(), text), "equal");
        for (const auto& press : reader.presses()) {
            ASSERT_EQ(press.state & (ShiftMask | ControlMask), 0u) << "a modifier was still down";
        }
        if (c.held != NoSymbol) {
            EXPECT_FALSE(testing::isKeyDown(display(), c.held));
        }
        EXPECT_EQ(testing::snapshotKeymap(display()), before);
    }
}

TEST_F(XTestKeyboardTest, NamedKeysArriveWithTheModifiersPressedAroundThem) {
    struct Step {
        Key key;
        bool down;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        KeySym keysym;  // of the one non-modifier press
        unsigned state;
    };
    const Case cases[] = {
        {"Control+V", {{Key::control, true}, {Key::v, true}, {Key::v, false}, {Key::control, false}}, XK_v, ControlMask},
        {"Control+Shift+V",
         {{Key::control, true}, {Key::shift, true}, {Key::v, true}, {Key::v, false}, {Key::shift, false}, {Key::control, false}},
         XK_V, ControlMask | ShiftMask},
        {"Shift+Return", {{Key::shift, true}, {Key::returnKey, true}, {Key::returnKey, false}, {Key::shift, false}}, XK_Return, ShiftMask},
        {"Shift+Left", {{Key::shift, true}, {Key::left, true}, {Key::left, false}, {Key::shift, false}}, XK_Left, ShiftMask},
        {"BackSpace", {{Key::backSpace, true}, {Key::backSpace, false}}, XK_BackSpace, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KeyReader reader(display());
        {
            auto session = xtestKeyboard(display())->open();
            ASSERT_NE(session, nullptr);
            for (const Step& step : c.steps) ASSERT_TRUE(session->post(step.key, step.down));
        }
        const std::size_t modifierPresses = c.steps.size() / 2 - 1;
        reader.waitForPresses(modifierPresses + 1);
        const auto presses = reader.presses();
        ASSERT_EQ(presses.size(), modifierPresses + 1);
        EXPECT_EQ(presses.back().keysym, c.keysym);
        EXPECT_EQ(presses.back().state & (ShiftMask | ControlMask | Mod1Mask | Mod4Mask), c.state);
    }
}

TEST_F(XTestKeyboardTest, AKeyMissingFromTheKeymapIsLentASpareKeycodeForTheSession) {
    // Take BackSpace out of the keymap, as an unusual layout might.
    Display* own = XOpenDisplay(display().c_str());
    ASSERT_NE(own, nullptr);
    const KeyCode backSpace = XKeysymToKeycode(own, XK_BackSpace);
    int width = 0;
    KeySym* row = XGetKeyboardMapping(own, backSpace, 1, &width);
    std::vector<KeySym> original(row, row + width);
    XFree(row);
    std::vector<KeySym> empty(original.size(), NoSymbol);
    XChangeKeyboardMapping(own, backSpace, width, empty.data(), 1);
    XSync(own, False);
    const auto before = testing::snapshotKeymap(display());
    {
        KeyReader reader(display());
        {
            auto session = xtestKeyboard(display())->open();
            ASSERT_NE(session, nullptr);
            ASSERT_TRUE(session->post(Key::backSpace, true));
            ASSERT_TRUE(session->post(Key::backSpace, false));
            ASSERT_TRUE(session->type(U"x"));
        }
        reader.waitForPresses(2);
        const auto presses = reader.presses();
        ASSERT_EQ(presses.size(), 2u);
        EXPECT_EQ(presses[0].keysym, static_cast<KeySym>(XK_BackSpace));
        EXPECT_EQ(presses[1].keysym, static_cast<KeySym>(XK_x));
    }
    EXPECT_EQ(testing::snapshotKeymap(display()), before);
    XChangeKeyboardMapping(own, backSpace, width, original.data(), 1);
    XCloseDisplay(own);
}

TEST_F(XTestKeyboardTest, SessionsOfConcurrentCallersDoNotInterleave) {
    KeyReader reader(display());
    const std::u32string first = U"いろはにほへと😀ちりぬるを";
    const std::u32string second = U"ABCDEFGHIJKLMNOPQRSTUVWXYZ𠮷";
    auto typeAll = [this](std::u32string text) {
        auto session = xtestKeyboard(display())->open();
        ASSERT_NE(session, nullptr);
        ASSERT_TRUE(session->type(text));
    };
    std::thread a(typeAll, first), b(typeAll, second);
    a.join();
    b.join();
    reader.waitForPresses(first.size() + second.size());
    const std::u32string typed = reader.text();
    EXPECT_TRUE(typed == first + second || typed == second + first);
}

TEST(XTestKeyboardLostServer, AServerThatGoesAwayMidTypingFailsTheSessionWithoutEndingTheProcess) {
    PrivateXServer server;
    auto session = xtestKeyboard(server.display())->open();
    ASSERT_NE(session, nullptr);
    ASSERT_TRUE(session->type(U"あ"));
    std::thread killer([&server] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        server.kill();
    });
    // Long enough to still be typing when the server dies.
    const bool typed = session->type(mixedText(2000));
    killer.join();
    EXPECT_FALSE(typed);
    EXPECT_FALSE(session->post(Key::v, true));
    session.reset();  // closing a dead connection is no crash either
    EXPECT_FALSE(xtestKeyboard(server.display())->mayPost());
}

}  // namespace
}  // namespace pelora::synthkeys
