// The deterministic test executor: one schedule ordered by due time, then
// order of scheduling; the manual clock; virtual queues; timers by run loop mode.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Foundation/Dispatch.h"

namespace Foundation {
namespace {

constexpr TimeInterval kStart = 1'700'000'000.0;

class TestExecutorTest : public ::testing::Test {
protected:
    void SetUp() override { executor = TestExecutor::install(kStart); }
    void TearDown() override { executor.reset(); }

    // Records "<name>@<seconds since start>" when the task runs.
    Task note(const std::string& name) {
        return [this, name] { log.push_back(name + "@" + std::to_string(clock().now() - kStart).substr(0, 4)); };
    }

    std::unique_ptr<TestExecutor> executor;
    std::vector<std::string> log;
};

TEST_F(TestExecutorTest, NothingRunsBeforeDrain) {
    DispatchQueue::main()->async(note("a"));
    DispatchQueue::global()->async(note("b"));
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(executor->pendingCount(), 2u);
    EXPECT_EQ(executor->drain(), 2u);
    EXPECT_EQ(log, (std::vector<std::string>{"a@0.00", "b@0.00"}));
    EXPECT_EQ(executor->pendingCount(), 0u);
}

struct OrderingCase {
    const char* name;
    // {queue: 'm' main, 'g' global, 's' serial; delay; label}
    std::vector<std::tuple<char, TimeInterval, std::string>> posts;
    TimeInterval advanceBy;
    std::vector<std::string> expected;
};

class ExecutorOrdering : public TestExecutorTest, public ::testing::WithParamInterface<OrderingCase> {};

TEST_P(ExecutorOrdering, RunsByDueTimeThenSchedulingOrder) {
    auto serial = DispatchQueue::makeSerial("test.serial");
    for (const auto& [queue, delay, label] : GetParam().posts) {
        auto target = queue == 'm' ? DispatchQueue::main() : queue == 'g' ? DispatchQueue::global() : serial;
        target->after(delay, note(label));
    }
    executor->advance(GetParam().advanceBy);
    EXPECT_EQ(log, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExecutorOrdering,
    ::testing::Values(OrderingCase{"same_time_keeps_order",
                                   {{'m', 0, "a"}, {'s', 0, "b"}, {'g', 0, "c"}, {'m', 0, "d"}},
                                   0,
                                   {"a@0.00", "b@0.00", "c@0.00", "d@0.00"}},
                      OrderingCase{"earlier_due_first",
                                   {{'m', 2, "late"}, {'s', 1, "mid"}, {'g', 0.5, "early"}},
                                   3,
                                   {"early@0.50", "mid@1.00", "late@2.00"}},
                      OrderingCase{"ties_by_scheduling",
                                   {{'m', 1, "x"}, {'g', 0.5, "y"}, {'s', 1, "z"}, {'m', 0.5, "w"}},
                                   1,
                                   {"y@0.50", "w@0.50", "x@1.00", "z@1.00"}},
                      OrderingCase{"negative_delay_counts_as_zero",
                                   {{'m', 0.1, "later"}, {'m', -5, "now"}},
                                   1,
                                   {"now@0.00", "later@0.10"}},
                      OrderingCase{"not_yet_due_stays", {{'m', 0.25, "in"}, {'m', 5, "out"}}, 1, {"in@0.25"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TestExecutorTest, AdvanceRunsEachItemAtItsOwnTime) {
    std::vector<double> seen;
    for (double delay : {0.3, 0.1, 0.2}) {
        DispatchQueue::main()->after(delay, [&seen] { seen.push_back(clock().uptime()); });
    }
    executor->advance(1.0);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_DOUBLE_EQ(seen[0], 0.1);
    EXPECT_DOUBLE_EQ(seen[1], 0.2);
    EXPECT_DOUBLE_EQ(seen[2], 0.3);
    EXPECT_DOUBLE_EQ(executor->now(), kStart + 1.0);
    EXPECT_DOUBLE_EQ(clock().now(), kStart + 1.0);
}

TEST_F(TestExecutorTest, TaskSeesClockAtItsDueTime) {
    double seenNow = 0;
    DispatchQueue::main()->after(2.5, [&] { seenNow = clock().now(); });
    executor->advance(10);
    EXPECT_EQ(seenNow, kStart + 2.5);
}

TEST_F(TestExecutorTest, TasksScheduledByTasks) {
    auto main = DispatchQueue::main();
    main->async([&] {
        log.push_back("outer");
        main->async([&] { log.push_back("inner-now"); });
        main->after(1, [&] { log.push_back("inner-later@" + std::to_string(clock().now() - kStart).substr(0, 4)); });
    });
    main->async([&] { log.push_back("second"); });
    EXPECT_EQ(executor->drain(), 3u);  // outer, second, inner-now (due now, scheduled after "second")
    EXPECT_EQ(log, (std::vector<std::string>{"outer", "second", "inner-now"}));
    EXPECT_EQ(executor->nextDueIn(), std::optional<TimeInterval>(1.0));
    executor->advance(1);
    EXPECT_EQ(log.back(), "inner-later@1.00");
}

TEST_F(TestExecutorTest, AdvanceRunsWorkScheduledDuringTheAdvance) {
    auto main = DispatchQueue::main();
    int ticks = 0;
    std::function<void()> tick = [&] {
        ++ticks;
        main->after(1, tick);
    };
    main->after(1, tick);
    executor->advance(5.5);
    EXPECT_EQ(ticks, 5);
    EXPECT_DOUBLE_EQ(*executor->nextDueIn(), 0.5);
}

TEST_F(TestExecutorTest, RunNextJumpsToTheNextItem) {
    DispatchQueue::main()->after(7, note("seven"));
    DispatchQueue::main()->after(3, note("three"));
    EXPECT_TRUE(executor->runNext());
    EXPECT_EQ(log, (std::vector<std::string>{"three@3.00"}));
    EXPECT_TRUE(executor->runNext());
    EXPECT_FALSE(executor->runNext());
    EXPECT_EQ(log.back(), "seven@7.00");
    EXPECT_FALSE(executor->nextDueIn().has_value());
}

TEST_F(TestExecutorTest, IsCurrentWhileTheQueuesTaskRuns) {
    auto serial = DispatchQueue::makeSerial("a");
    auto other = DispatchQueue::makeSerial("b");
    EXPECT_TRUE(DispatchQueue::isMainThread());
    EXPECT_TRUE(DispatchQueue::main()->isCurrent());
    EXPECT_FALSE(serial->isCurrent());
    bool serialCurrent = false, otherCurrent = true, mainCurrent = true, mainThread = true;
    serial->async([&] {
        serialCurrent = serial->isCurrent();
        otherCurrent = other->isCurrent();
        mainCurrent = DispatchQueue::main()->isCurrent();
        mainThread = DispatchQueue::isMainThread();
    });
    bool globalCurrent = false;
    DispatchQueue::global()->async([&] { globalCurrent = DispatchQueue::global()->isCurrent(); });
    bool mainInMain = false;
    DispatchQueue::main()->async(
        [&] { mainInMain = DispatchQueue::main()->isCurrent() && DispatchQueue::isMainThread(); });
    executor->drain();
    EXPECT_TRUE(serialCurrent);
    EXPECT_FALSE(otherCurrent);
    EXPECT_FALSE(mainCurrent);
    EXPECT_FALSE(mainThread);
    EXPECT_TRUE(globalCurrent);
    EXPECT_TRUE(mainInMain);
}

TEST_F(TestExecutorTest, SyncRunsInlineAsTheQueue) {
    auto serial = DispatchQueue::makeSerial("sync");
    bool current = false;
    serial->sync([&] { current = serial->isCurrent(); });
    EXPECT_TRUE(current);
    EXPECT_FALSE(serial->isCurrent());
    EXPECT_EQ(executor->pendingCount(), 0u);
    EXPECT_THROW(serial->sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
}

TEST_F(TestExecutorTest, RunOnMainInlineOnMainElsePosted) {
    std::vector<std::string> order;
    runOnMain([&] { order.push_back("inline"); });
    EXPECT_EQ(order, (std::vector<std::string>{"inline"}));
    auto serial = DispatchQueue::makeSerial("bg");
    serial->async([&] {
        runOnMain([&] { order.push_back("from-serial"); });
        order.push_back("serial-done");
    });
    executor->drain();
    EXPECT_EQ(order, (std::vector<std::string>{"inline", "serial-done", "from-serial"}));
}

TEST_F(TestExecutorTest, RunUntilWaitsForWorkPostedFromAnotherThread) {
    std::atomic<bool> done{false};
    std::thread poster([&] {
        for (int i = 0; i < 50; ++i) {
            DispatchQueue::main()->async([&, i] {
                if (i == 49) done = true;
            });
        }
    });
    EXPECT_TRUE(executor->runUntil([&] { return done.load(); }, 30));
    poster.join();
    EXPECT_EQ(executor->now(), kStart);  // the clock did not move
}

TEST_F(TestExecutorTest, RunUntilTimesOutWithoutWork) {
    EXPECT_FALSE(executor->runUntil([] { return false; }, 0.05));
}

TEST_F(TestExecutorTest, SerialQueueTasksPostedFromThreadsRunOnTheTestThread) {
    auto serial = DispatchQueue::makeSerial("net");
    const auto testThread = std::this_thread::get_id();
    std::atomic<int> ran{0};
    std::atomic<bool> allOnTestThread{true};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                serial->async([&] {
                    if (std::this_thread::get_id() != testThread) allOnTestThread = false;
                    ++ran;
                });
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(ran.load(), 0);
    executor->drain();
    EXPECT_EQ(ran.load(), 100);
    EXPECT_TRUE(allOnTestThread.load());
}

TEST(TestExecutorInstall, UninstallRestoresTheSystemClockAndDropsWork) {
    int ran = 0;
    {
        auto executor = TestExecutor::install(100.0);
        EXPECT_EQ(clock().now(), 100.0);
        DispatchQueue::main()->after(1, [&] { ++ran; });
        EXPECT_THROW(TestExecutor::install(), std::logic_error);
    }
    EXPECT_GT(clock().now(), 1'600'000'000.0);
    EXPECT_EQ(ran, 0);
    auto again = TestExecutor::install();
    EXPECT_EQ(again->pendingCount(), 0u);
}

// --- timers by mode -------------------------------------------------------------

class TimerModes : public TestExecutorTest {};

TEST_F(TimerModes, OneShotFiresOnceAtItsTime) {
    std::vector<double> fired;
    auto timer = Timer::scheduled(1.5, false, [&](Timer&) { fired.push_back(clock().now() - kStart); });
    EXPECT_TRUE(timer->isValid());
    executor->advance(1.4);
    EXPECT_TRUE(fired.empty());
    executor->advance(10);
    EXPECT_EQ(fired, (std::vector<double>{1.5}));
    EXPECT_FALSE(timer->isValid());
}

TEST_F(TimerModes, RepeatingFiresEveryInterval) {
    std::vector<double> fired;
    auto timer = Timer::scheduled(0.65, true, [&](Timer&) { fired.push_back(clock().uptime()); });
    executor->advance(0.65 * 4);
    ASSERT_EQ(fired.size(), 4u);
    for (std::size_t i = 0; i < fired.size(); ++i) EXPECT_DOUBLE_EQ(fired[i], 0.65 * static_cast<double>(i + 1));
    EXPECT_TRUE(timer->isValid());
    EXPECT_EQ(timer->interval(), 0.65);
}

TEST_F(TimerModes, InvalidateStopsFiring) {
    int count = 0;
    auto timer = Timer::scheduled(1, true, [&](Timer& t) {
        if (++count == 3) t.invalidate();
    });
    executor->advance(10);
    EXPECT_EQ(count, 3);
    EXPECT_FALSE(timer->isValid());
    auto other = Timer::scheduled(1, true, [&](Timer&) { ++count; });
    other->invalidate();
    executor->advance(10);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(executor->pendingCount(), 0u);
}

TEST_F(TimerModes, FireRunsNowAndKeepsTheSchedule) {
    std::vector<double> fired;
    auto timer = Timer::scheduled(1, true, [&](Timer&) { fired.push_back(clock().uptime()); });
    executor->advance(0.5);
    timer->fire();
    executor->advance(0.5);
    EXPECT_EQ(fired, (std::vector<double>{0.5, 1.0}));
    auto once = Timer::scheduled(1, false, [&](Timer&) { fired.push_back(-1); });
    once->fire();
    EXPECT_FALSE(once->isValid());
    executor->advance(5);
    EXPECT_EQ(std::count(fired.begin(), fired.end(), -1.0), 1);
}

struct ModeCase {
    const char* name;
    std::vector<RunLoopMode> timerModes;
    bool firesWhileTracking;
};

class TimerModeTable : public TestExecutorTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(TimerModeTable, FiresOnlyInItsModes) {
    std::vector<double> fired;
    auto timer = Timer::scheduled(
        1, false, [&](Timer&) { fired.push_back(clock().uptime()); }, GetParam().timerModes);
    RunLoop::main().setCurrentMode(RunLoopMode::EventTracking);
    executor->advance(2);
    if (GetParam().firesWhileTracking) {
        EXPECT_EQ(fired, (std::vector<double>{1.0}));
    } else {
        EXPECT_TRUE(fired.empty());
        EXPECT_TRUE(timer->isValid());
        // The menu closes at t=3: the overdue timer fires then, once.
        DispatchQueue::main()->after(1, [] { RunLoop::main().setCurrentMode(RunLoopMode::Default); });
        executor->advance(5);
        EXPECT_EQ(fired, (std::vector<double>{3.0}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, TimerModeTable,
    ::testing::Values(ModeCase{"default_waits_for_default", {RunLoopMode::Default}, false},
                      ModeCase{"common_modes_fire_in_both", {RunLoopMode::Default, RunLoopMode::EventTracking}, true},
                      ModeCase{"tracking_only", {RunLoopMode::EventTracking}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TimerModes, RepeatingDefaultTimerPausesWhileTrackingAndResumes) {
    std::vector<double> fired;
    auto timer = Timer::scheduled(1, true, [&](Timer&) { fired.push_back(clock().uptime()); });
    auto common = Timer::scheduled(1, true, [&](Timer&) { fired.push_back(100 + clock().uptime()); },
                                   {RunLoopMode::Default, RunLoopMode::EventTracking});
    executor->advance(1.5);  // both fire at 1
    RunLoop::main().setCurrentMode(RunLoopMode::EventTracking);
    executor->advance(2);  // t=3.5: only the common timer (2, 3)
    RunLoop::main().setCurrentMode(RunLoopMode::Default);
    executor->drain();       // the default timer fires once, late, at 3.5
    executor->advance(0.5);  // t=4: both, the common one first (rescheduled earlier)
    EXPECT_EQ(fired, (std::vector<double>{1, 101, 102, 103, 3.5, 104, 4}));
}

TEST_F(TimerModes, TimersAndTasksShareOneOrder) {
    std::vector<std::string> order;
    DispatchQueue::main()->after(1, [&] { order.push_back("task-before"); });
    auto timer = Timer::scheduled(1, false, [&](Timer&) { order.push_back("timer"); });
    DispatchQueue::main()->after(1, [&] { order.push_back("task-after"); });
    EXPECT_EQ(executor->nextDueIn(), std::optional<TimeInterval>(1.0));
    executor->advance(1);
    EXPECT_EQ(order, (std::vector<std::string>{"task-before", "timer", "task-after"}));
}

TEST_F(TimerModes, RunForUnderTheExecutorAdvancesVirtualTime) {
    int fired = 0;
    auto timer = Timer::scheduled(0.5, true, [&](Timer&) { ++fired; });
    RunLoop::main().runFor(2);
    EXPECT_EQ(fired, 4);
    EXPECT_DOUBLE_EQ(executor->now(), kStart + 2);
    DispatchQueue::main()->after(0.25, [] { RunLoop::main().stop(); });
    RunLoop::main().run();
    EXPECT_DOUBLE_EQ(executor->now(), kStart + 2.25);
    timer->invalidate();
}

}  // namespace
}  // namespace Foundation
