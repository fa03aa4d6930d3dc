#pragma once

#include "PeloraVoiceApp/controller/WallClock.h"

namespace pelora {

// The system's calendar clock.
class SystemWallClock final : public WallClock {
public:
    std::chrono::system_clock::time_point now() const override { return std::chrono::system_clock::now(); }
};

}  // namespace pelora
