// Menu paste against the real menus of the Qt and GTK targets: the enabled Paste on
// Control+V alone is pressed; the disabled Paste and the Control+Shift+V item are not.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/injection/AccessibilityTextInjector.h"
#include "tests/engine/injection/desktop/DesktopTargets.h"

namespace pelora::testing {
namespace {

struct MenuCase {
    const char* name;
    Field field;
    std::vector<std::string> arguments;
    bool pressed;
    // The items the target saw triggered, in order.
    std::vector<std::string> triggered;
};

const MenuCase menuCases[] = {
    {"Qt Edit menu", Field::qtLine, {}, true, {"paste"}},
    {"Qt 編集 menu", Field::qtLine, {"--edit-menu", "編集"}, true, {"paste"}},
    {"Qt Paste inside a submenu", Field::qtLine, {"--paste-in-submenu"}, true, {"paste"}},
    {"Qt Paste after many items", Field::qtLine, {"--extra-menu-items", "60"}, true, {"paste"}},
    {"Qt only disabled and modified Paste items", Field::qtLine, {"--no-enabled-paste"}, false, {}},
    {"Qt no menu bar", Field::qtLine, {"--no-menu-bar"}, false, {}},
    {"GTK Edit menu", Field::gtkEntry, {}, true, {"paste"}},
    {"GTK 編集 menu", Field::gtkEntry, {"--edit-menu", "編集"}, true, {"paste"}},
    {"GTK only disabled and modified Paste items", Field::gtkEntry, {"--no-enabled-paste"}, false, {}},
    {"GTK no menu bar", Field::gtkEntry, {"--no-menu-bar"}, false, {}},
};

class MenuPasteTest : public DesktopTargetTest, public ::testing::WithParamInterface<MenuCase> {};

TEST_P(MenuPasteTest, PressesOnlyThePlainControlVItem) {
    const auto& c = GetParam();
    auto target = startWith({.field = c.field, .text = "x", .arguments = c.arguments});
    EXPECT_EQ(AccessibilityTextInjector::triggerMenuBarPaste(target.pid(), std::nullopt), c.pressed) << c.name;
    const auto state = closeAndReadState(target);
    EXPECT_EQ(state.value("triggered", nlohmann::json::array()), nlohmann::json(c.triggered)) << c.name;
}

INSTANTIATE_TEST_SUITE_P(RealMenus, MenuPasteTest, ::testing::ValuesIn(menuCases),
                         [](const auto& info) { return caseName(info.param.field, info.index); });

TEST_F(DesktopTargetTest, MenuPasteWithoutProcessUsesTheActiveWindow) {
    auto target = startWith({.field = Field::qtLine, .text = "x"});
    EXPECT_TRUE(AccessibilityTextInjector::triggerMenuBarPaste(std::nullopt, std::string(" org.example.other ")));
    EXPECT_EQ(closeAndReadState(target).value("triggered", nlohmann::json::array()), nlohmann::json({"paste"}));
}

}  // namespace
}  // namespace pelora::testing
