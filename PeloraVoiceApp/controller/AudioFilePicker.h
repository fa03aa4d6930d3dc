#pragma once

#include <filesystem>
#include <optional>

namespace pelora {

// Asks the user for one audio or video file. Main thread only; modal.
class AudioFilePicker {
public:
    virtual ~AudioFilePicker() = default;
    // The chosen file, or none when the user cancelled.
    virtual std::optional<std::filesystem::path> pickAudioOrVideoFile() = 0;
};

}  // namespace pelora
