#pragma once
#include "PeloraVoiceApp/MainThreadScheduler.h"

#include <QObject>

// The scheduler over Qt's event loop: posts are queued to an object living on the main
// thread, delays and repeats are QTimers. Created and destroyed on the main thread; every
// pending item dies with it.
class QtMainThreadScheduler final : public MainThreadScheduler {
public:
    QtMainThreadScheduler();
    ~QtMainThreadScheduler() override;

    void post(std::function<void()> work) override;
    Task postAfter(Duration delay, std::function<void()> work) override;
    Task repeatEvery(Duration interval, std::function<void()> work) override;
    Duration now() const override;

    // The process-wide instance on the application's main thread.
    static QtMainThreadScheduler& shared();

private:
    Task start(Duration interval, bool repeating, std::function<void()> work);

    QObject context_;
};
