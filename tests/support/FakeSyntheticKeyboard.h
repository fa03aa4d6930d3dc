#pragma once

#include "platform/synthkeys/SyntheticKeyboard.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pelora::testing {

// A keyboard that records what would have been posted, with the time of each event.
// Events read "release modifiers", "down shift", "up v", "type <text>", "close".
class FakeSyntheticKeyboard : public synthkeys::SyntheticKeyboard {
public:
    struct Event {
        std::string what;
        std::chrono::steady_clock::time_point at;
    };

    bool mayPostAnswer = true;
    // A key that has no keycode: prepare() and post() of it fail.
    std::optional<synthkeys::Key> missingKey;
    // type() succeeds this many times, then fails (the display went away).
    std::optional<int> typeCallsThatSucceed;
    int mayPostCalls = 0;
    int openCalls = 0;

    bool mayPost() override;
    std::unique_ptr<synthkeys::KeySession> open() override;

    std::vector<Event> events() const;
    // Just the names of the events.
    std::vector<std::string> log() const;
    void record(std::string what);

private:
    mutable std::mutex mutex_;
    std::vector<Event> events_;
};

// The name used in the log for a key.
std::string keyName(synthkeys::Key key);

}  // namespace pelora::testing
