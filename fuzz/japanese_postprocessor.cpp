// The Japanese post-processor on arbitrary bytes, under every combination of options.
// First two bytes: the options; then a pause count; the rest: the text, valid UTF-8 or
// not. Contract: never fails, and its output is valid UTF-8.

#include <cstdlib>

#include "engine/japanese/JapaneseInputOptions.h"
#include "engine/japanese/JapaneseInputProcessor.h"
#include "fuzz/FuzzInput.h"
#include "platform/text/UnicodeText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelora;
    fuzz::FuzzInput input(data, size);
    const std::uint8_t switches = input.byte();
    const std::uint8_t styles = input.byte();
    JapaneseInputOptions options;
    options.removeFillers = switches & 1;
    options.enableVoiceCommands = switches & 2;
    options.normalizeNumbers = switches & 4;
    options.normalizeAlphanumerics = switches & 8;
    options.autoPunctuate = switches & 16;
    options.spokenToWrittenPolish = switches & 32;
    options.enableHomophoneReranking = switches & 64;
    options.punctuationStyle = punctuation_style::allCases[styles % punctuation_style::allCases.size()];
    options.punctuationDensity = punctuation_density::allCases[(styles / 4) % punctuation_density::allCases.size()];
    const int pauses = input.byte() % 8;

    static const JapaneseInputProcessor processor;
    const CorrectedText out = processor.process(input.rest(), options, pauses);
    if (!text::isValidUTF8(out.first)) std::abort();
    return 0;
}
