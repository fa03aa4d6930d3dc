#include "PeloraVoiceApp/QtMainThreadScheduler.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;

namespace {

class QtMainThreadSchedulerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "scheduler-tests";
            static char* argv[] = {name, nullptr};
            static QCoreApplication app(argc, argv);
        }
    }

    // Spins the event loop until `done` or a generous limit; returns whether `done` held.
    template <class Predicate> static bool spinUntil(Predicate done, std::chrono::milliseconds limit = 10s) {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < limit.count())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
        return done();
    }
    static void spinFor(std::chrono::milliseconds span) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < span.count())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    QtMainThreadScheduler scheduler;
};

TEST_F(QtMainThreadSchedulerTest, WorkPostedFromAnotherThreadRunsOnTheMainThreadInOrder) {
    std::vector<int> order;
    std::vector<QThread*> threads;
    std::thread worker([&] {
        for (int i = 0; i < 5; ++i)
            scheduler.post([&, i] {
                order.push_back(i);
                threads.push_back(QThread::currentThread());
            });
    });
    worker.join();
    ASSERT_TRUE(spinUntil([&] { return order.size() == 5; }));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    for (QThread* thread : threads)
        EXPECT_EQ(thread, QCoreApplication::instance()->thread());
}

TEST_F(QtMainThreadSchedulerTest, DelayedWorkRunsOnceAndNotBeforeItsDelay) {
    int runs = 0;
    QElapsedTimer clock;
    clock.start();
    qint64 ranAt = -1;
    auto task = scheduler.postAfter(120ms, [&] {
        ++runs;
        ranAt = clock.elapsed();
    });
    ASSERT_TRUE(spinUntil([&] { return runs > 0; }));
    spinFor(300ms);
    EXPECT_EQ(runs, 1);
    EXPECT_GE(ranAt, 115);  // Qt's precise timers round to whole milliseconds
}

TEST_F(QtMainThreadSchedulerTest, CancelledOrDroppedWorkNeverRuns) {
    struct Case {
        const char* name;
        bool dropHandle;
    };
    for (const Case& c : {Case{"cancel()", false}, Case{"handle destroyed", true}}) {
        SCOPED_TRACE(c.name);
        bool ran = false;
        {
            auto task = scheduler.postAfter(50ms, [&] { ran = true; });
            EXPECT_TRUE(task.isHeld());
            if (!c.dropHandle) {
                task.cancel();
                EXPECT_FALSE(task.isHeld());
                spinFor(200ms);
            }
        }
        spinFor(200ms);
        EXPECT_FALSE(ran);
    }
}

TEST_F(QtMainThreadSchedulerTest, ReassigningATaskCancelsTheOldOne) {
    int first = 0, second = 0;
    auto task = scheduler.postAfter(60ms, [&] { ++first; });
    task = scheduler.postAfter(60ms, [&] { ++second; });
    ASSERT_TRUE(spinUntil([&] { return second == 1; }));
    spinFor(150ms);
    EXPECT_EQ(first, 0);
}

TEST_F(QtMainThreadSchedulerTest, RepeatingWorkRunsUntilCancelledFromInside) {
    int ticks = 0;
    MainThreadScheduler::Task task;
    task = scheduler.repeatEvery(15ms, [&] {
        if (++ticks == 4)
            task.cancel();
    });
    ASSERT_TRUE(spinUntil([&] { return ticks >= 4; }));
    spinFor(150ms);
    EXPECT_EQ(ticks, 4);
}

TEST_F(QtMainThreadSchedulerTest, NowIsMonotonic) {
    const auto a = scheduler.now();
    std::this_thread::sleep_for(5ms);
    const auto b = scheduler.now();
    EXPECT_GE(b - a, 5ms);
}

} // namespace
