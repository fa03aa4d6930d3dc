#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace pelora {

// The four choices of the global reinsert hot key; stored by raw value.
enum class ReinsertShortcutPreset { optionShiftV, controlShiftP, optionShiftP, commandShiftU };

namespace reinsert_shortcut_preset {

inline constexpr std::array<ReinsertShortcutPreset, 4> allCases{
    ReinsertShortcutPreset::optionShiftV, ReinsertShortcutPreset::controlShiftP, ReinsertShortcutPreset::optionShiftP,
    ReinsertShortcutPreset::commandShiftU};

// X11 modifier bits as the core protocol numbers them (ShiftMask, ControlMask, Mod1Mask,
// Mod4Mask): Option is Alt on Mod1, Command is Super on Mod4.
inline constexpr std::uint32_t x11ShiftMask = 1u << 0;
inline constexpr std::uint32_t x11ControlMask = 1u << 2;
inline constexpr std::uint32_t x11Mod1Mask = 1u << 3;
inline constexpr std::uint32_t x11Mod4Mask = 1u << 6;

std::string_view rawValue(ReinsertShortcutPreset preset);
inline std::string_view id(ReinsertShortcutPreset preset) { return rawValue(preset); }
std::string_view displayName(ReinsertShortcutPreset preset);
std::string_view badgeLabel(ReinsertShortcutPreset preset);
inline std::string_view badgeText(ReinsertShortcutPreset preset) { return badgeLabel(preset); }
// One one-character string per key cap, modifiers first.
std::array<std::string_view, 3> keycapTokens(ReinsertShortcutPreset preset);

// The numbers of the shortcut as the settings and the shortcuts page carry them: the
// ANSI virtual key code (9 = V, 35 = P, 32 = U), the device-independent event modifier
// mask (option 0x80000, control 0x40000, command 0x100000, shift 0x20000) and the hot-key
// modifier mask (option 0x800, control 0x1000, command 0x100, shift 0x200).
std::uint16_t keyCode(ReinsertShortcutPreset preset);
std::uint64_t modifierFlags(ReinsertShortcutPreset preset);
std::uint32_t carbonModifiers(ReinsertShortcutPreset preset);

// What the X11 hot-key monitor grabs: the key's keysym (lower-case letter) and the
// modifier state mask.
std::uint32_t x11Keysym(ReinsertShortcutPreset preset);
std::uint32_t x11ModifierMask(ReinsertShortcutPreset preset);

// Exact, case-sensitive match; an unknown raw value gives no preset.
std::optional<ReinsertShortcutPreset> fromRawValue(std::string_view raw);

}  // namespace reinsert_shortcut_preset

}  // namespace pelora
