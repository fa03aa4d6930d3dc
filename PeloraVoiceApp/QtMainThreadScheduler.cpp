#include "PeloraVoiceApp/QtMainThreadScheduler.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <algorithm>

QtMainThreadScheduler::QtMainThreadScheduler() {
    if (auto* app = QCoreApplication::instance())
        context_.moveToThread(app->thread());
}

QtMainThreadScheduler::~QtMainThreadScheduler() = default;

QtMainThreadScheduler& QtMainThreadScheduler::shared() {
    static QtMainThreadScheduler instance;
    return instance;
}

void QtMainThreadScheduler::post(std::function<void()> work) {
    QMetaObject::invokeMethod(&context_, std::move(work), Qt::QueuedConnection);
}

MainThreadScheduler::Task QtMainThreadScheduler::postAfter(Duration delay, std::function<void()> work) {
    return start(delay, false, std::move(work));
}

MainThreadScheduler::Task QtMainThreadScheduler::repeatEvery(Duration interval, std::function<void()> work) {
    return start(interval, true, std::move(work));
}

MainThreadScheduler::Duration QtMainThreadScheduler::now() const {
    return std::chrono::duration_cast<Duration>(std::chrono::steady_clock::now().time_since_epoch());
}

MainThreadScheduler::Task QtMainThreadScheduler::start(Duration interval, bool repeating,
                                                       std::function<void()> work) {
    auto* timer = new QTimer(&context_);
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(std::max(interval, Duration::zero()));
    timer->setInterval(ms);
    timer->setSingleShot(!repeating);
    // Short waits (key polls) must not drift by the coarse timer's 5 % slack.
    timer->setTimerType(ms < std::chrono::seconds(1) ? Qt::PreciseTimer : Qt::CoarseTimer);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, repeating, work = std::move(work)] {
        if (!repeating)
            timer->deleteLater();
        work();
    });
    timer->start();
    QPointer<QTimer> guard(timer);
    return Task([guard] {
        // deleteLater: a task may be cancelled from inside its own work.
        if (guard) {
            guard->stop();
            guard->deleteLater();
        }
    });
}
