#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "engine/recognition/EngineMode.h"

namespace pelora::cli {

inline constexpr const char* kUsageLine =
    "Usage: pelora-voice-cli [--mode hybrid|eg2|ja] [--polish] <audio-or-video-file>";

struct ParsedArguments {
    bool showUsage = false;
    EngineMode mode = EngineMode::hybridJaEn;
    bool polish = false;
    std::string inputPath;
};

// `arguments` includes the program name as its first entry.
ParsedArguments parseArguments(const std::vector<std::string>& arguments);

// The whole program: returns the exit status.
int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace pelora::cli
