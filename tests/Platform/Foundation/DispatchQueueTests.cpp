// Production queues on real threads (this binary also runs under TSan).
// Waits here are on futures of the work itself, never on a fixed sleep.

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/ThreadSignalStack.h"

namespace Foundation {
namespace {

using namespace std::chrono_literals;

template <class T>
T await(std::future<T>& f) {
    EXPECT_EQ(f.wait_for(30s), std::future_status::ready);
    return f.get();
}

TEST(SerialQueue, RunsTasksInOrderOnOneThreadOffMain) {
    auto queue = DispatchQueue::makeSerial("com.tarnwick.test.serial");
    EXPECT_EQ(queue->label(), "com.tarnwick.test.serial");
    std::vector<int> seen;  // touched only on the queue
    std::set<std::thread::id> threads;
    bool sawMain = false;
    for (int i = 0; i < 500; ++i) {
        queue->async([&, i] {
            seen.push_back(i);
            threads.insert(std::this_thread::get_id());
            sawMain = sawMain || DispatchQueue::isMainThread() || !queue->isCurrent();
        });
    }
    std::vector<int> result;
    queue->sync([&] { result = seen; });
    ASSERT_EQ(result.size(), 500u);
    for (int i = 0; i < 500; ++i) EXPECT_EQ(result[static_cast<std::size_t>(i)], i);
    queue->sync([&] {
        EXPECT_EQ(threads.size(), 1u);
        EXPECT_EQ(threads.count(std::this_thread::get_id()), 1u);
        EXPECT_FALSE(sawMain);
    });
    EXPECT_FALSE(queue->isCurrent());
}

TEST(SerialQueue, ProducersOnManyThreadsAreSerialised) {
    auto queue = DispatchQueue::makeSerial("producers");
    int counter = 0;  // not atomic: the queue is the lock (TSan checks it)
    std::vector<std::thread> producers;
    for (int t = 0; t < 4; ++t) {
        producers.emplace_back([&] {
            for (int i = 0; i < 250; ++i) queue->async([&] { ++counter; });
        });
    }
    for (auto& p : producers) p.join();
    int total = 0;
    queue->sync([&] { total = counter; });
    EXPECT_EQ(total, 1000);
}

TEST(SerialQueue, SyncOnItselfRunsInlineAndRethrows) {
    auto queue = DispatchQueue::makeSerial("sync");
    bool inner = false;
    queue->sync([&] {
        queue->sync([&] { inner = queue->isCurrent(); });  // no deadlock
    });
    EXPECT_TRUE(inner);
    EXPECT_THROW(queue->sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
    int after = 0;
    queue->sync([&] { after = 1; });
    EXPECT_EQ(after, 1);
}

TEST(SerialQueue, AfterRunsInDueOrder) {
    auto queue = DispatchQueue::makeSerial("after");
    std::vector<std::string> order;
    std::promise<void> done;
    auto finished = done.get_future();
    const double start = clock().uptime();
    double ranAt = 0;
    queue->after(0.06, [&] {
        order.push_back("late");
        ranAt = clock().uptime() - start;
        done.set_value();
    });
    queue->after(0.03, [&] { order.push_back("early"); });
    queue->after(-1, [&] { order.push_back("now"); });
    await(finished);
    queue->sync([] {});
    EXPECT_EQ(order, (std::vector<std::string>{"now", "early", "late"}));
    EXPECT_GE(ranAt, 0.06);
}

TEST(SerialQueue, DestructionFinishesReadyWorkAndJoins) {
    std::atomic<int> ran{0};
    {
        auto queue = DispatchQueue::makeSerial("short-lived");
        for (int i = 0; i < 100; ++i) queue->async([&] { ++ran; });
        queue->after(60, [&] { ran += 1000; });  // dropped with the queue
    }
    EXPECT_EQ(ran.load(), 100);
}

TEST(SerialQueue, ReleasedFromItsOwnTask) {
    std::promise<void> done;
    auto finished = done.get_future();
    {
        auto queue = DispatchQueue::makeSerial("self-release");
        queue->async([queue, &done]() mutable {
            queue.reset();  // may be the last reference: the queue's thread detaches itself
            done.set_value();
        });
    }
    await(finished);
}

TEST(GlobalQueue, RunsConcurrentlyOffMain) {
    auto global = DispatchQueue::global();
    EXPECT_EQ(global.get(), DispatchQueue::global().get());
    constexpr int kTasks = 200;
    std::atomic<int> ran{0};
    std::atomic<bool> allCurrent{true}, anyMain{false};
    std::promise<void> done;
    auto finished = done.get_future();
    for (int i = 0; i < kTasks; ++i) {
        global->async([&] {
            if (!DispatchQueue::global()->isCurrent()) allCurrent = false;
            if (DispatchQueue::isMainThread()) anyMain = true;
            if (++ran == kTasks) done.set_value();
        });
    }
    await(finished);
    EXPECT_TRUE(allCurrent.load());
    EXPECT_FALSE(anyMain.load());
}

// A stack overflow on a queue's thread can only be reported from an
// alternate signal stack.
TEST(QueueThreads, HaveAnAlternateSignalStack) {
    auto serial = DispatchQueue::makeSerial("com.tarnwick.test.altstack");
    std::promise<bool> serialHas, globalHas;
    auto a = serialHas.get_future(), b = globalHas.get_future();
    serial->async([&] { serialHas.set_value(ThreadSignalStack::active()); });
    DispatchQueue::global()->async([&] { globalHas.set_value(ThreadSignalStack::active()); });
    EXPECT_TRUE(await(a));
    EXPECT_TRUE(await(b));

    // The scope gives one only for its life, and leaves one it found alone.
    std::thread([] {
        const bool before = ThreadSignalStack::active();
        {
            ThreadSignalStack stack;
            EXPECT_TRUE(ThreadSignalStack::active());
            { ThreadSignalStack nested; }
            EXPECT_TRUE(ThreadSignalStack::active());
        }
        EXPECT_EQ(ThreadSignalStack::active(), before);
    }).join();
}

TEST(GlobalQueue, SyncAndAfter) {
    auto global = DispatchQueue::global();
    int value = 0;
    global->sync([&] { value = global->isCurrent() ? 42 : -1; });
    EXPECT_EQ(value, 42);
    std::promise<double> at;
    auto f = at.get_future();
    const double start = clock().uptime();
    global->after(0.02, [&] { at.set_value(clock().uptime() - start); });
    EXPECT_GE(await(f), 0.02);
}

// The main queue is drained by whichever thread runs the main run loop.
TEST(MainQueue, DrainedByRunForOnAThread) {
    auto main = DispatchQueue::main();
    std::vector<int> order;  // touched only on the run loop's thread
    std::atomic<bool> allMain{true};
    std::promise<std::thread::id> loopThread;
    auto loopThreadId = loopThread.get_future();
    for (int i = 0; i < 50; ++i) {
        main->async([&, i] {
            order.push_back(i);
            if (!DispatchQueue::isMainThread() || !DispatchQueue::main()->isCurrent()) allMain = false;
        });
    }
    main->after(0.01, [] { RunLoop::main().stop(); });
    std::thread runner([&] {
        loopThread.set_value(std::this_thread::get_id());
        RunLoop::main().runFor(30);
    });
    runner.join();
    EXPECT_NE(await(loopThreadId), std::this_thread::get_id());
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    EXPECT_TRUE(allMain.load());
    EXPECT_TRUE(DispatchQueue::isMainThread());  // the test's thread is the main thread again
}

TEST(MainQueue, SyncFromAnotherThreadWhileTheLoopRuns) {
    std::atomic<bool> onMain{false};
    std::thread worker([&] {
        EXPECT_FALSE(DispatchQueue::isMainThread());
        DispatchQueue::main()->sync([&] { onMain = DispatchQueue::isMainThread(); });
        runOnMain([] { RunLoop::main().stop(); });
    });
    RunLoop::main().runFor(30);
    worker.join();
    EXPECT_TRUE(onMain.load());
}

TEST(MainQueue, RunForReturnsAfterItsTime) {
    const double start = clock().uptime();
    RunLoop::main().runFor(0.02);
    EXPECT_GE(clock().uptime() - start, 0.02);
}

TEST(ProductionTimer, RepeatsOnTheRunLoopUntilInvalidated) {
    std::vector<double> fired;
    auto timer = Timer::scheduled(0.005, true, [&](Timer& t) {
        fired.push_back(clock().uptime());
        if (fired.size() == 3) {
            t.invalidate();
            RunLoop::main().stop();
        }
    });
    RunLoop::main().runFor(30);
    ASSERT_EQ(fired.size(), 3u);
    EXPECT_LT(fired[0], fired[1]);
    EXPECT_FALSE(timer->isValid());
}

TEST(ProductionTimer, DefaultModeTimerWaitsForTheModeToReturn) {
    RunLoop::main().setCurrentMode(RunLoopMode::EventTracking);
    std::atomic<double> modeBack{0}, firedAt{0};
    auto timer = Timer::scheduled(0.001, false, [&](Timer&) {
        firedAt = clock().uptime();
        RunLoop::main().stop();
    });
    auto common = Timer::scheduled(0.001, false,
                                   [&](Timer&) {
                                       // Fires while tracking; the menu "closes" a little later.
                                       DispatchQueue::main()->after(0.02, [&] {
                                           modeBack = clock().uptime();
                                           RunLoop::main().setCurrentMode(RunLoopMode::Default);
                                       });
                                   },
                                   {RunLoopMode::Default, RunLoopMode::EventTracking});
    RunLoop::main().runFor(30);
    EXPECT_GT(modeBack.load(), 0);
    EXPECT_GE(firedAt.load(), modeBack.load());
    EXPECT_EQ(RunLoop::main().currentMode(), RunLoopMode::Default);
}

TEST(Once, RunsExactlyOnceAcrossThreads) {
    OnceFlag flag;
    std::atomic<int> count{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) threads.emplace_back([&] { once(flag, [&] { ++count; }); });
    for (auto& t : threads) t.join();
    EXPECT_EQ(count.load(), 1);
}

}  // namespace
}  // namespace Foundation
