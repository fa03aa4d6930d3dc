#include "platform/synthkeys/Keysyms.h"

#include <gtest/gtest.h>

namespace pelora::synthkeys {
namespace {

TEST(Keysyms, EachCodePointHasTheKeysymClientsTranslateBack) {
    struct Case {
        char32_t codePoint;
        std::uint32_t keysym;
    };
    const Case cases[] = {
        {U' ', 0x20},          {U'a', 0x61},          {U'~', 0x7e},
        {U'\u00a0', 0xa0},     {U'é', 0xe9},          {U'ÿ', 0xff},
        {U'\u0080', 0x1000080}, {U'\u0100', 0x1000100}, {U'あ', 0x1003042},
        {U'漢', 0x1006f22},    {U'😀', 0x101f600},    {U'𠮷', 0x1020bb7},
        {U'\U0010ffff', 0x110ffff},
        {U'\t', 0xff09},       {U'\r', 0xff0d},       {U'\b', 0xff08},
        {U'\x1b', 0xff1b},     {U'\x7f', 0xffff},     {U'\n', 0xff0a},
        {char32_t{0xd83d}, 0x100fffd},                 // a lone surrogate is no character
        {char32_t{0x110000}, 0x100fffd},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(keysymForCodePoint(c.codePoint), c.keysym) << std::hex << static_cast<unsigned>(c.codePoint);
    }
}

}  // namespace
}  // namespace pelora::synthkeys
