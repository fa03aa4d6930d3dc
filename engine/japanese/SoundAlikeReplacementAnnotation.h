#pragma once

#include <string>

namespace pelora {

// One replacement made by the sound-alike term corrector.
struct SoundAlikeReplacementAnnotation {
    std::string original;     // the span as it stood in the text
    std::string replacement;  // the candidate's canonical surface written in its place
    std::string source;       // the candidate's source label
    double distance = 0;      // 0 for an exact match, else the weighted distance that chose it

    friend bool operator==(const SoundAlikeReplacementAnnotation&, const SoundAlikeReplacementAnnotation&) = default;
};

}  // namespace pelora
