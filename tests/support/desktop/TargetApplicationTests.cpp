#include "tests/support/TargetApplication.h"

#include <gtest/gtest.h>
// After gtest: Xlib defines None, Bool and Status as macros.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <atspi/atspi.h>

#include "tests/support/DesktopTestBed.h"

#include <functional>

namespace pelora::testing {
namespace {

using namespace std::chrono_literals;

// Plain key presses through XTest, for proving the targets take keyboard input; the
// product's own typing is tested with its layer.
void pressKeys(const std::vector<KeySym>& keys, KeySym modifier = NoSymbol) {
    Display* x = XOpenDisplay(nullptr);
    ASSERT_NE(x, nullptr);
    const auto press = [&](KeySym sym, bool down) {
        XTestFakeKeyEvent(x, XKeysymToKeycode(x, sym), down, CurrentTime);
        XSync(x, False);
    };
    if (modifier != NoSymbol) press(modifier, true);
    for (KeySym sym : keys) {
        press(sym, true);
        press(sym, false);
    }
    if (modifier != NoSymbol) press(modifier, false);
    XCloseDisplay(x);
}

std::pair<std::string, std::string> wmClass(unsigned long window) {
    Display* x = XOpenDisplay(nullptr);
    XClassHint hint{};
    std::pair<std::string, std::string> result;
    if (x && XGetClassHint(x, window, &hint)) {
        result = {hint.res_name ? hint.res_name : "", hint.res_class ? hint.res_class : ""};
        XFree(hint.res_name);
        XFree(hint.res_class);
    }
    if (x) XCloseDisplay(x);
    return result;
}

class TargetApplicationTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(insideDesktopTestBed()) << "run this program under pelora-desktop-run"; }
};

TEST_F(TargetApplicationTest, QtTargetStartsWithItsFieldsAndTakesKeys) {
    TargetApplication qt = TargetApplication::qt({.arguments = {"--line", "日本語", "--cursor", "1"}});
    qt.activate();
    const auto s = qt.state();
    EXPECT_EQ(s.value("title", ""), qt.title());
    EXPECT_EQ(s.value("focus", ""), "line");
    EXPECT_EQ(s.value("line", ""), "日本語");
    EXPECT_EQ(s.value("lineCursor", -1), 1);
    EXPECT_EQ(s.value("rich", ""), "plain bold tail");
    EXPECT_EQ(s["bold"], nlohmann::json::array({"bold"}));
    EXPECT_EQ(s.value("readonly", ""), "読み取り専用");

    pressKeys({XK_a, XK_b});
    EXPECT_TRUE(qt.waitForField("line", "日ab本語")) << qt.state().dump();
    pressKeys({XK_c}, XK_Shift_L);
    EXPECT_TRUE(qt.waitForField("line", "日abC本語")) << qt.state().dump();

    // Its final state is printed on exit.
    const std::string printed = qt.close();
    const auto last = nlohmann::json::parse(printed.substr(printed.rfind('{')), nullptr, false);
    EXPECT_EQ(last.value("line", ""), "日abC本語") << printed;
}

TEST_F(TargetApplicationTest, QtTargetChoosesFieldCaretAndSelection) {
    struct Case {
        std::vector<std::string> arguments;
        const char* focus;
        const char* cursorKey;
        int cursor;
        const char* selectionKey;
        const char* selection;
    };
    const Case cases[] = {
        {{"--focus", "rich", "--cursor", "6"}, "rich", "richCursor", 6, "richSelection", ""},
        {{"--focus", "rich", "--select", "6:10"}, "rich", "richCursor", 10, "richSelection", "bold"},
        {{"--line", "abcdef", "--select", "1:3"}, "line", "lineCursor", 3, "lineSelection", "bc"},
        {{"--focus", "readonly"}, "readonly", "lineCursor", 0, "lineSelection", ""},
    };
    for (const auto& c : cases) {
        TargetApplication qt = TargetApplication::qt({.arguments = c.arguments});
        qt.activate();
        const auto s = qt.state();
        EXPECT_EQ(s.value("focus", ""), c.focus) << c.arguments[1];
        EXPECT_EQ(s.value(c.cursorKey, -1), c.cursor) << c.arguments[1];
        EXPECT_EQ(s.value(c.selectionKey, "?"), c.selection) << c.arguments[1];
    }
}

TEST_F(TargetApplicationTest, QtTargetStartedThroughASymlinkCarriesThatWmClass) {
    TargetApplication qt = TargetApplication::qt({.programName = "firefox-esr"});
    EXPECT_EQ(wmClass(qt.window()).first, "firefox-esr");
    TargetApplication plain = TargetApplication::qt();
    EXPECT_EQ(wmClass(plain.window()).first, "pelora-qt-target");
}

TEST_F(TargetApplicationTest, GtkTargetStartsWithItsFieldsAndTakesKeys) {
    TargetApplication gtk = TargetApplication::gtk({.arguments = {"--entry", "𠮷野家", "--cursor", "1"}});
    gtk.activate();
    const auto s = gtk.state();
    EXPECT_EQ(s.value("focus", ""), "entry");
    EXPECT_EQ(s.value("entry", ""), "𠮷野家");
    EXPECT_EQ(s.value("entryCursor", -1), 1);  // code points
    pressKeys({XK_x, XK_y});
    EXPECT_TRUE(gtk.waitForField("entry", "𠮷xy野家")) << gtk.state().dump();
    const std::string printed = gtk.close();
    EXPECT_NE(printed.find("\"entry\": \"𠮷xy野家\""), std::string::npos) << printed;
}

