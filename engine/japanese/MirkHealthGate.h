#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>

namespace pelora {

// Circuit breaker in front of the decision service: after two failed calls in a row it
// refuses calls until 30 seconds after the latest failure, then lets them through again
// with the count started afresh. A success closes it at once. Operations run one at a
// time (the check and the reset inside canAttempt() happen together).
class MirkHealthGate {
public:
    using Clock = std::chrono::steady_clock;
    // The monotonic clock the gate reads; tests pass their own.
    using Now = std::function<Clock::time_point()>;

    static constexpr int failuresToOpen = 2;
    static constexpr Clock::duration openPeriod = std::chrono::seconds(30);

    explicit MirkHealthGate(Now now = Clock::now);

    // The process-wide gate, created on first use.
    static MirkHealthGate& shared();

    bool canAttempt();
    void recordSuccess();
    void recordFailure();

    int consecutiveFailures() const;
    std::optional<Clock::time_point> openUntil() const;

private:
    mutable std::mutex mutex_;
    Now now_;
    int consecutiveFailures_ = 0;
    std::optional<Clock::time_point> openUntil_;
};

}  // namespace pelora
