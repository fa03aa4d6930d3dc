#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace pelora::speech {

// Whether bytes are a whole recogniser model in the ggml file format that the
// recogniser library can load without failing inside itself: the header within sane
// bounds for a multilingual or English whisper model, the mel filters and vocabulary
// inside the file, and a tensor table that names every tensor the header implies
// exactly once, with the shape and element type the library expects and its data
// inside the file, ending exactly at the end of the file. The library trusts all of
// this and aborts, overflows or allocates without bound when it is wrong, so a file
// is checked whole before the library sees it.
//
// Reads only headers: a file's tensor data is skipped, not read.
class SpeechModelCheck {
public:
    struct Result {
        bool sound = false;
        std::string fault;          // what is wrong, in English, when not sound
        bool multilingual = false;  // the vocabulary has the language tokens (not an English-only model)
        explicit operator bool() const { return sound; }
    };

    static Result checkBytes(std::span<const std::uint8_t> bytes);
    // A file that cannot be opened or read is not sound either.
    static Result checkFile(const std::filesystem::path& file);

    SpeechModelCheck() = delete;
};

}  // namespace pelora::speech
