#include "tests/support/ManualMainThreadScheduler.h"

#include <algorithm>
#include <stdexcept>

ManualMainThreadScheduler::ManualMainThreadScheduler()
    : now_(std::chrono::seconds(1000)), alive_(std::make_shared<bool>(true)) {}

ManualMainThreadScheduler::~ManualMainThreadScheduler() { *alive_ = false; }

void ManualMainThreadScheduler::post(std::function<void()> work) { posted_.push_back(std::move(work)); }

MainThreadScheduler::Task ManualMainThreadScheduler::postAfter(Duration delay, std::function<void()> work) {
    return schedule(delay, false, std::move(work));
}

MainThreadScheduler::Task ManualMainThreadScheduler::repeatEvery(Duration interval, std::function<void()> work) {
    if (interval <= Duration::zero())
        throw std::invalid_argument("repeatEvery needs a positive interval");
    return schedule(interval, true, std::move(work));
}

MainThreadScheduler::Task ManualMainThreadScheduler::schedule(Duration interval, bool repeating,
                                                              std::function<void()> work) {
    const Key key{now_ + std::max(interval, Duration::zero()), nextSequence_++};
    const std::uint64_t id = key.second;
    timers_.emplace(key, Entry{interval, repeating, std::make_shared<std::function<void()>>(std::move(work))});
    std::weak_ptr<bool> alive = alive_;
    return Task([this, alive, id] {
        if (alive.expired())
            return;
        for (auto it = timers_.begin(); it != timers_.end(); ++it) {
            if (it->first.second == id) {
                timers_.erase(it);
                return;
            }
        }
    });
}

void ManualMainThreadScheduler::runPosted() {
    while (!posted_.empty()) {
        auto work = std::move(posted_.front());
        posted_.pop_front();
        work();
    }
}

void ManualMainThreadScheduler::advance(Duration by) {
    const Duration target = now_ + by;
    runPosted();
    while (!timers_.empty() && timers_.begin()->first.first <= target) {
        auto node = timers_.extract(timers_.begin());
        now_ = node.key().first;
        Entry entry = std::move(node.mapped());
        if (entry.repeating) {
            // Re-armed under the same id, so the task's handle still cancels it.
            timers_.emplace(Key{now_ + entry.interval, node.key().second}, entry);
        }
        (*entry.work)();
        runPosted();
    }
    now_ = target;
}

std::size_t ManualMainThreadScheduler::pendingTimerCount() const { return timers_.size(); }
