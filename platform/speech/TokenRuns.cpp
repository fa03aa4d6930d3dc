#include "platform/speech/TokenRuns.h"

#include <algorithm>

namespace pelora::speech {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the UTF-8 sequence that `lead` starts; 0 for a byte that starts none.
std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The second byte's narrower range for some lead bytes (overlongs, surrogates, > U+10FFFF).
bool secondByteAllowed(unsigned char lead, unsigned char second) {
    switch (lead) {
        case 0xE0: return second >= 0xA0 && second <= 0xBF;
        case 0xED: return second >= 0x80 && second <= 0x9F;
        case 0xF0: return second >= 0x90 && second <= 0xBF;
        case 0xF4: return second >= 0x80 && second <= 0x8F;
        default: return isContinuation(second);
    }
}

// Number of valid bytes of a sequence starting at bytes[i] (1 to 4, complete or cut off
// by the end), or 0 when the byte there starts no valid sequence.
std::size_t validPrefix(std::string_view bytes, std::size_t i, std::size_t* needed) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = sequenceLength(lead);
    *needed = length;
    if (length == 0) return 0;
    std::size_t n = 1;
    while (n < length && i + n < bytes.size()) {
        const auto byte = static_cast<unsigned char>(bytes[i + n]);
        if (n == 1 ? !secondByteAllowed(lead, byte) : !isContinuation(byte)) break;
        ++n;
    }
    return n;
}

// True when the bytes end inside a character that the next token may complete.
bool endsMidCharacter(std::string_view bytes) {
    const std::size_t from = bytes.size() > 3 ? bytes.size() - 3 : 0;
    for (std::size_t i = bytes.size(); i-- > from;) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (isContinuation(byte)) continue;
        std::size_t needed = 0;
        const std::size_t valid = validPrefix(bytes, i, &needed);
        return needed > 1 && valid == bytes.size() - i && valid < needed;
    }
    return false;
}

}  // namespace

std::string validUTF8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t needed = 0;
        const std::size_t valid = validPrefix(bytes, i, &needed);
        if (valid != 0 && valid == needed) {
            out.append(bytes.substr(i, valid));
            i += valid;
        } else {
            // A maximal invalid subpart becomes one replacement character.
            out.append(kReplacement);
            i += std::max<std::size_t>(valid, 1);
        }
    }
    return out;
}

std::vector<TranscriptionRun> runsFromTokens(const std::vector<RecognizedToken>& tokens) {
    std::vector<TranscriptionRun> runs;
    std::string pending;
    float confidence = 1;
    std::optional<AudioTimeRange> time;

    const auto flush = [&] {
        if (!pending.empty()) runs.push_back({validUTF8(pending), confidence, time});
        pending.clear();
        confidence = 1;
        time.reset();
    };

    for (const RecognizedToken& token : tokens) {
        if (token.text.empty()) continue;
        pending += token.text;
        confidence *= token.probability;
        if (token.time) {
            if (!time) {
                time = token.time;
            } else {
                const double end = std::max(time->start + time->duration, token.time->start + token.time->duration);
                time->duration = end - time->start;
            }
        }
        if (!endsMidCharacter(pending)) flush();
    }
    flush();
    return runs;
}

}  // namespace pelora::speech
