#include "engine/japanese/MirkHealthGate.h"

#include <limits>

namespace pelora {

MirkHealthGate::MirkHealthGate(Now now) : now_(std::move(now)) {}

MirkHealthGate& MirkHealthGate::shared() {
    static MirkHealthGate gate;
    return gate;
}

bool MirkHealthGate::canAttempt() {
    std::lock_guard lock(mutex_);
    if (!openUntil_) return true;
    if (now_() < *openUntil_) return false;
    openUntil_.reset();
    consecutiveFailures_ = 0;
    return true;
}

void MirkHealthGate::recordSuccess() {
    std::lock_guard lock(mutex_);
    consecutiveFailures_ = 0;
    openUntil_.reset();
}

void MirkHealthGate::recordFailure() {
    std::lock_guard lock(mutex_);
    if (consecutiveFailures_ < std::numeric_limits<int>::max()) ++consecutiveFailures_;
    if (consecutiveFailures_ >= failuresToOpen) openUntil_ = now_() + openPeriod;
}

int MirkHealthGate::consecutiveFailures() const {
    std::lock_guard lock(mutex_);
    return consecutiveFailures_;
}

std::optional<MirkHealthGate::Clock::time_point> MirkHealthGate::openUntil() const {
    std::lock_guard lock(mutex_);
    return openUntil_;
}

}  // namespace pelora
