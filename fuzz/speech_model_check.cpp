// The speech-model check on arbitrary bytes. Contract: a verdict, never an exception;
// a file it passes has the ggml magic.

#include <cstdlib>
#include <span>

#include "platform/speech/SpeechModelCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto result = pelora::speech::SpeechModelCheck::checkBytes(std::span(data, size));
    if (result && size < 4) std::abort();
    if (!result && result.fault.empty()) std::abort();
    return 0;
}
