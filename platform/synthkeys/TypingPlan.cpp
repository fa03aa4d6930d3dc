#include "platform/synthkeys/TypingPlan.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace pelora::synthkeys {

std::vector<TypingBatch> planTyping(std::u32string_view text, std::vector<std::optional<char32_t>>& slots) {
    std::vector<TypingBatch> batches;
    if (slots.empty()) return batches;

    std::size_t start = 0;
    while (start < text.size()) {
        // The longest run from `start` that needs no more characters than there are slots.
        std::unordered_set<char32_t> needed;
        std::size_t end = start;
        while (end < text.size() && (needed.contains(text[end]) || needed.size() < slots.size())) {
            needed.insert(text[end]);
            ++end;
        }

        std::unordered_map<char32_t, std::size_t> slotOf;
        for (std::size_t slot = 0; slot < slots.size(); ++slot) {
            if (slots[slot] && needed.contains(*slots[slot])) slotOf[*slots[slot]] = slot;
        }
        // Slots free for this batch: empty ones first, then those holding characters it
        // does not need.
        std::vector<std::size_t> free;
        for (std::size_t slot = 0; slot < slots.size(); ++slot) {
            if (!slots[slot]) free.push_back(slot);
        }
        for (std::size_t slot = 0; slot < slots.size(); ++slot) {
            if (slots[slot] && !needed.contains(*slots[slot])) free.push_back(slot);
        }

        TypingBatch batch;
        auto nextFree = free.begin();
        batch.presses.reserve(end - start);
        for (std::size_t i = start; i < end; ++i) {
            const char32_t c = text[i];
            auto found = slotOf.find(c);
            if (found == slotOf.end()) {
                const std::size_t slot = *nextFree++;  // enough by construction of the run
                slots[slot] = c;
                batch.lends.push_back({slot, c});
                found = slotOf.emplace(c, slot).first;
            }
            batch.presses.push_back(found->second);
        }
        batches.push_back(std::move(batch));
        start = end;
    }
    return batches;
}

}  // namespace pelora::synthkeys
