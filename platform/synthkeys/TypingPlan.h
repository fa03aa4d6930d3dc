#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace pelora::synthkeys {

// One step of typing over a few spare keycodes ("slots"): first lend some slots new
// characters, then press slots, one press per code point.
struct TypingBatch {
    struct Lend {
        std::size_t slot;
        char32_t codePoint;
        friend bool operator==(const Lend&, const Lend&) = default;
    };
    std::vector<Lend> lends;
    std::vector<std::size_t> presses;
};

// Cuts `text` into batches that each need at most slots.size() distinct characters, in
// text order. A character already lent to a slot keeps it; new characters take slots
// whose character the batch does not need, empty ones first. `slots` holds what each
// slot types now (nothing for an empty one) and is updated to what it types afterwards.
// Empty when `text` is empty or there are no slots.
std::vector<TypingBatch> planTyping(std::u32string_view text, std::vector<std::optional<char32_t>>& slots);

}  // namespace pelora::synthkeys
