#include "engine/injection/AccessibilityTextInjector.h"
#include "engine/injection/TextInjectionError.h"
#include "tests/support/FakeSyntheticKeyboard.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace pelora {
namespace {

using namespace std::chrono_literals;
using synthkeys::Key;
using testing::FakeSyntheticKeyboard;
using Injector = AccessibilityTextInjector;
using Log = std::vector<std::string>;

class SyntheticKeysTest : public ::testing::Test {
protected:
    void SetUp() override { Injector::useKeyboardForTesting(keyboard); }
    void TearDown() override { Injector::useKeyboardForTesting(nullptr); }

    std::shared_ptr<FakeSyntheticKeyboard> keyboard = std::make_shared<FakeSyntheticKeyboard>();
};

const Log shiftReturn = {"down shift", "down return", "up return", "up shift"};

Log concat(std::initializer_list<Log> parts) {
    Log all;
    for (const Log& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// What each operation posts, between releasing the held modifiers and closing, and the
// least time that must pass after each of those events (the pauses between them).
struct SequenceCase {
    const char* name;
    std::function<void()> run;
    Log posted;
    std::vector<int> pausesAfterMs;
};

TEST_F(SyntheticKeysTest, EachOperationPostsItsKeysInOrderWithItsPauses) {
    const SequenceCase cases[] = {
        {"paste", [] { Injector::simulateCommandVPaste(); },
         {"down control", "down v", "up v", "up control"}, {8, 10, 8, 8}},
        {"paste into a terminal", [] { Injector::simulateCommandVPaste(true); },
         {"down control", "down shift", "down v", "up v", "up shift", "up control"}, {8, 8, 10, 8, 8, 8}},
        {"Shift+Return", [] { Injector::simulateShiftReturnKey(); }, shiftReturn, {6, 8, 6, 8}},
        {"Shift+Left twice", [] { Injector::simulateShiftLeftSelection(2); },
         {"down shift", "down left", "up left", "down left", "up left", "up shift"}, {3, 3, 3, 3, 3, 3}},
        {"Delete", [] { Injector::simulateDeleteKey(); }, {"down backspace", "up backspace"}, {4, 4}},
        {"Right", [] { Injector::simulateRightKey(); }, {"down right", "up right"}, {4, 4}},
        {"typing one line", [] { Injector::simulateUnicodeTyping("日本語 text"); }, {"type 日本語 text"}, {0}},
        // No cut at 24 UTF-16 units, and none inside a surrogate pair: the whole line is
        // one run of code points.
        {"typing a long line beyond the BMP", [] { Injector::simulateUnicodeTyping("😀𠮷😀𠮷😀𠮷😀𠮷😀𠮷😀𠮷a😀𠮷"); },
         {"type 😀𠮷😀𠮷😀𠮷😀𠮷😀𠮷😀𠮷a😀𠮷"}, {0}},
        {"typing two line feeds between letters", [] { Injector::simulateUnicodeTyping("a\n\nb"); },
         concat({{"type a"}, shiftReturn, shiftReturn, {"type b"}}),
         {12, 6, 8, 6, 8 + 12, 6, 8, 6, 8 + 12, 12}},
        {"typing a trailing line feed", [] { Injector::simulateUnicodeTyping("end\n"); },
         concat({{"type end"}, shiftReturn}), {12, 6, 8, 6, 8 + 12}},
        {"typing a single line feed", [] { Injector::simulateUnicodeTyping("\n"); }, shiftReturn, {6, 8, 6, 8 + 12}},
        {"a carriage return is a character", [] { Injector::simulateUnicodeTyping("a\r\nb\r"); },
         concat({{"type a\r"}, shiftReturn, {"type b\r"}}), {12, 6, 8, 6, 8 + 12, 12}},
    };
    for (const SequenceCase& c : cases) {
        SCOPED_TRACE(c.name);
        keyboard = std::make_shared<FakeSyntheticKeyboard>();
        Injector::useKeyboardForTesting(keyboard);
        const auto started = std::chrono::steady_clock::now();
        c.run();
        const auto finished = std::chrono::steady_clock::now();

        EXPECT_EQ(keyboard->log(), concat({{"release modifiers"}, c.posted, {"close"}}));
        const auto events = keyboard->events();
        ASSERT_EQ(events.size(), c.posted.size() + 2);
        ASSERT_EQ(c.pausesAfterMs.size(), c.posted.size());
        for (std::size_t i = 0; i < c.posted.size(); ++i) {
            const auto next = i + 1 < c.posted.size() ? events[i + 2].at : finished;
            EXPECT_GE(next - events[i + 1].at, std::chrono::milliseconds(c.pausesAfterMs[i])) << "after " << c.posted[i];
        }
        EXPECT_GE(events.front().at, started);
    }
}

TEST_F(SyntheticKeysTest, NothingToPostChecksNothingAndPostsNothing) {
    keyboard->mayPostAnswer = false;
    const std::function<void()> calls[] = {
        [] { Injector::simulateUnicodeTyping(""); },
        [] { Injector::simulateShiftLeftSelection(0); },
        [] { Injector::simulateShiftLeftSelection(-3); },
    };
    for (const auto& call : calls) EXPECT_NO_THROW(call());
    EXPECT_EQ(keyboard->openCalls, 0);
    EXPECT_EQ(keyboard->mayPostCalls, 0);
    EXPECT_TRUE(keyboard->log().empty());
}

TEST_F(SyntheticKeysTest, WithoutADisplayEveryOperationIsRefusedBeforeAnythingIsPosted) {
    keyboard->mayPostAnswer = false;
    EXPECT_FALSE(Injector::mayPostEvents());
    const std::pair<const char*, std::function<void()>> calls[] = {
        {"paste", [] { Injector::simulateCommandVPaste(); }},
        {"terminal paste", [] { Injector::simulateCommandVPaste(true); }},
        {"Shift+Return", [] { Injector::simulateShiftReturnKey(); }},
        {"Shift+Left", [] { Injector::simulateShiftLeftSelection(1); }},
        {"Delete", [] { Injector::simulateDeleteKey(); }},
        {"Right", [] { Injector::simulateRightKey(); }},
        {"typing", [] { Injector::simulateUnicodeTyping("あ\nい"); }},
    };
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        try {
            call();
            ADD_FAILURE() << "no error";
        } catch (const TextInjectionError& error) {
            EXPECT_EQ(error, TextInjectionError::postEventNotPermitted());
            EXPECT_STREQ(error.what(), "キー送信権限が必要です");
        }
    }
    EXPECT_TRUE(keyboard->log().empty());

    keyboard->mayPostAnswer = true;
    EXPECT_TRUE(Injector::mayPostEvents());
}

TEST_F(SyntheticKeysTest, AKeyThatCannotBeFoundFailsWithTheOperationsMessage) {
    struct Case {
        const char* name;
        Key missing;
        std::function<void()> run;
        const char* message;
        Log posted;  // what was posted before the failure
    };
    const Case cases[] = {
        // A whole sequence is found before any of it is posted.
        {"paste without V", Key::v, [] { Injector::simulateCommandVPaste(); }, "キーイベントの作成に失敗しました", {}},
        {"paste without Control", Key::control, [] { Injector::simulateCommandVPaste(true); }, "キーイベントの作成に失敗しました", {}},
        {"Shift+Return without Return", Key::returnKey, [] { Injector::simulateShiftReturnKey(); },
         "Shift+Return キーイベントの作成に失敗しました", {}},
        {"Delete without BackSpace", Key::backSpace, [] { Injector::simulateDeleteKey(); }, "Delete キーイベントの作成に失敗しました", {}},
        {"Shift+Left without Left", Key::left, [] { Injector::simulateShiftLeftSelection(2); },
         "Shift+Left キーイベントの作成に失敗しました", {"down shift"}},
        // A line break inside typing fails as Shift+Return does; the first line stays typed.
        {"typed line break without Return", Key::returnKey, [] { Injector::simulateUnicodeTyping("一\n二"); },
         "Shift+Return キーイベントの作成に失敗しました", {"type 一"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        keyboard = std::make_shared<FakeSyntheticKeyboard>();
        keyboard->missingKey = c.missing;
        Injector::useKeyboardForTesting(keyboard);
        try {
            c.run();
            ADD_FAILURE() << "no error";
        } catch (const TextInjectionError& error) {
            EXPECT_EQ(error, TextInjectionError::injectionFailed(c.message));
        }
        EXPECT_EQ(keyboard->log(), concat({{"release modifiers"}, c.posted, {"close"}}));
    }
}

TEST_F(SyntheticKeysTest, TypingThatFailsMidwayKeepsWhatWasTypedAndStops) {
    keyboard->typeCallsThatSucceed = 1;
    try {
        Injector::simulateUnicodeTyping("一行目\n二行目\n三行目");
        ADD_FAILURE() << "no error";
    } catch (const TextInjectionError& error) {
        EXPECT_EQ(error, TextInjectionError::injectionFailed("Unicode キーイベントの作成に失敗しました"));
    }
    EXPECT_EQ(keyboard->log(), concat({{"release modifiers", "type 一行目"}, shiftReturn, {"close"}}));
}

TEST_F(SyntheticKeysTest, AStopRequestCutsThePausesButNeverTheSequence) {
    constexpr int presses = 400;  // 400 × 6 ms of pauses without a stop
    const Log expected = [] {
        Log log = {"release modifiers", "down shift"};
        for (int i = 0; i < presses; ++i) {
            log.push_back("down left");
            log.push_back("up left");
        }
        log.push_back("up shift");
        log.push_back("close");
        return log;
    }();

    // Stopped before it starts: everything is still posted, without the 2.4 s of pauses.
    std::stop_source stopped;
    stopped.request_stop();
    const auto started = std::chrono::steady_clock::now();
    Injector::simulateShiftLeftSelection(presses, stopped.get_token());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1200ms);
    EXPECT_EQ(keyboard->log(), expected);

    // Stopped midway from another thread: the presses still all arrive.
    keyboard = std::make_shared<FakeSyntheticKeyboard>();
    Injector::useKeyboardForTesting(keyboard);
    std::stop_source midway;
    std::jthread worker([&] { Injector::simulateShiftLeftSelection(presses, midway.get_token()); });
    std::this_thread::sleep_for(100ms);
    midway.request_stop();
    worker.join();
    EXPECT_EQ(keyboard->log(), expected);
}

}  // namespace
}  // namespace pelora
