#pragma once

#include <string_view>

namespace pelora {

// Plays a named cue sound ("Tink", "Pop", "Basso"). Main thread only.
class CuePlayer {
public:
    virtual ~CuePlayer() = default;
    virtual void play(std::string_view name) = 0;
};

}  // namespace pelora
