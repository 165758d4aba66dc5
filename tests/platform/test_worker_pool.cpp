// Jobs beside the event loop's thread: how many at once, what reaches Done,
// and what an abort leaves.

#include "platform/WorkerPool.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

namespace
{

// Processes events until `done` holds; false after five seconds.
template <typename TDone>
bool Spin(TDone done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

TEST(WorkerPool, RunsAtMostItsShareAtOnceAndEveryDoneHere)
{
    TWorkerPool pool(2);
    std::atomic<int> running{0}, most{0};
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::vector<int> done;
    for (int i = 0; i < 5; ++i)
        pool.Run({[&, released] {
                      most = std::max(most.load(), ++running);
                      released.wait();
                      --running;
                  },
                  [&done, i] { done.push_back(i); },
                  {}});
    ASSERT_TRUE(Spin([&] { return running == 2; }));
    EXPECT_EQ(pool.Pending(), 5);
    release.set_value();
    ASSERT_TRUE(Spin([&] { return done.size() == 5; }));
    EXPECT_EQ(most, 2);
    EXPECT_EQ(pool.Pending(), 0);
}

TEST(WorkerPool, ADoneThatRaisesCostsTheOthersNothing)
{
    TWorkerPool pool(3);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> ended{0};
    int done = 0;
    for (int i = 0; i < 3; ++i)
        pool.Run({[released, &ended] {
                      released.wait();
                      ++ended;
                  },
                  [&done] {
                      if (++done == 1)
                          throw std::runtime_error("first");
                  },
                  {}});
    release.set_value();
    // All three end before their events are handled, so they come together.
    while (ended < 3)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_THROW(QCoreApplication::sendPostedEvents(&pool), std::runtime_error);
    EXPECT_EQ(done, 3);
}

TEST(WorkerPool, AbortEndsTheRunningAndDropsTheWaiting)
{
    TWorkerPool pool(1);
    std::promise<void> aborted;
    std::shared_future<void> stop = aborted.get_future().share();
    int done = 0, started = 0;
    pool.Run({[stop] { stop.wait(); }, [&done] { ++done; }, [&aborted] { aborted.set_value(); }});
    pool.Run({[&started] { ++started; }, [&done] { ++done; }, {}});
    pool.AbortAll();
    EXPECT_TRUE(pool.Join(5000));
    QCoreApplication::sendPostedEvents(&pool);
    EXPECT_EQ(done, 0);
    EXPECT_EQ(started, 0);
}

} // namespace
