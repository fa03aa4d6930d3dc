// GoogleTest comes before the X11 headers, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include "platform/synthkeys/SyntheticKeyboard.h"
#include "tests/platform/synthkeys/KeyReader.h"
#include "tests/platform/synthkeys/PrivateXServer.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/XKeyboardState.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <functional>
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

// Runs `attempt` (which types and returns what arrived) until that equals `expected`,
// at most three times. A client that does not read its events for longer than the
// keymap waits (a heavily loaded machine) looks keysyms up too late; a fault of the
// typing itself fails every attempt.
void expectTypedExactly(const std::u32string& expected, const std::function<std::u32string()>& attempt) {
    std::string differences;
    for (int i = 0; i < 3; ++i) {
        const std::string difference = firstDifference(attempt(), expected);
        if (difference == "equal") return;
        differences += difference + "\n";
    }
    ADD_FAILURE() << "never typed exactly:\n" << differences;
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
    const std::u32string text = mixedText(1000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expectTypedExactly(text, [&] {
            const auto before = pelora::testing::snapshotKeymap(display());
            if (c.held != NoSymbol) pelora::testing::fakeKey(display(), c.held, true);
            KeyReader reader(display());
            {
                auto session = xtestKeyboard(display())->open();
                EXPECT_NE(session, nullptr);
                if (!session) return std::u32string();
                EXPECT_TRUE(session->releaseHeldModifiers());
                EXPECT_TRUE(session->type(text));
            }
            reader.waitForPresses(text.size());
            for (const auto& press : reader.presses()) {
                EXPECT_EQ(press.state & (ShiftMask | ControlMask), 0u) << "a modifier was still down";
            }
            if (c.held != NoSymbol) {
                EXPECT_FALSE(pelora::testing::isKeyDown(display(), c.held));
            }
            EXPECT_EQ(pelora::testing::snapshotKeymap(display()), before);
            return reader.text();
        });
    }
}

// A client that handles each press far slower than any fixed wait, so that it still has
// presses of a keycode queued when that keycode is to be lent again: it answers pings,
// and typing waits for the answer before each such change.
TEST_F(XTestKeyboardTest, AClientSlowerThanAnyWaitGetsEveryCharacterWhenItAnswersPings) {
    const std::u32string text = mixedText(120);
    const auto before = pelora::testing::snapshotKeymap(display());
    KeyReader reader(display(), {.pings = KeyReader::Pings::answered, .perPress = std::chrono::milliseconds(15)});
    {
        auto session = xtestKeyboard(display())->open();
        ASSERT_NE(session, nullptr);
        EXPECT_TRUE(session->type(text));
    }
    reader.waitForPresses(text.size(), std::chrono::seconds(60));
    EXPECT_EQ(firstDifference(reader.text(), text), "equal");
    EXPECT_EQ(pelora::testing::snapshotKeymap(display()), before);
}

// A client that lists pings but never answers costs the typing one time limit, then gets
// timed waits; everything is typed and the keymap comes back.
TEST_F(XTestKeyboardTest, AClientThatNeverAnswersItsPingsIsStillTypedInto) {
    const std::u32string text = mixedText(100);
    const auto before = pelora::testing::snapshotKeymap(display());
    KeyReader reader(display(), {.pings = KeyReader::Pings::listedButIgnored});
    const auto started = std::chrono::steady_clock::now();
    {
        auto session = xtestKeyboard(display())->open();
        ASSERT_NE(session, nullptr);
        EXPECT_TRUE(session->type(text));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    reader.waitForPresses(text.size());
    EXPECT_EQ(reader.presses().size(), text.size());
    EXPECT_EQ(pelora::testing::snapshotKeymap(display()), before);
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
        {"Right", {{Key::right, true}, {Key::right, false}}, XK_Right, 0},
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
    const auto before = pelora::testing::snapshotKeymap(display());
    expectTypedExactly(U"\bx", [&] {
        KeyReader reader(display());
        {
            auto session = xtestKeyboard(display())->open();
            EXPECT_NE(session, nullptr);
            if (!session) return std::u32string();
            EXPECT_TRUE(session->post(Key::backSpace, true));
            EXPECT_TRUE(session->post(Key::backSpace, false));
            EXPECT_TRUE(session->type(U"x"));
        }
        reader.waitForPresses(2);
        EXPECT_EQ(pelora::testing::snapshotKeymap(display()), before);
        return reader.text();  // BackSpace reads as U+0008
    });
    XChangeKeyboardMapping(own, backSpace, width, original.data(), 1);
    XCloseDisplay(own);
}

TEST_F(XTestKeyboardTest, SessionsOfConcurrentCallersDoNotInterleave) {
    const std::u32string first = U"いろはにほへと😀ちりぬるを";
    const std::u32string second = U"ABCDEFGHIJKLMNOPQRSTUVWXYZ𠮷";
    expectTypedExactly(first + second, [&] {
        KeyReader reader(display());
        auto typeAll = [this](std::u32string text) {
            auto session = xtestKeyboard(display())->open();
            ASSERT_NE(session, nullptr);
            ASSERT_TRUE(session->type(text));
        };
        std::thread a(typeAll, first), b(typeAll, second);
        a.join();
        b.join();
        reader.waitForPresses(first.size() + second.size());
        // Either may go first; neither may cut into the other.
        const std::u32string typed = reader.text();
        return typed == second + first ? first + second : typed;
    });
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
