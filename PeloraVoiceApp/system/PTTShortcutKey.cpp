#include "PeloraVoiceApp/system/PTTShortcutKey.h"

namespace pelora::ptt_shortcut_key {

namespace {

struct Row {
    PTTShortcutKey key;
    std::string_view raw;
    std::string_view displayName;
    std::string_view shortBadge;
    std::uint16_t keyCode;
    std::uint64_t requiredFlag;
    std::optional<std::string_view> xkbKeyName;
};

const Row& row(PTTShortcutKey key) {
    static const std::array<Row, 5> rows{{
        {PTTShortcutKey::rightOption, "right_option", "右 Option (⌥ Right)", "右⌥", 61, 0x80000, "RALT"},
        {PTTShortcutKey::fnKey, "fn_key", "Fn (🌐 地球儀キー)", "Fn", 63, 0x800000, std::nullopt},
        {PTTShortcutKey::rightCommand, "right_command", "右 Command (⌘ Right)", "右⌘", 54, 0x100000, "RWIN"},
        {PTTShortcutKey::leftOption, "left_option", "左 Option (⌥ Left)", "左⌥", 58, 0x80000, "LALT"},
        {PTTShortcutKey::rightControl, "right_control", "右 Control (⌃ Right)", "右⌃", 62, 0x40000, "RCTL"},
    }};
    return rows[static_cast<std::size_t>(key)];
}

}  // namespace

std::string_view rawValue(PTTShortcutKey key) { return row(key).raw; }
std::string_view displayName(PTTShortcutKey key) { return row(key).displayName; }
std::string_view shortBadge(PTTShortcutKey key) { return row(key).shortBadge; }
std::uint16_t keyCode(PTTShortcutKey key) { return row(key).keyCode; }
std::uint64_t requiredFlag(PTTShortcutKey key) { return row(key).requiredFlag; }
std::optional<std::string_view> xkbKeyName(PTTShortcutKey key) { return row(key).xkbKeyName; }

std::optional<PTTShortcutKey> fromRawValue(std::string_view raw) {
    for (PTTShortcutKey key : allCases) {
        if (rawValue(key) == raw) return key;
    }
    return std::nullopt;
}

}  // namespace pelora::ptt_shortcut_key
