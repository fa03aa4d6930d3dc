// The audio decoder on arbitrary bytes, saved under each file extension it meets.
// First byte: the extension; the rest: the file. Contract: samples, or
// PeloraVoiceError::audioDecodeFailed; never more than three hours of samples; no
// temporary file left behind.

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "engine/recognition/AudioDecoder.h"
#include "engine/recognition/PeloraVoiceError.h"
#include "fuzz/FuzzInput.h"

namespace {

namespace fs = std::filesystem;

const std::array<const char*, 14> kExtensions = {".wav", ".mp3", ".m4a", ".mp4", ".mov", ".flac", ".ogg",
                                                 ".aiff", ".caf", ".au",  ".webm", ".mkv", ".aac", ".opus"};

// A private folder, also the temporary directory of the decoder, so that its leftovers show.
const fs::path& workFolder() {
    static const fs::path folder = [] {
        std::string pattern = (fs::temp_directory_path() / "pelora-fuzz-audio-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        setenv("TMPDIR", pattern.c_str(), 1);
        std::atexit([] { std::error_code ignored; fs::remove_all(workFolder(), ignored); });
        return fs::path(pattern);
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pelora::fuzz::FuzzInput input(data, size);
    const char* extension = kExtensions[input.byte() % kExtensions.size()];
    const fs::path file = workFolder() / (std::string("input") + extension);
    {
        const std::string_view bytes = input.rest();
        std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    try {
        const std::vector<float> samples = pelora::AudioDecoder::decode16kMono(file, nullptr);
        if (samples.size() > pelora::AudioDecoder::kMaxOutputSamples) std::abort();
    } catch (const pelora::PeloraVoiceError& error) {
        if (error.errorCase() != pelora::PeloraVoiceError::Case::audioDecodeFailed) std::abort();
    }
    fs::remove(file);
    for (const auto& entry : fs::directory_iterator(workFolder())) {
        (void)entry;
        std::abort();  // a temporary file of the decoder outlived the call
    }
    return 0;
}
