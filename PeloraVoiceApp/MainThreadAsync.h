#pragma once

#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "PeloraVoiceApp/MainThreadScheduler.h"

// Coroutines on the main thread: a wait is a scheduler timer, blocking work goes to a
// worker thread and the coroutine resumes on the main thread when it is done, so a
// sequence of steps with pauses never blocks the main loop. On a manual scheduler the
// same code runs in virtual time.
namespace mainthread {

// A lazily started coroutine returning T, awaited by another coroutine.
template <class T>
class Async {
public:
    struct promise_type {
        std::optional<T> value;
        std::exception_ptr error;
        std::coroutine_handle<> continuation;

        Async get_return_object() { return Async(std::coroutine_handle<promise_type>::from_promise(*this)); }
        std::suspend_always initial_suspend() noexcept { return {}; }
        struct Final {
            bool await_ready() noexcept { return false; }
            std::coroutine_handle<> await_suspend(std::coroutine_handle<promise_type> h) noexcept {
                auto next = h.promise().continuation;
                return next ? next : std::noop_coroutine();
            }
            void await_resume() noexcept {}
        };
        Final final_suspend() noexcept { return {}; }
        void return_value(T v) { value = std::move(v); }
        void unhandled_exception() { error = std::current_exception(); }
    };

    explicit Async(std::coroutine_handle<promise_type> h) : handle_(h) {}
    Async(Async&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    Async(const Async&) = delete;
    ~Async() {
        if (handle_) handle_.destroy();
    }

    bool await_ready() const noexcept { return false; }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<> awaiting) noexcept {
        handle_.promise().continuation = awaiting;
        return handle_;
    }
    T await_resume() {
        if (handle_.promise().error) std::rethrow_exception(handle_.promise().error);
        return std::move(*handle_.promise().value);
    }

private:
    std::coroutine_handle<promise_type> handle_;
};

namespace detail {
struct Detached {
    struct promise_type {
        Detached get_return_object() { return {}; }
        std::suspend_never initial_suspend() noexcept { return {}; }
        std::suspend_never final_suspend() noexcept { return {}; }
        void return_void() {}
        void unhandled_exception() { std::terminate(); }
    };
};

template <class T>
Detached runDetached(Async<T> task, std::function<void(T)> done) {
    T value = co_await task;
    if (done) done(std::move(value));
}
}  // namespace detail

// Starts `task` now; `done` receives its result on the main thread when it ends.
template <class T>
void start(Async<T> task, std::function<void(T)> done) {
    detail::runDetached<T>(std::move(task), std::move(done));
}

// `co_await sleepFor(scheduler, 40ms)`: resumes on the main thread after the delay.
struct sleepFor {
    MainThreadScheduler& scheduler;
    MainThreadScheduler::Duration delay;
    MainThreadScheduler::Task timer{};

    sleepFor(MainThreadScheduler& s, MainThreadScheduler::Duration d) : scheduler(s), delay(d) {}
    bool await_ready() const noexcept { return delay <= MainThreadScheduler::Duration::zero(); }
    void await_suspend(std::coroutine_handle<> h) {
        timer = scheduler.postAfter(delay, [h] { h.resume(); });
    }
    void await_resume() const noexcept {}
};

// Runs a job off the main thread. The default is a thread of its own per job; tests on
// a manual clock run jobs inline.
using WorkerSpawner = std::function<void(std::function<void()>)>;
inline void spawnThread(std::function<void()> job) { std::thread(std::move(job)).detach(); }

// `co_await onWorker(scheduler, spawner, work)`: runs blocking `work` off the main thread
// and resumes on the main thread with its result; an exception it throws is rethrown
// there.
template <class R>
struct onWorker {
    MainThreadScheduler& scheduler;
    WorkerSpawner spawner;
    std::function<R()> work;
    std::shared_ptr<std::optional<R>> result = std::make_shared<std::optional<R>>();
    std::shared_ptr<std::exception_ptr> error = std::make_shared<std::exception_ptr>();

    onWorker(MainThreadScheduler& s, WorkerSpawner sp, std::function<R()> w)
        : scheduler(s), spawner(std::move(sp)), work(std::move(w)) {}
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> h) {
        spawner([h, work = work, result = result, error = error, scheduler = &scheduler] {
            try {
                result->emplace(work());
            } catch (...) {
                *error = std::current_exception();
            }
            scheduler->post([h] { h.resume(); });
        });
    }
    R await_resume() {
        if (*error) std::rethrow_exception(*error);
        return std::move(**result);
    }
};

}  // namespace mainthread
