// Desktops that cannot answer: a stopped target, no accessibility bus, no display. Every
// operation answers "nothing" within about a second and leaves the target untouched.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "engine/injection/AccessibilityTextInjector.h"
#include "engine/injection/FocusedTextContextReader.h"
#include "engine/injection/TextInjectionError.h"
#include "tests/engine/injection/desktop/DesktopTargets.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TempDir.h"

namespace pelora::testing {
namespace {

using namespace std::chrono_literals;

// A bound with room for a loaded machine; a call that waited for its full time limit on
// every step would take several times longer.
constexpr double answerBoundMs = 3000;

template <typename F>
double millisecondsOf(F&& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

TEST_F(DesktopTargetTest, StoppedTargetIsAnsweredQuicklyAndLeftUntouched) {
    for (Field field : {Field::qtLine, Field::gtkEntry}) {
        auto target = startWith({.field = field, .text = "abc"});
        const auto pid = static_cast<std::int32_t>(target.pid());
        target.suspend();
        struct Step {
            const char* name;
            std::function<void()> run;
        };
        const Step steps[] = {
            {"injectDirectAX",
             [&] {
                 try {
                     AccessibilityTextInjector::injectDirectAX("x", pid, false);
                     ADD_FAILURE() << "inserted into a stopped target";
                 } catch (const TextInjectionError& error) {
                     EXPECT_EQ(error.errorCase(), TextInjectionError::Case::noActiveTextField);
                 }
             }},
            {"replaceRecentlyInsertedAX",
             [&] { EXPECT_FALSE(AccessibilityTextInjector::replaceRecentlyInsertedAX("abc", "xyz", pid)); }},
            {"canSafelyReplaceViaKeyboard",
             [&] { EXPECT_FALSE(AccessibilityTextInjector::canSafelyReplaceViaKeyboard("abc", pid)); }},
            {"capture",
             [&] {
                 const auto context = FocusedTextContextReader::capture(ActiveApplicationSnapshot{pid, "b", "n"});
                 EXPECT_FALSE(context.preText);
                 EXPECT_FALSE(context.windowTitle);
             }},
            {"getCaretBounds", [&] { EXPECT_FALSE(AccessibilityTextInjector::getCaretBounds(pid)); }},
            {"getFocusedElementFrame", [&] { EXPECT_FALSE(AccessibilityTextInjector::getFocusedElementFrame(pid)); }},
            {"triggerMenuBarPaste",
             [&] { EXPECT_FALSE(AccessibilityTextInjector::triggerMenuBarPaste(pid, std::nullopt)); }},
        };
        for (const auto& step : steps) {
            // Each operation meets the stopped target on its own: the desktop forgets an
            // application's stall after a second.
            std::this_thread::sleep_for(1500ms);
            const double ms = millisecondsOf(step.run);
            EXPECT_LT(ms, answerBoundMs) << fieldName(field) << " " << step.name;
            std::printf("%s stopped, %s answered in %.0f ms\n", fieldName(field).c_str(), step.name, ms);
        }
        target.resume();
        // Nothing that was asked while it stood still changes it afterwards, and it is
        // served again once it answers.
        EXPECT_TRUE(waitUntil(20s, [&] { return AccessibilityTextInjector::getFocusedElementFrame(pid).has_value(); }))
            << fieldName(field);
        EXPECT_NO_THROW(AccessibilityTextInjector::injectDirectAX("d", pid, false)) << fieldName(field);
        const auto fields = finalFields(target, field);
        EXPECT_EQ(fields.value, "abcd") << fieldName(field);
    }
}

// The probe program runs every operation once in a desktop of its own making.
nlohmann::json runProbe(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment) {
    const auto result = runCommand(argv, environment, std::chrono::seconds(180));
    const auto line = result.out.substr(0, result.out.find('\n'));
    auto parsed = nlohmann::json::parse(line, nullptr, false);
    EXPECT_TRUE(parsed.is_object()) << "exit " << result.exitCode << "\n" << result.out << result.err;
    return parsed.is_object() ? parsed : nlohmann::json::object();
}

struct AbsentDesktopCase {
    const char* name;
    bool ownDesktopWithoutAccessibility;
};

class AbsentDesktopTest : public DesktopTargetTest, public ::testing::WithParamInterface<AbsentDesktopCase> {};

TEST_P(AbsentDesktopTest, EveryOperationAnswersNothingQuickly) {
    const auto& c = GetParam();
    TempDir runtime;
    nlohmann::json answers;
    if (c.ownDesktopWithoutAccessibility) {
        answers = runProbe({PELORA_DESKTOP_RUN_PATH, "--no-accessibility", "--no-audio", "--", PELORA_INJECTOR_PROBE_PATH},
                           {});
    } else {
        answers = runProbe({PELORA_INJECTOR_PROBE_PATH},
                           {{"DISPLAY", ""}, {"DBUS_SESSION_BUS_ADDRESS", ""}, {"XDG_RUNTIME_DIR", runtime.path()}});
    }
    EXPECT_EQ(answers.value("trusted", true), false) << c.name;
    EXPECT_EQ(answers.value("inject", ""), std::string(TextInjectionError::accessibilityNotEnabled().what())) << c.name;
    EXPECT_EQ(answers.value("captureEmpty", false), true) << c.name;
    EXPECT_EQ(answers.value("caret", true), false) << c.name;
    EXPECT_EQ(answers.value("frame", true), false) << c.name;
    EXPECT_EQ(answers.value("menu", true), false) << c.name;
    for (const char* timing : {"trustedMs", "injectMs", "captureMs", "caretMs", "frameMs", "menuMs"})
        EXPECT_LT(answers.value(timing, 1e9), answerBoundMs) << c.name << " " << timing;
    std::printf("%s: %s\n", c.name, answers.dump().c_str());
}

INSTANTIATE_TEST_SUITE_P(Desktops, AbsentDesktopTest,
                         ::testing::Values(AbsentDesktopCase{"no display and no session bus", false},
                                           AbsentDesktopCase{"no accessibility bus", true}),
                         [](const auto& info) { return info.index == 0 ? "NoDisplay" : "NoAccessibilityBus"; });

}  // namespace
}  // namespace pelora::testing
