#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace pelora {

// The key the user holds to dictate; stored in the settings by its raw value.
enum class PTTShortcutKey { rightOption, fnKey, rightCommand, leftOption, rightControl };

namespace ptt_shortcut_key {
inline constexpr std::array<PTTShortcutKey, 5> allCases{PTTShortcutKey::rightOption, PTTShortcutKey::fnKey,
                                                        PTTShortcutKey::rightCommand, PTTShortcutKey::leftOption,
                                                        PTTShortcutKey::rightControl};
std::string_view rawValue(PTTShortcutKey key);
inline std::string_view id(PTTShortcutKey key) { return rawValue(key); }
std::string_view displayName(PTTShortcutKey key);
std::string_view shortBadge(PTTShortcutKey key);
// The values the settings and the key tables were written against (the other desktop's
// virtual key code and modifier flag); kept so that nothing read from them changes.
std::uint16_t keyCode(PTTShortcutKey key);
std::uint64_t requiredFlag(PTTShortcutKey key);
// The physical key on X11, by its XKB key name (the same on AltGr layouts). None for the
// Fn key: the keyboard reports it beyond the key codes X11 can carry.
std::optional<std::string_view> xkbKeyName(PTTShortcutKey key);
std::optional<PTTShortcutKey> fromRawValue(std::string_view raw);
}  // namespace ptt_shortcut_key

}  // namespace pelora
