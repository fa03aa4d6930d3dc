#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/PeloraVoiceApp/system/orchestrator/OrchestratorDesktop.h"
#include "tests/support/TargetApplication.h"

using namespace orchestrator;
using pelora::testing::TargetApplication;
using pelora::testing::TempDir;

// The Qt target keeps its own name, which no table lists: an application that takes text
// through the accessibility bus. Every case holds a clipboard owned by xclip, which that
// route never touches: it is still the owner, with the same bytes, afterwards.

TEST(AccessibilityRouteDesktopTest, InsertsAtTheCaretThroughTheAccessibilityBus) {
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        std::string inserted;
        const char* field;
        std::string expected;
    };
    const Case cases[] = {
        {"caret inside a line field", {"--line", "前後", "--cursor", "1"}, "中", "line", "前中後"},
        {"selection replaced", {"--line", "前選択後", "--select", "1:3"}, "中", "line", "前中後"},
        {"after a character beyond the BMP", {"--line", "𠮷後", "--cursor", "2"}, "中", "line", "𠮷中後"},
        // The rich field keeps its bold word bold around the insertion.
        {"rich text field", {"--focus", "rich", "--cursor", "5"}, "中", "rich", "plain中 bold tail"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Delivery delivery;
        auto owner = xclipOwn(dir, "UTF8_STRING", "以前のクリップボード");
        ASSERT_TRUE(clipboardHolds("UTF8_STRING", "以前のクリップボード"));
        auto app = TargetApplication::qt({c.arguments});
        app.activate();
        const Snapshot target = delivery.frontSnapshot(app.pid());
        EXPECT_EQ(delivery.insert(c.inserted, target, true), Outcome::injectedViaAX(target.displayLabel()));
        EXPECT_TRUE(app.waitForField(c.field, c.expected)) << app.state().dump();
        if (std::string(c.field) == "rich") {
            EXPECT_TRUE(app.waitForState([](const nlohmann::json& state) {
                return state.value("bold", nlohmann::json::array()) == nlohmann::json::array({"bold"});
            })) << app.state().dump();
        }
        EXPECT_TRUE(owner->running()) << "the clipboard changed owner";
        EXPECT_EQ(xclipRead("UTF8_STRING"), "以前のクリップボード");
    }
}

// Text inserted through the accessibility bus, then corrected in place the same way:
// nothing is selected afterwards and the clipboard keeps its owner (the keyboard
// correction would have pasted, except for a deleted tail, where it presses BackSpace).
TEST(AccessibilityRouteDesktopTest, CorrectsInsertedTextInPlaceThroughTheAccessibilityBus) {
    struct Case {
        std::string before, inserted, corrected, after;
    };
    const Case cases[] = {
        {"", "思考錯誤です", "試行錯誤です", ""},
        {"前置き。", "今日は雨でした", "今日は飴でした", ""},
        {"", "了解😀です", "了解😃です", ""},
        {"", "はいはい", "はい", ""},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.inserted + " -> " + c.corrected);
        Delivery delivery;
        auto owner = xclipOwn(dir, "UTF8_STRING", "以前のクリップボード");
        ASSERT_TRUE(clipboardHolds("UTF8_STRING", "以前のクリップボード"));
        auto app = TargetApplication::qt({{"--line", c.before}});
        app.activate();
        const Snapshot target = delivery.frontSnapshot(app.pid());
        ASSERT_EQ(delivery.insert(c.inserted, target, true), Outcome::injectedViaAX(target.displayLabel()));
        ASSERT_TRUE(app.waitForField("line", c.before + c.inserted)) << app.field("line");
        EXPECT_TRUE(delivery.correct(c.inserted, c.corrected, target, true));
        EXPECT_TRUE(app.waitForField("line", c.before + c.corrected)) << app.field("line");
        EXPECT_EQ(app.field("lineSelection"), "");
        EXPECT_TRUE(owner->running()) << "the clipboard changed owner";
        EXPECT_EQ(xclipRead("UTF8_STRING"), "以前のクリップボード");
    }
}
