#include "engine/injection/ReinsertShortcutPreset.h"

namespace pelora::reinsert_shortcut_preset {

namespace {

struct Row {
    std::string_view rawValue;
    std::string_view displayName;
    std::string_view badgeLabel;
    std::array<std::string_view, 3> keycapTokens;
    std::uint16_t keyCode;
    std::uint64_t modifierFlags;
    std::uint32_t carbonModifiers;
    std::uint32_t x11Keysym;
    std::uint32_t x11ModifierMask;
};

constexpr std::uint32_t keysymV = 0x76, keysymP = 0x70, keysymU = 0x75;

const Row& row(ReinsertShortcutPreset preset) {
    static const Row rows[] = {
        {"option_shift_v", "⌥⇧V (Option + Shift + V)", "⌥⇧V", {"⌥", "⇧", "V"}, 9, 0xA0000, 0xA00, keysymV,
         x11Mod1Mask | x11ShiftMask},
        {"control_shift_p", "⌃⇧P (Control + Shift + P)", "⌃⇧P", {"⌃", "⇧", "P"}, 35, 0x60000, 0x1200, keysymP,
         x11ControlMask | x11ShiftMask},
        {"option_shift_p", "⌥⇧P (Option + Shift + P)", "⌥⇧P", {"⌥", "⇧", "P"}, 35, 0xA0000, 0xA00, keysymP,
         x11Mod1Mask | x11ShiftMask},
        {"command_shift_u", "⌘⇧U (Command + Shift + U)", "⌘⇧U", {"⌘", "⇧", "U"}, 32, 0x120000, 0x300, keysymU,
         x11Mod4Mask | x11ShiftMask},
    };
    return rows[static_cast<int>(preset)];
}

}  // namespace

std::string_view rawValue(ReinsertShortcutPreset preset) { return row(preset).rawValue; }
std::string_view displayName(ReinsertShortcutPreset preset) { return row(preset).displayName; }
std::string_view badgeLabel(ReinsertShortcutPreset preset) { return row(preset).badgeLabel; }
std::array<std::string_view, 3> keycapTokens(ReinsertShortcutPreset preset) { return row(preset).keycapTokens; }
std::uint16_t keyCode(ReinsertShortcutPreset preset) { return row(preset).keyCode; }
std::uint64_t modifierFlags(ReinsertShortcutPreset preset) { return row(preset).modifierFlags; }
std::uint32_t carbonModifiers(ReinsertShortcutPreset preset) { return row(preset).carbonModifiers; }
std::uint32_t x11Keysym(ReinsertShortcutPreset preset) { return row(preset).x11Keysym; }
std::uint32_t x11ModifierMask(ReinsertShortcutPreset preset) { return row(preset).x11ModifierMask; }

std::optional<ReinsertShortcutPreset> fromRawValue(std::string_view raw) {
    for (ReinsertShortcutPreset preset : allCases) {
        if (rawValue(preset) == raw) return preset;
    }
    return std::nullopt;
}

}  // namespace pelora::reinsert_shortcut_preset
