#pragma once

#include <chrono>

namespace pelora {

// Calendar time, for the time stamps users read (history entries).
class WallClock {
public:
    virtual ~WallClock() = default;
    virtual std::chrono::system_clock::time_point now() const = 0;
};

}  // namespace pelora
