#pragma once
// Queues, the run loop, timers and the one clock every wait goes through.
//
// Production: the main queue is drained by the main run loop on the thread
// that runs it; serial queues are real threads; global queues are a small
// thread pool; delays wait on the system clock.
//
// Tests: `TestExecutor::install()` swaps in a manual clock and virtual queues.
// Nothing runs until the test calls `drain()` / `advance(seconds)`, and then it
// runs on the test's own thread, in order of due time, then order of
// scheduling. Work posted from other threads (network callbacks) is queued the
// same way; `runUntil` waits for such work without sleeping on a timer.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Foundation {

using TimeInterval = double;  // seconds
using Task = std::function<void()>;

// --- clock -------------------------------------------------------------------

class Clock {
public:
    virtual ~Clock() = default;
    // Wall time, seconds since 1970 (what dates are stamped with).
    virtual TimeInterval now() const = 0;
    // Monotonic seconds for measuring delays.
    virtual TimeInterval uptime() const = 0;
};

// The process's clock: the system clock unless a test installed another.
Clock& clock();
void setClock(std::shared_ptr<Clock> clock);  // nullptr restores the system clock

// --- queues ------------------------------------------------------------------

class DispatchQueue {
public:
    virtual ~DispatchQueue() = default;
    virtual void async(Task task) = 0;
    // Runs the task after `delay` seconds of the clock (negative counts as 0).
    virtual void after(TimeInterval delay, Task task) = 0;
    // Runs the task and waits for it. Called on the queue itself, runs inline.
    virtual void sync(Task task) = 0;
    virtual bool isCurrent() const = 0;
    virtual const std::string& label() const = 0;

    // The main queue (drained by the main run loop).
    static std::shared_ptr<DispatchQueue> main();
    // A global concurrent queue.
    static std::shared_ptr<DispatchQueue> global();
    // A new serial queue with its own thread (virtual under the test executor).
    static std::shared_ptr<DispatchQueue> makeSerial(const std::string& label);
    // True on the main thread (the thread that runs the main run loop; under
    // the test executor, the test's thread, except while it runs a task of a
    // virtual serial or global queue).
    static bool isMainThread();
};

// Runs `fn` on the main queue: inline when already on the main thread, else
// asynchronously.
void runOnMain(Task fn);

// dispatch_once: `fn` runs exactly once per flag, whatever the threads.
using OnceFlag = std::once_flag;
inline void once(OnceFlag& flag, const Task& fn) { std::call_once(flag, fn); }

// --- run loop and timers ------------------------------------------------------

// ModalPanel: an alert or save panel waits for its answer.
enum class RunLoopMode { Default, EventTracking, ModalPanel };

class Timer : public std::enable_shared_from_this<Timer> {
public:
    using Callback = std::function<void(Timer&)>;
    // Scheduled on the main run loop in the given modes (default: Default).
    // It fires only while the run loop's current mode is one of them; one that
    // fell due in another mode fires once when a matching mode comes back.
    // An interval <= 0 counts as 0.1 ms. The run loop keeps the timer until it
    // is invalidated (a one-shot timer invalidates itself after firing).
    static std::shared_ptr<Timer> scheduled(TimeInterval interval, bool repeats, Callback callback,
                                            std::vector<RunLoopMode> modes = {RunLoopMode::Default});
    virtual ~Timer() = default;
    virtual void invalidate() = 0;
    virtual bool isValid() const = 0;
    // Fires now, whatever the mode; a repeating timer keeps its schedule.
    virtual void fire() = 0;
    virtual TimeInterval interval() const = 0;
};

class RunLoop {
public:
    static RunLoop& main();
    virtual ~RunLoop() = default;
    virtual RunLoopMode currentMode() const = 0;
    // Event tracking (a menu open, a drag) switches the mode; timers of other
    // modes wait until a matching mode comes back.
    virtual void setCurrentMode(RunLoopMode mode) = 0;
    // Production: runs the main queue and timers until stop(), on the calling
    // thread, which is the main thread meanwhile. A stop() that comes while the
    // loop is not running ends the next run at once. Under the test executor:
    // runs virtual time until stop() or until nothing is scheduled.
    virtual void run() = 0;
    // Runs until `seconds` of the clock have passed or stop().
    virtual void runFor(TimeInterval seconds) = 0;
    virtual void stop() = 0;

    // Descriptor sources (a display connection, a bus). Production: the loop
    // waits in poll() on its wake-up descriptor and these, with the timeout of
    // the next timer or delayed task. `events` are poll() flags (POLLIN,
    // POLLOUT); the callback runs on the loop's thread, in every mode, with
    // the flags poll() reported. A source whose descriptor reports an error,
    // a hang-up or was closed under it (POLLERR, POLLHUP, POLLNVAL) is removed
    // after that call. Under the test executor sources
    // are kept but never polled. Safe from any thread; once `removeSource`
    // returns no new call of the callback starts (on the loop's thread: none
    // at all, even later in the same round).
    using SourceId = std::uint64_t;
    using SourceCallback = std::function<void(short revents)>;
    virtual SourceId addSource(int fd, short events, SourceCallback callback) = 0;
    virtual void setSourceEvents(SourceId id, short events) = 0;
    virtual void removeSource(SourceId id) = 0;
    // Runs on the loop's thread before each wait, in every mode: drain what a
    // connection has queued without its descriptor becoming readable, flush.
    // Work a hook posts runs before the loop waits.
    virtual SourceId addBeforeWaitHook(Task hook) = 0;
    virtual void removeBeforeWaitHook(SourceId id) = 0;
};

// --- deterministic test executor ----------------------------------------------

class TestExecutor {
public:
    // Installs a manual clock (starting at `startTime`, wall seconds since
    // 1970) and virtual queues for the whole process; the returned executor
    // uninstalls them when destroyed. The installing thread becomes the main thread.
    static std::unique_ptr<TestExecutor> install(TimeInterval startTime = 1'700'000'000.0);
    virtual ~TestExecutor() = default;

    // Runs everything that is due now (including work the tasks schedule for
    // now), on this thread. Returns the number of tasks run.
    virtual std::size_t drain() = 0;
    // Moves the clock forward, running every task and timer that falls due,
    // each at its own time, in order of due time then scheduling.
    virtual void advance(TimeInterval seconds) = 0;
    // Advances to the next scheduled item and runs it; false when none.
    virtual bool runNext() = 0;
    // Drains repeatedly, waiting (real time, at most `realTimeoutSeconds`)
    // for work posted from other threads, until `done()` is true. Does not
    // move the manual clock. Returns done(). The default timeout is generous:
    // it only matters when something is wrong, and a loaded machine running a
    // sanitizer build may take seconds for one loopback round trip.
    virtual bool runUntil(const std::function<bool()>& done, double realTimeoutSeconds = 60.0) = 0;
    // Seconds of the manual clock until the next scheduled item, if any.
    virtual std::optional<TimeInterval> nextDueIn() const = 0;
    virtual TimeInterval now() const = 0;
    // Scheduled tasks plus valid timers.
    virtual std::size_t pendingCount() const = 0;
    // Wakes a `runUntil` waiting on another thread, for conditions that change
    // without posting work (it also re-checks `done()` every few milliseconds).
    virtual void wake() = 0;
};

}  // namespace Foundation
