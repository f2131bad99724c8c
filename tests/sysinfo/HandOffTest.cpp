#include <gtest/gtest.h>

#include "sysinfo/HandOff.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QObject>
#include <QThread>

#include <atomic>
#include <memory>
#include <thread>

namespace {

// Runs the window's event loop until `Done` holds (at most ten seconds).
template <typename Pred>
bool ServeUntil(Pred Done)
{
    QDeadlineTimer deadline(10000);
    while (!Done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return Done();
}

} // namespace

TEST(HandOff, WorkerWaitsUntilItsCallHasRunOnTheContextsThread)
{
    QObject context;
    THandOff handOff(&context);
    QThread *ranOn = nullptr;
    std::atomic<int> seen{-1};
    int value = 0;
    std::thread worker([&] {
        const bool ran = handOff.Synchronize([&] {
            ranOn = QThread::currentThread();
            value = 42;
        });
        // Read after the hand-off: the call has run by now.
        seen = ran ? value : -2;
        handOff.Finish();
    });
    EXPECT_TRUE(ServeUntil([&] { return seen.load() != -1; }));
    worker.join();
    EXPECT_EQ(seen.load(), 42);
    EXPECT_EQ(ranOn, context.thread());
    EXPECT_TRUE(handOff.Finished());
    // On the context's own thread a call runs at once.
    bool direct = false;
    EXPECT_TRUE(handOff.Synchronize([&] { direct = true; }));
    EXPECT_TRUE(direct);
}

TEST(HandOff, WaitForAWorkersEndRunsTheCallsItHandsOverMeanwhile)
{
    QObject context;
    THandOff handOff(&context);
    int calls = 0;
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i)
            handOff.Synchronize([&] { ++calls; });
        handOff.Finish();
    });
    // No event loop runs: the wait itself serves the worker.
    handOff.WaitEnded([] { return true; });
    worker.join();
    EXPECT_EQ(calls, 3);
    EXPECT_TRUE(handOff.Finished());

    // Inside one of the worker's own calls the worker cannot end: the wait returns at once.
    THandOff inner(&context);
    std::atomic<bool> returned{false};
    std::thread second([&] {
        inner.Synchronize([&] {
            inner.WaitEnded([] { return true; });
            returned = true;
        });
        inner.Finish();
    });
    EXPECT_TRUE(ServeUntil([&] { return inner.Finished(); }));
    second.join();
    EXPECT_TRUE(returned.load());

    // A worker that never started is not waited for.
    THandOff idle(&context);
    idle.WaitEnded([] { return false; });
    EXPECT_FALSE(idle.Finished());
}

TEST(HandOff, ClosingReleasesWaitingWorkersWithoutRunningTheirCalls)
{
    auto context = std::make_unique<QObject>();
    THandOff handOff(context.get());
    std::atomic<int> result{-1};
    bool ran = false;
    std::thread worker([&] { result = handOff.Synchronize([&] { ran = true; }) ? 1 : 0; });
    // The call is posted but the loop does not run: the worker waits until the hand-off closes.
    QThread::msleep(50);
    EXPECT_EQ(result.load(), -1);
    handOff.Close();
    worker.join();
    EXPECT_EQ(result.load(), 0);
    // The context goes with the posted call still queued, and nothing needs draining.
    context.reset();
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
    EXPECT_TRUE(handOff.Closed());
    EXPECT_FALSE(handOff.Synchronize([&] { ran = true; }));
    std::thread late([&] { result = handOff.Synchronize([&] { ran = true; }) ? 1 : 2; });
    late.join();
    EXPECT_EQ(result.load(), 2);
    EXPECT_FALSE(ran);
}
