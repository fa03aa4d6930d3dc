#include "engine/injection/ReinsertShortcutPreset.h"

#include <gtest/gtest.h>

namespace pelora {
namespace {

namespace rsp = reinsert_shortcut_preset;

TEST(ReinsertShortcutPreset, EveryCaseCarriesItsNamesAndNumbers) {
    struct Case {
        ReinsertShortcutPreset preset;
        const char* raw;
        const char* displayName;
        const char* badge;
        std::array<const char*, 3> keycaps;
        std::uint16_t keyCode;
        std::uint64_t modifierFlags;
        std::uint32_t carbonModifiers;
        std::uint32_t keysym;
        std::uint32_t x11Mask;  // Shift 0x01, Control 0x04, Mod1 (Alt) 0x08, Mod4 (Super) 0x40
    };
    const Case cases[] = {
        {ReinsertShortcutPreset::optionShiftV, "option_shift_v", "⌥⇧V (Option + Shift + V)", "⌥⇧V", {"⌥", "⇧", "V"},
         9, 0xA0000, 0xA00, 0x76, 0x09},
        {ReinsertShortcutPreset::controlShiftP, "control_shift_p", "⌃⇧P (Control + Shift + P)", "⌃⇧P",
         {"⌃", "⇧", "P"}, 35, 0x60000, 0x1200, 0x70, 0x05},
        {ReinsertShortcutPreset::optionShiftP, "option_shift_p", "⌥⇧P (Option + Shift + P)", "⌥⇧P", {"⌥", "⇧", "P"},
         35, 0xA0000, 0xA00, 0x70, 0x09},
        {ReinsertShortcutPreset::commandShiftU, "command_shift_u", "⌘⇧U (Command + Shift + U)", "⌘⇧U",
         {"⌘", "⇧", "U"}, 32, 0x120000, 0x300, 0x75, 0x41},
    };
    ASSERT_EQ(std::size(cases), rsp::allCases.size());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(rsp::allCases[i], c.preset) << c.raw << ": allCases keeps declaration order";
        EXPECT_EQ(rsp::rawValue(c.preset), c.raw);
        EXPECT_EQ(rsp::id(c.preset), c.raw);
        EXPECT_EQ(rsp::displayName(c.preset), c.displayName) << c.raw;
        EXPECT_EQ(rsp::badgeLabel(c.preset), c.badge) << c.raw;
        EXPECT_EQ(rsp::badgeText(c.preset), c.badge) << c.raw;
        for (std::size_t k = 0; k < 3; ++k) EXPECT_EQ(rsp::keycapTokens(c.preset)[k], c.keycaps[k]) << c.raw;
        EXPECT_EQ(rsp::keyCode(c.preset), c.keyCode) << c.raw;
        EXPECT_EQ(rsp::modifierFlags(c.preset), c.modifierFlags) << c.raw;
        EXPECT_EQ(rsp::carbonModifiers(c.preset), c.carbonModifiers) << c.raw;
        EXPECT_EQ(rsp::x11Keysym(c.preset), c.keysym) << c.raw;
        EXPECT_EQ(rsp::x11ModifierMask(c.preset), c.x11Mask) << c.raw;
        EXPECT_EQ(rsp::fromRawValue(c.raw), c.preset) << c.raw;
    }
}

TEST(ReinsertShortcutPreset, RawValuesAreCaseSensitiveAndExact) {
    for (const char* raw : {"OPTION_SHIFT_V", "Option_shift_v", "option_shift_v ", "", "optionShiftV", "⌥⇧V"}) {
        EXPECT_FALSE(rsp::fromRawValue(raw)) << raw;
    }
}

}  // namespace
}  // namespace pelora
