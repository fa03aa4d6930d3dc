// SRT times and the timestamp renderings on arbitrary doubles. Contract: never fails;
// every SRT time has the shape "HH:MM:SS,mmm" (hours may grow beyond two digits).

#include <cstdlib>
#include <string>

#include "engine/recognition/TranscriptionResult.h"
#include "fuzz/FuzzInput.h"

namespace {

bool isSRTTime(const std::string& text) {
    // HH... : MM : SS , mmm with at least two hour digits.
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon < 2 || text.size() != colon + 10) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool separator = i == colon || i == colon + 3 || i == colon + 6;
        if (separator ? c != (i == colon + 6 ? ',' : ':') : (c < '0' || c > '9')) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pelora::fuzz::FuzzInput input(data, size);
    pelora::TranscriptionResult result;
    while (!input.empty() && result.words.size() < 64) {
        const double start = input.number();
        const double end = input.number();
        if (!isSRTTime(pelora::srtTimestamp(start)) || !isSRTTime(pelora::srtTimestamp(end))) std::abort();
        result.words.emplace_back(input.byte() % 2 ? "今日は。" : "word.", std::nullopt, start, end, 0.5f, "JA-ANE");
    }
    result.text = "今日は。";
    (void)result.formattedSRT();
    (void)result.formattedTimestamps();
    (void)result.sentenceSegments();
    return 0;
}