TEST_F(TargetApplicationTest, TerminalHandsEveryByteToTheReader) {
    TargetApplication terminal = TargetApplication::terminal();
    EXPECT_EQ(wmClass(terminal.window()).second, "XTerm");
    terminal.activate();
    pressKeys({XK_h, XK_i, XK_Return});
    EXPECT_TRUE(terminal.waitForReceived("hi\r")) << terminal.received();
}

TEST_F(TargetApplicationTest, ASuspendedTargetResumesWhereItWas) {
    TargetApplication qt = TargetApplication::qt();
    qt.activate();
    qt.suspend();
    pressKeys({XK_q});
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(qt.field("line"), "");
    qt.resume();
    EXPECT_TRUE(qt.waitForField("line", "q"));
}

struct MenuItem {
    std::string name;
    std::string keyBinding;
    bool enabled;
};

// The menu items of the application with process `pid`, found through the accessibility
// bus (bounded walk), as the menu-paste tests will meet them.
std::vector<MenuItem> accessibleMenuItems(pid_t pid) {
    std::vector<MenuItem> items;
    atspi_init();
    AtspiAccessible* desktop = atspi_get_desktop(0);
    const gint apps = atspi_accessible_get_child_count(desktop, nullptr);
    for (gint a = 0; a < apps; ++a) {
        AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, a, nullptr);
        if (!app) continue;
        if (atspi_accessible_get_process_id(app, nullptr) != static_cast<guint>(pid)) {
            g_object_unref(app);
            continue;
        }
        std::vector<AtspiAccessible*> pending{app};
        int visited = 0;
        while (!pending.empty() && visited++ < 2000) {
            AtspiAccessible* node = pending.back();
            pending.pop_back();
            if (atspi_accessible_get_role(node, nullptr) == ATSPI_ROLE_MENU_ITEM) {
                gchar* name = atspi_accessible_get_name(node, nullptr);
                AtspiAction* action = atspi_accessible_get_action_iface(node);
                gchar* binding = action ? atspi_action_get_key_binding(action, 0, nullptr) : nullptr;
                AtspiStateSet* states = atspi_accessible_get_state_set(node);
                items.push_back({name ? name : "", binding ? binding : "",
                                 atspi_state_set_contains(states, ATSPI_STATE_ENABLED) &&
                                     atspi_state_set_contains(states, ATSPI_STATE_SENSITIVE)});
                g_free(name);
                g_free(binding);
                g_object_unref(states);
                if (action) g_object_unref(action);
            }
            const gint count = atspi_accessible_get_child_count(node, nullptr);
            for (gint i = 0; i < count && i < 200; ++i) {
                if (AtspiAccessible* child = atspi_accessible_get_child_at_index(node, i, nullptr)) {
                    pending.push_back(child);
                }
            }
            g_object_unref(node);
        }
        for (AtspiAccessible* node : pending) g_object_unref(node);
    }
    g_object_unref(desktop);
    return items;
}

TEST_F(TargetApplicationTest, EditMenusShowTheirPasteItemsOnTheAccessibilityBus) {
    struct Case {
        const char* toolkit;
        std::function<TargetApplication()> start;
        std::vector<std::string> plainPaste;  // how a Control+V binding is written there
    };
    // GTK 3 writes the accelerator's Control as <Primary> in the third ";" field.
    const Case cases[] = {
        {"Qt", [] { return TargetApplication::qt(); }, {"Ctrl+V"}},
        {"GTK", [] { return TargetApplication::gtk(); }, {";;<Control>v", ";;<Primary>v"}},
    };
    for (const auto& c : cases) {
        TargetApplication app = c.start();
        std::vector<MenuItem> items;
        waitUntil(30s, [&] {
            items = accessibleMenuItems(app.pid());
            return items.size() >= 3;
        });
        int enabledPaste = 0, disabledPaste = 0, modifiedPaste = 0;
        std::string seen;
        for (const auto& item : items) {
            seen += item.name + " [" + item.keyBinding + "] " + (item.enabled ? "on" : "off") + "; ";
            bool plain = false;
            for (const std::string& form : c.plainPaste) {
                plain = plain || item.keyBinding.find(form) != std::string::npos;
            }
            plain = plain && item.keyBinding.find("Shift") == std::string::npos;
            if (item.name == "Paste" && plain) ++(item.enabled ? enabledPaste : disabledPaste);
            if (item.keyBinding.find("Shift") != std::string::npos) ++modifiedPaste;
        }
        EXPECT_EQ(enabledPaste, 1) << c.toolkit << ": " << seen;
        EXPECT_EQ(disabledPaste, 1) << c.toolkit << ": " << seen;
        EXPECT_EQ(modifiedPaste, 1) << c.toolkit << ": " << seen;
    }
}

}  // namespace
}  // namespace pelora::testing
