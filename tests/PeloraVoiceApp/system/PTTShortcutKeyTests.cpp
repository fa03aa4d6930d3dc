#include "PeloraVoiceApp/system/PTTShortcutKey.h"

#include <gtest/gtest.h>

namespace {

using pelora::PTTShortcutKey;
namespace key = pelora::ptt_shortcut_key;

struct Row {
    PTTShortcutKey key;
    const char* raw;
    const char* badge;
    std::uint16_t keyCode;
    std::uint64_t flag;
    std::optional<std::string_view> xkbName;
};

const Row rows[] = {
    {PTTShortcutKey::rightOption, "right_option", "右⌥", 61, 0x80000, "RALT"},
    {PTTShortcutKey::fnKey, "fn_key", "Fn", 63, 0x800000, std::nullopt},
    {PTTShortcutKey::rightCommand, "right_command", "右⌘", 54, 0x100000, "RWIN"},
    {PTTShortcutKey::leftOption, "left_option", "左⌥", 58, 0x80000, "LALT"},
    {PTTShortcutKey::rightControl, "right_control", "右⌃", 62, 0x40000, "RCTL"},
};

TEST(PTTShortcutKey, StoredValuesRoundTripAndMapToPhysicalKeys) {
    ASSERT_EQ(key::allCases.size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const auto& row = rows[i];
        EXPECT_EQ(key::allCases[i], row.key) << row.raw;
        EXPECT_EQ(key::rawValue(row.key), row.raw);
        EXPECT_EQ(key::id(row.key), row.raw);
        EXPECT_EQ(key::fromRawValue(row.raw), row.key) << row.raw;
        EXPECT_EQ(key::shortBadge(row.key), row.badge) << row.raw;
        EXPECT_EQ(key::keyCode(row.key), row.keyCode) << row.raw;
        EXPECT_EQ(key::requiredFlag(row.key), row.flag) << row.raw;
        EXPECT_EQ(key::xkbKeyName(row.key), row.xkbName) << row.raw;
    }
    EXPECT_EQ(key::displayName(PTTShortcutKey::fnKey), "Fn (🌐 地球儀キー)");
}

TEST(PTTShortcutKey, OtherStringsDecodeToNothing) {
    for (const char* raw : {"", "Right_Option", "right_option ", "fn", "rightOption"})
        EXPECT_EQ(key::fromRawValue(raw), std::nullopt) << '"' << raw << '"';
}

}  // namespace
