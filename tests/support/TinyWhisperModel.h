#pragma once

#include <cstdint>
#include <filesystem>

namespace pelora::testing {

// Writes a whisper recogniser model in the ggml file format with tiny random weights:
// one encoder and one decoder layer of width 64, the full multilingual vocabulary and
// F16 weight matrices and convolution kernels. It loads and runs like a real model and
// recognises nothing; its text is noise. About 7 MB, written in well under a second.
//
// The vocabulary mixes whole Japanese characters, ASCII words with a leading space,
// lone spaces and loose UTF-8 bytes (lead bytes, continuation bytes), so the recogniser's
// output exercises the joining of split characters.
void writeTinyWhisperModel(const std::filesystem::path& file, std::uint32_t seed = 7);

}  // namespace pelora::testing
