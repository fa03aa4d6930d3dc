#include "engine/injection/AccessibilityTextInjector.h"
#include "engine/injection/TextInjectionError.h"
#include "platform/text/UnicodeText.h"
#include "tests/support/DesktopTestBed.h"
#include "tests/support/RunCommand.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TargetApplication.h"
#include "tests/support/XKeyboardState.h"

#include <gtest/gtest.h>
// After gtest: Xlib defines None, Bool and Status as macros.
#include <X11/keysym.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace pelora {
namespace {

using namespace std::chrono_literals;
using Injector = AccessibilityTextInjector;
using testing::TargetApplication;

std::string display() {
    const char* name = std::getenv("DISPLAY");
    return name ? name : "";
}

// 1,000 characters: kanji, kana, ASCII and two beyond the BMP (😀 U+1F600, 𠮷 U+20BB7),
// in an order that keeps lending new characters to keycodes that were just pressed.
std::string mixedText() {
    const std::u32string pool = U"漢字変換日本語入力ひらがなカタカナabcXYZ019 ,.!?😀𠮷ー。、「」";
    std::u32string text;
    for (std::size_t i = 0; i < 1000; ++i) text += pool[(i * 11 + i / 7) % pool.size()];
    return text::fromScalars(text);
}

void setClipboard(const std::string& text) {
    // xclip stays behind as the selection's owner; the desktop ends it with the test program.
    testing::TempDir folder;
    testing::writeFile(folder / "clip", text);
    const auto result = testing::runCommand({"xclip", "-selection", "clipboard", "-i", (folder / "clip").string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    ASSERT_TRUE(testing::waitUntil(10s, [&] {
        return testing::runCommand({"xclip", "-selection", "clipboard", "-o"}).out == text;
    }));
}

enum class Target { qt, gtk, terminal };

const char* targetName(Target target) {
    switch (target) {
    case Target::qt: return "Qt";
    case Target::gtk: return "GTK";
    case Target::terminal: return "xterm";
    }
    return "?";
}

TargetApplication start(Target target, std::vector<std::string> arguments = {}) {
    TargetApplication application = target == Target::qt    ? TargetApplication::qt({.arguments = arguments})
                                    : target == Target::gtk ? TargetApplication::gtk({.arguments = arguments})
                                                            : TargetApplication::terminal({.arguments = arguments});
    application.activate();
    return application;
}

// The text of the focused single-line field of a Qt or GTK target.
const char* lineField(Target target) { return target == Target::qt ? "line" : "entry"; }

class SyntheticKeysDesktopTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(testing::insideDesktopTestBed()) << "run this program under pelora-desktop-run"; }
};

TEST_F(SyntheticKeysDesktopTest, KeysReachTheFocusedField) {
    struct Case {
        const char* name;
        Target target;
        std::vector<std::string> arguments;
        std::function<void()> run;
        // What the target shows afterwards: a state field and its value, or the bytes the
        // terminal sent.
        std::string field;
        std::string expected;
    };
    const Case cases[] = {
        {"Control+V pastes", Target::qt, {"--line", "abc"}, [] { Injector::simulateCommandVPaste(); }, "line", "abc貼り付け😀"},
        // GTK's entry selects all of its text when the window takes the focus; its text
        // view keeps the caret where it was.
        {"Control+V pastes", Target::gtk, {"--focus", "view", "--view", "abc"}, [] { Injector::simulateCommandVPaste(); }, "view",
         "abc貼り付け😀"},
        // xterm has no paste key of its own: Control+Shift+V reaches it as ^V.
        {"terminal paste is Control+Shift+V", Target::terminal, {}, [] { Injector::simulateCommandVPaste(true); }, "", "\x16"},
        {"Shift+Return breaks the line", Target::gtk, {"--focus", "view", "--view", "上"}, [] { Injector::simulateShiftReturnKey(); },
         "view", "上\n"},
        {"Shift+Return breaks the line", Target::terminal, {}, [] { Injector::simulateShiftReturnKey(); }, "", "\r"},
        {"Shift+Left selects", Target::qt, {"--line", "日本語😀"}, [] { Injector::simulateShiftLeftSelection(2); }, "lineSelection", "語😀"},
        {"BackSpace deletes a whole character", Target::qt, {"--line", "日本語😀"}, [] { Injector::simulateDeleteKey(); }, "line", "日本語"},
        {"BackSpace deletes a whole character", Target::gtk, {"--focus", "view", "--view", "日本語😀"}, [] { Injector::simulateDeleteKey(); },
         "view", "日本語"},
        {"typed line feeds are Shift+Return", Target::terminal, {}, [] { Injector::simulateUnicodeTyping("一\n\n二𠮷"); }, "",
         "一\r\r二𠮷"},
    };
    setClipboard("貼り付け😀");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " (" + targetName(c.target) + ")");
        TargetApplication application = start(c.target, c.arguments);
        c.run();
        if (c.target == Target::terminal) {
            EXPECT_TRUE(application.waitForReceived(c.expected)) << "received: " << application.received();
        } else {
            EXPECT_TRUE(application.waitForField(c.field, c.expected)) << application.state().dump();
        }
    }
}

