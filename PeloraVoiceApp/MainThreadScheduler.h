#pragma once
#include <chrono>
#include <functional>
#include <memory>
#include <utility>

// Work run later on the main thread: every timer of the desktop side (auto-hide, key waits,
// polls) goes through this, so the logic can run on a manual clock in tests.
class MainThreadScheduler {
public:
    using Duration = std::chrono::nanoseconds;

    // A pending delayed or repeating work item. Destroying or reassigning the handle cancels
    // it, so a timer can never outlive the object that owns it; a cancelled item never runs.
    class Task {
    public:
        Task() = default;
        explicit Task(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
        Task(const Task&) = delete;
        Task& operator=(const Task&) = delete;
        Task(Task&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
        Task& operator=(Task&& other) noexcept {
            if (this != &other) {
                cancel();
                cancel_ = std::exchange(other.cancel_, nullptr);
            }
            return *this;
        }
        ~Task() { cancel(); }

        void cancel() {
            if (auto cancel = std::exchange(cancel_, nullptr))
                cancel();
        }
        // True until cancelled (a one-shot item that already ran stays "held" but does nothing).
        bool isHeld() const { return static_cast<bool>(cancel_); }

    private:
        std::function<void()> cancel_;
    };

    virtual ~MainThreadScheduler() = default;

    // Any thread: runs `work` on the main thread soon, in posting order.
    virtual void post(std::function<void()> work) = 0;
    // Main thread: runs `work` once after `delay`, unless the task is cancelled first.
    [[nodiscard]] virtual Task postAfter(Duration delay, std::function<void()> work) = 0;
    // Main thread: runs `work` every `interval` until the task is cancelled.
    [[nodiscard]] virtual Task repeatEvery(Duration interval, std::function<void()> work) = 0;
    // Monotonic time since an arbitrary fixed point (system uptime in the real scheduler).
    virtual Duration now() const = 0;
};
