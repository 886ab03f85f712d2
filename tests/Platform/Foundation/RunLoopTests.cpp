// The production main run loop's wait: an eventfd woken by posted work, mode
// changes and stop(), descriptor sources, before-wait hooks and timeouts of
// the next timer. Real time: every wait is bounded by runFor's limit and ends
// on a condition (stop()), never after a fixed sleep.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Foundation/Dispatch.h"

namespace Foundation {
namespace {

using namespace std::chrono_literals;

constexpr double kLimit = 30;  // runFor's bound: reached only when something is broken
// Waits are capped at 1 s; a wake that took longer came from the cap, not the eventfd.
constexpr double kWokenWell = 0.9;

struct Pipe {
    int read = -1, write = -1;
    Pipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            read = fds[0];
            write = fds[1];
        }
    }
    ~Pipe() {
        if (read >= 0) ::close(read);
        if (write >= 0) ::close(write);
    }
    void put(const std::string& bytes) const {
        ASSERT_EQ(::write(write, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    int drain() const {
        char buffer[64];
        int total = 0;
        for (ssize_t n; (n = ::read(read, buffer, sizeof buffer)) > 0;) total += static_cast<int>(n);
        return total;
    }
};

// Runs the main loop on this thread until stop() or kLimit; returns the seconds it ran.
double runMainLoop() {
    const double start = clock().uptime();
    RunLoop::main().runFor(kLimit);
    return clock().uptime() - start;
}

// Keeps a hook for the test's length: the loop is shared by every test.
struct ScopedHook {
    RunLoop::SourceId id;
    explicit ScopedHook(Task hook) : id(RunLoop::main().addBeforeWaitHook(std::move(hook))) {}
    ~ScopedHook() { RunLoop::main().removeBeforeWaitHook(id); }
};

TEST(RunLoopWait, WorkPostedWhileTheLoopWaitsWakesIt) {
    std::atomic<double> postedAt{0}, ranAt{0};
    std::promise<void> waiting;
    std::atomic<bool> announced{false};
    ScopedHook hook([&] {
        if (!announced.exchange(true)) waiting.set_value();
    });
    std::thread poster([&] {
        waiting.get_future().wait();
        postedAt = clock().uptime();
        DispatchQueue::main()->async([&] {
            ranAt = clock().uptime();
            RunLoop::main().stop();
        });
    });
    const double ran = runMainLoop();
    poster.join();
    EXPECT_LT(ran, kLimit);
    ASSERT_GT(ranAt.load(), 0);
    EXPECT_LT(ranAt.load() - postedAt.load(), kWokenWell);
}

TEST(RunLoopWait, ModeChangeFromAnotherThreadWakesTheLoopForItsTimers) {
    RunLoop::main().setCurrentMode(RunLoopMode::EventTracking);
    std::atomic<double> changedAt{0}, firedAt{0};
    auto timer = Timer::scheduled(0.001, false, [&](Timer&) {
        firedAt = clock().uptime();
        RunLoop::main().stop();
    });
    std::promise<void> tracking;
    // Fires while tracking (a menu is open) and lets the other thread close the menu.
    auto common = Timer::scheduled(0.001, false, [&](Timer&) { tracking.set_value(); },
                                   {RunLoopMode::Default, RunLoopMode::EventTracking});
    std::thread menu([&] {
        tracking.get_future().wait();
        changedAt = clock().uptime();
        RunLoop::main().setCurrentMode(RunLoopMode::Default);
    });
    runMainLoop();
    menu.join();
    ASSERT_GT(firedAt.load(), 0);
    EXPECT_GE(firedAt.load(), changedAt.load());
    EXPECT_LT(firedAt.load() - changedAt.load(), kWokenWell);
    EXPECT_FALSE(timer->isValid());
}

TEST(RunLoopWait, TheNextTimerOrDelayedTaskSetsTheTimeout) {
    const double start = clock().uptime();
    std::vector<std::pair<char, double>> fired;
    auto timer = Timer::scheduled(0.03, false, [&](Timer&) { fired.emplace_back('t', clock().uptime() - start); });
    DispatchQueue::main()->after(0.06, [&] {
        fired.emplace_back('d', clock().uptime() - start);
        RunLoop::main().stop();
    });
    runMainLoop();
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_EQ(fired[0].first, 't');
    EXPECT_GE(fired[0].second, 0.03);
    EXPECT_EQ(fired[1].first, 'd');
    EXPECT_GE(fired[1].second, 0.06);
    EXPECT_LT(fired[1].second, kWokenWell);  // not woken by the 1 s cap
}

TEST(RunLoopSources, ReadableDescriptorCallsBackOnTheMainThreadUntilRemoved) {
    Pipe pipe;
    ASSERT_GE(pipe.read, 0);
    int calls = 0;
    bool onMain = false;
    RunLoop::SourceId id = 0;
    id = RunLoop::main().addSource(pipe.read, POLLIN, [&](short revents) {
        ++calls;
        onMain = DispatchQueue::isMainThread() && DispatchQueue::main()->isCurrent();
        EXPECT_TRUE(revents & POLLIN);
        EXPECT_EQ(pipe.drain(), 2);
        RunLoop::main().removeSource(id);  // from its own callback
        pipe.put("c");                     // readable again, but removed
        DispatchQueue::main()->after(0.02, [] { RunLoop::main().stop(); });
    });
    std::thread writer([&] { pipe.put("ab"); });
    runMainLoop();
    writer.join();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(onMain);
}

TEST(RunLoopSources, EventsCanBeChangedAndAClosedDescriptorIsDropped) {
    Pipe pipe;
    int writable = 0, invalid = 0;
    // Writable at once; after the first call the source asks for nothing more.
    RunLoop::SourceId id = 0;
    id = RunLoop::main().addSource(pipe.write, POLLOUT, [&](short revents) {
        if (revents & POLLNVAL) {
            ++invalid;
            DispatchQueue::main()->after(0.02, [] { RunLoop::main().stop(); });
            return;
        }
        ++writable;
        RunLoop::main().setSourceEvents(id, 0);
        DispatchQueue::main()->async([&] {
            // The descriptor closes under the source: reported once, then the source is gone.
            ::close(pipe.write);
            pipe.write = -1;
        });
    });
    runMainLoop();
    EXPECT_EQ(writable, 1);
    EXPECT_EQ(invalid, 1);
    RunLoop::main().removeSource(id);  // already gone: nothing happens
}

TEST(RunLoopSources, AHungUpDescriptorIsToldOnceThenDropped) {
    // The far end of a pipe goes away (a display server ended): POLLHUP is
    // reported once and the source is dropped, never polled again in a loop.
    Pipe pipe;
    ::close(pipe.write);
    pipe.write = -1;
    int calls = 0;
    short seen = 0;
    RunLoop::main().addSource(pipe.read, POLLIN, [&](short revents) {
        ++calls;
        seen = revents;
    });
    DispatchQueue::main()->after(0.05, [] { RunLoop::main().stop(); });
    runMainLoop();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(seen & POLLHUP);
}

TEST(RunLoopSources, BusyQueueDoesNotStarveSources) {
    Pipe pipe;
    // The last spin may still be queued when the test ends and run in the
    // next test's loop: it holds its state, not this frame's locals.
    struct State {
        std::atomic<bool> sourceCalled{false};
        int spins = 0;
    };
    auto state = std::make_shared<State>();
    auto spin = std::make_shared<std::function<void()>>();
    *spin = [state, weak = std::weak_ptr<std::function<void()>>(spin)] {
        ++state->spins;
        if (state->sourceCalled) return;
        if (auto again = weak.lock()) DispatchQueue::main()->async(*again);
    };
    auto id = RunLoop::main().addSource(pipe.read, POLLIN, [&pipe, state](short) {
        pipe.drain();
        state->sourceCalled = true;
        RunLoop::main().stop();
    });
    pipe.put("x");
    DispatchQueue::main()->async(*spin);
    runMainLoop();
    RunLoop::main().removeSource(id);
    EXPECT_TRUE(state->sourceCalled.load());
    EXPECT_LT(state->spins, 1000);
}

TEST(RunLoopSources, ACallbackThatThrowsEndsTheRunAndLeavesTheLoopUsable) {
    Pipe pipe;
    auto id = RunLoop::main().addSource(pipe.read, POLLIN, [&](short) {
        pipe.drain();
        throw std::runtime_error("source failed");
    });
    pipe.put("x");
    EXPECT_THROW(RunLoop::main().runFor(kLimit), std::runtime_error);
    RunLoop::main().removeSource(id);
    EXPECT_TRUE(DispatchQueue::isMainThread());

    bool ran = false;
    std::thread poster([&] {
        DispatchQueue::main()->async([&] {
            ran = true;
            RunLoop::main().stop();
        });
    });
    EXPECT_LT(runMainLoop(), kLimit);
    poster.join();
    EXPECT_TRUE(ran);
}

TEST(RunLoopHooks, RunBeforeEachWaitAndWorkTheyPostRunsFirst) {
    std::vector<std::string> events;
    int hookCalls = 0;
    ScopedHook hook([&] {
        ++hookCalls;
        events.push_back("hook");
        if (hookCalls == 1) {
            // A connection's queue held an event: it is handled before the loop sleeps.
            DispatchQueue::main()->async([&] { events.push_back("queued event"); });
        }
    });
    DispatchQueue::main()->async([&] { events.push_back("task"); });
    DispatchQueue::main()->after(0.02, [&] {
        events.push_back("later");
        RunLoop::main().stop();
    });
    runMainLoop();
    ASSERT_GE(events.size(), 5u);
    EXPECT_EQ(events[0], "task");
    EXPECT_EQ(events[1], "hook");
    EXPECT_EQ(events[2], "queued event");
    EXPECT_EQ(events[3], "hook");  // once more before the wait itself
    EXPECT_EQ(events.back(), "later");

    // Removed: no longer called.
    RunLoop::main().removeBeforeWaitHook(hook.id);
    const int before = hookCalls;
    DispatchQueue::main()->after(0.01, [] { RunLoop::main().stop(); });
    runMainLoop();
    EXPECT_EQ(hookCalls, before);
}

TEST(RunLoopSources, UnderTheTestExecutorSourcesAreKeptButNotPolled) {
    auto executor = TestExecutor::install();
    Pipe pipe;
    bool called = false;
    auto id = RunLoop::main().addSource(pipe.read, POLLIN, [&](short) { called = true; });
    pipe.put("x");
    DispatchQueue::main()->after(1, [] {});
    RunLoop::main().runFor(2);
    EXPECT_FALSE(called);
    RunLoop::main().removeSource(id);
}

}  // namespace
}  // namespace Foundation
