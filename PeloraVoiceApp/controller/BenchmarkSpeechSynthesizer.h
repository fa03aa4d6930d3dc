#pragma once

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace pelora {

// Speaks a benchmark sample into a WAV file with the desktop's speech synthesiser
// (espeak-ng), in a folder only this user can write to. Blocking; any thread.
class BenchmarkSpeechSynthesizer {
public:
    struct Tool {
        std::filesystem::path program = "/usr/bin/espeak-ng";
        // A synthesiser still running after this is killed and reaped.
        std::chrono::milliseconds timeLimit{60000};
    };

    // The failure's what() is a Japanese description that names the tool or the folder.
    struct Error : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    // $XDG_RUNTIME_DIR/PeloraVoice2, else "PeloraVoice2-<uid>" under $TMPDIR or /tmp: made
    // with mode 0700 when missing; an existing one must be a real folder of this user (a
    // looser mode of the user's own folder is tightened). Throws Error otherwise.
    static std::filesystem::path privateSampleFolder();

    // Removes whatever lies at `output` (a symlink itself, never its target), then runs the
    // tool with "-v", `voice`, "-w", `output` and `text`. Throws Error when the tool cannot
    // start, exits other than with 0, is killed, or outlives its time limit.
    static void speak(const Tool& tool, const std::string& voice, const std::filesystem::path& output,
                      const std::string& text);

    BenchmarkSpeechSynthesizer() = delete;
};

}  // namespace pelora
