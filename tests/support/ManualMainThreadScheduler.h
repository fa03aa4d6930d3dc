#pragma once
#include "PeloraVoiceApp/MainThreadScheduler.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>

// A scheduler on a manual clock for tests of the desktop logic. Nothing runs until the test
// calls runPosted() or advance(); advance() runs every item due on the way, in time order
// (ties in the order they were scheduled), with now() set to each item's due time.
class ManualMainThreadScheduler final : public MainThreadScheduler {
public:
    ManualMainThreadScheduler();
    ~ManualMainThreadScheduler() override;

    void post(std::function<void()> work) override;
    Task postAfter(Duration delay, std::function<void()> work) override;
    Task repeatEvery(Duration interval, std::function<void()> work) override;
    Duration now() const override { return now_; }

    // Runs posted work (including work posted meanwhile) until none is left.
    void runPosted();
    // Moves the clock forward, running posted work and every timer that falls due.
    void advance(Duration by);
    // Timers that are still pending (a hidden overlay, say, must leave none).
    std::size_t pendingTimerCount() const;

private:
    struct Entry {
        Duration interval;
        bool repeating;
        std::shared_ptr<std::function<void()>> work;
    };
    using Key = std::pair<Duration, std::uint64_t>;  // due time, scheduling order

    Task schedule(Duration interval, bool repeating, std::function<void()> work);

    Duration now_;
    std::uint64_t nextSequence_ = 0;
    std::map<Key, Entry> timers_;
    std::deque<std::function<void()>> posted_;
    std::shared_ptr<bool> alive_;
};
