#include "platform/synthkeys/TypingPlan.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace pelora::synthkeys {
namespace {

using Slots = std::vector<std::optional<char32_t>>;

std::string describe(std::u32string_view text) {
    std::string out;
    for (char32_t c : text) out += "U+" + std::to_string(static_cast<unsigned>(c)) + " ";
    return out;
}

// Plays the batches the way the keyboard does and returns what the presses typed.
// Fails the test when a batch changes a slot it has already pressed (the press would
// then be read with the wrong character) or presses a slot holding nothing.
std::u32string play(const std::vector<TypingBatch>& batches, Slots slots) {
    std::u32string typed;
    for (const TypingBatch& batch : batches) {
        std::set<std::size_t> lent;
        for (const auto& lend : batch.lends) {
            EXPECT_LT(lend.slot, slots.size());
            EXPECT_TRUE(lent.insert(lend.slot).second) << "slot lent twice in one batch";
            slots[lend.slot] = lend.codePoint;
        }
        for (std::size_t slot : batch.presses) {
            EXPECT_TRUE(slots.at(slot).has_value());
            typed += slots.at(slot).value_or(U'?');
        }
    }
    return typed;
}

TEST(TypingPlan, TypesEveryCodePointOnceInOrder) {
    struct Case {
        std::u32string text;
        std::size_t slotCount;
        std::size_t batches;
    };
    const Case cases[] = {
        {U"", 4, 0},
        {U"a", 1, 1},
        {U"aaaa", 1, 1},                      // one character, many presses, no new lend
        {U"abab", 2, 1},
        {U"abc", 2, 2},                       // the third character needs a slot of the first batch
        {U"日本語の文字を打つ", 3, 3},
        {U"😀𠮷😀𠮷a", 2, 2},                  // characters beyond the BMP are single code points
        {U"ありがとうございます。ありがとう", 19, 1},
        {U"abcdefghijklmnopqrstuvwxyz0123456789", 19, 2},
    };
    for (const Case& c : cases) {
        Slots slots(c.slotCount);
        const auto batches = planTyping(c.text, slots);
        SCOPED_TRACE(describe(c.text) + "slots " + std::to_string(c.slotCount));
        EXPECT_EQ(batches.size(), c.batches);
        std::size_t presses = 0;
        for (const auto& batch : batches) {
            std::set<std::size_t> used(batch.presses.begin(), batch.presses.end());
            EXPECT_LE(used.size(), c.slotCount);
            presses += batch.presses.size();
        }
        EXPECT_EQ(presses, c.text.size());
        EXPECT_EQ(play(batches, Slots(c.slotCount)), c.text);
    }
}

TEST(TypingPlan, LongMixedTextOverFewSlotsStillTypesExactly) {
    std::u32string text;
    const std::u32string pool = U"漢字かなカナABCabc123😀𠮷、。「」ー・〜";
    for (std::size_t i = 0; i < 1000; ++i) text += pool[(i * 7 + i / 13) % pool.size()];
    for (std::size_t slotCount : {1u, 2u, 5u, 19u, 64u}) {
        Slots slots(slotCount);
        EXPECT_EQ(play(planTyping(text, slots), Slots(slotCount)), text) << slotCount << " slots";
    }
}

TEST(TypingPlan, KeepsWhatSlotsAlreadyHoldAndPrefersEmptySlots) {
    Slots slots(4);
    planTyping(U"ab", slots);
    EXPECT_EQ(slots, (Slots{U'a', U'b', std::nullopt, std::nullopt}));

    // Already lent: nothing to change, so nothing to wait for.
    const auto again = planTyping(U"baab", slots);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_TRUE(again[0].lends.empty());
    EXPECT_EQ(again[0].presses, (std::vector<std::size_t>{1, 0, 0, 1}));

    // New characters go to the empty slots before they displace lent ones.
    const auto next = planTyping(U"cd", slots);
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0].lends, (std::vector<TypingBatch::Lend>{{2, U'c'}, {3, U'd'}}));

    // Only then are characters the batch does not need replaced.
    const auto full = planTyping(U"ae", slots);
    ASSERT_EQ(full.size(), 1u);
    EXPECT_EQ(full[0].lends, (std::vector<TypingBatch::Lend>{{1, U'e'}}));
    EXPECT_EQ(slots, (Slots{U'a', U'e', U'c', U'd'}));
}

TEST(TypingPlan, NoSlotsPlansNothing) {
    Slots none;
    EXPECT_TRUE(planTyping(U"abc", none).empty());
}

}  // namespace
}  // namespace pelora::synthkeys