// More distinct characters than there are spare keycodes, so keycodes are lent again
// while the target may still have presses of them queued: what a loaded machine shows.
void typeAThousandMixedCharacters(Target target) {
    const std::string text = mixedText();
    for (bool shiftHeld : {false, true}) {
        SCOPED_TRACE(std::string(targetName(target)) + (shiftHeld ? ", Shift held" : ""));
        TargetApplication application = start(target);
        const auto before = testing::snapshotKeymap(display());
        if (shiftHeld) testing::fakeKey(display(), XK_Shift_L, true);
        Injector::simulateUnicodeTyping(text);
        EXPECT_FALSE(testing::isKeyDown(display(), XK_Shift_L));
        EXPECT_EQ(testing::snapshotKeymap(display()), before);
        if (target == Target::terminal) {
            EXPECT_TRUE(application.waitForReceived(text, 60s)) << application.received();
        } else {
            EXPECT_TRUE(application.waitForField(lineField(target), text, 60s)) << application.field(lineField(target));
        }
    }
}

// Qt and GTK answer pings, so typing knows when they have handled a keycode's presses.
TEST_F(SyntheticKeysDesktopTest, TypesAThousandMixedCharactersExactlyAndLeavesTheKeymapAsItWas) {
    typeAThousandMixedCharacters(Target::qt);
    typeAThousandMixedCharacters(Target::gtk);
}

// Disabled: xterm answers no pings, so typing into it runs on timed waits and on whether
// its process sleeps, which a machine starving it of CPU (load above 25 on 8 cores) can
// outrun: characters typed out of order. It passes on a machine with CPU to spare; run
// it by hand with --gtest_also_run_disabled_tests.
TEST_F(SyntheticKeysDesktopTest, DISABLED_TypesAThousandMixedCharactersIntoATerminalWithoutPings) {
    typeAThousandMixedCharacters(Target::terminal);
}

TEST_F(SyntheticKeysDesktopTest, WithoutADisplayNothingIsPostedAndTheAnswerComesAtOnce) {
    TargetApplication application = start(Target::terminal);
    for (std::optional<std::string> unreachable : {std::optional<std::string>(), std::optional<std::string>(":4711")}) {
        SCOPED_TRACE(unreachable.value_or("DISPLAY unset"));
        {
            testing::ScopedEnvironment noDisplay("DISPLAY", unreachable);
            const auto started = std::chrono::steady_clock::now();
            EXPECT_FALSE(Injector::mayPostEvents());
            const std::function<void()> calls[] = {
                [] { Injector::simulateCommandVPaste(); },      [] { Injector::simulateShiftReturnKey(); },
                [] { Injector::simulateShiftLeftSelection(3); }, [] { Injector::simulateDeleteKey(); },
                [] { Injector::simulateUnicodeTyping("届かない"); },
            };
            for (const auto& call : calls) {
                try {
                    call();
                    ADD_FAILURE() << "no error";
                } catch (const TextInjectionError& error) {
                    EXPECT_EQ(error, TextInjectionError::postEventNotPermitted());
                }
            }
            EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
        }
        EXPECT_TRUE(Injector::mayPostEvents());
    }
    // Nothing reached the terminal.
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(application.received(), "");
}

}  // namespace
}  // namespace pelora
