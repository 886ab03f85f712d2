// The production side of dispatch: the system clock, the main run loop over
// its poll set, the main queue and the worker-thread queues, and the public
// entry points. The test executor lives in DispatchTestExecutor.cpp; what
// both use is in DispatchInternal.h.
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/DispatchInternal.h"
#include "Platform/Foundation/ThreadSignalStack.h"

#include "Platform/Foundation/PollSet.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <future>
#include <limits>
#include <map>
#include <stdexcept>
#include <thread>
#include <utility>

namespace Foundation {
using namespace detail;

namespace {

// --- clock -------------------------------------------------------------------

class SystemClock final : public Clock {
public:
    TimeInterval now() const override {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    }
    TimeInterval uptime() const override {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
};

struct ClockState {
    std::mutex mutex;
    // Every clock ever installed stays alive: another thread may still hold the
    // reference `clock()` handed out. They are small and few (one per test).
    std::vector<std::shared_ptr<Clock>> retained;
    std::atomic<Clock*> current{nullptr};
};

ClockState& clockState() {
    static auto* state = new ClockState;  // immortal: used by threads at exit
    return *state;
}

SystemClock& systemClock() {
    static auto* c = new SystemClock;
    return *c;
}

// --- threads ------------------------------------------------------------------

bool onMainThreadRaw() {
    const std::thread::id id = mainThreadId().load(std::memory_order_acquire);
    if (id == std::thread::id{}) return ::gettid() == ::getpid();
    return id == std::this_thread::get_id();
}

class MainThreadScope {
public:
    MainThreadScope() : saved_(mainThreadId().exchange(std::this_thread::get_id())) {}
    ~MainThreadScope() { mainThreadId().store(saved_); }
    MainThreadScope(const MainThreadScope&) = delete;
    MainThreadScope& operator=(const MainThreadScope&) = delete;

private:
    std::thread::id saved_;
};

// Waits on `cv` for at most `seconds` (capped, so a replaced clock is re-read).
void waitSeconds(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, double seconds) {
    seconds = std::clamp(seconds, 0.0, 1.0);
    cv.wait_for(lock, std::chrono::duration<double>(seconds));
}

// Runs `task` and hands back its outcome (exceptions too) through a promise
// the posted wrapper owns, for sync. `task` stays the caller's: it waits.
std::pair<Task, std::future<void>> wrapForSync(Task& task) {
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    Task wrapper = [&task, done] {
        try {
            task();
            done->set_value();
        } catch (...) {
            done->set_exception(std::current_exception());
        }
    };
    return {std::move(wrapper), std::move(finished)};
}

}  // namespace

namespace detail {

std::atomic<std::thread::id>& mainThreadId() {
    static auto* id = new std::atomic<std::thread::id>{};
    return *id;
}

// --- timers -------------------------------------------------------------------

// Among `timers` (pruning invalid ones into `pruned`), the eligible one in
// `mode` due at or before `limit` that comes first by (due, sequence).
std::shared_ptr<TimerImpl> pickTimerLocked(std::vector<std::shared_ptr<TimerImpl>>& timers, RunLoopMode mode,
                                           double limit, std::vector<std::shared_ptr<TimerImpl>>& pruned,
                                           std::optional<double>* nextDue) {
    std::shared_ptr<TimerImpl> best;
    for (auto it = timers.begin(); it != timers.end();) {
        if (!(*it)->isValid()) {
            pruned.push_back(std::move(*it));
            it = timers.erase(it);
            continue;
        }
        const auto& t = *it;
        if (t->runsIn(mode)) {
            const double due = t->dueLocked();
            if (nextDue && (!*nextDue || due < **nextDue)) *nextDue = due;
            if (due <= limit && (!best || std::make_pair(due, t->sequenceLocked()) <
                                              std::make_pair(best->dueLocked(), best->sequenceLocked()))) {
                best = t;
            }
        }
        ++it;
    }
    return best;
}

// Updates a picked timer's schedule (caller holds the scheduler's lock).
void prepareFiringLocked(TimerImpl& timer, double now, std::uint64_t sequence) {
    if (timer.repeats()) {
        timer.rescheduleLocked(now, sequence);
    } else {
        timer.markFired();
    }
}

// Fires a picked timer outside every lock.
void fireScheduled(const std::shared_ptr<TimerImpl>& timer, const DispatchQueue* mainQueue) {
    CurrentQueueScope scope(mainQueue);
    timer->invoke();
    if (!timer->repeats()) timer->invalidate();
}

MainRunLoop& mainLoop() {
    static auto* loop = new MainRunLoop;
    return *loop;
}

}  // namespace detail

namespace {

// --- queues ---------------------------------------------------------------------

class MainQueue final : public DispatchQueue {
public:
    void async(Task task) override { after(0, std::move(task)); }
    void after(TimeInterval delay, Task task) override {
        if (auto executor = currentExecutor()) {
            executor->post(this, delay, std::move(task));
        } else {
            mainLoop().post(std::move(task), delay);
        }
    }
    void sync(Task task) override {
        if (isCurrent() || currentExecutor()) {
            CurrentQueueScope scope(this);
            task();
            return;
        }
        auto [wrapper, finished] = wrapForSync(task);
        mainLoop().post(std::move(wrapper), 0);
        finished.get();
    }
    bool isCurrent() const override { return tCurrentQueue == this || (tCurrentQueue == nullptr && onMainThreadRaw()); }
    const std::string& label() const override { return label_; }

private:
    const std::string label_ = "com.apple.main-thread";
};

// A pool of threads (size 1: a serial queue) over one work queue.
class WorkerPool : public std::enable_shared_from_this<WorkerPool> {
public:
    WorkerPool(const DispatchQueue* owner, std::size_t threads) : owner_(owner), size_(threads) {}

    void post(Task task, TimeInterval delay) {
        {
            std::lock_guard lock(work_.mutex);
            if (stopping_) return;  // the queue is gone; `task` is released below, unlocked
            if (threads_.empty()) {
                running_ = size_;
                for (std::size_t i = 0; i < size_; ++i) {
                    threads_.emplace_back([self = shared_from_this()] {
                        ThreadSignalStack signalStack;
                        self->loop();
                    });
                }
            }
            work_.pushLocked(std::move(task), delay);
        }
        work_.cv.notify_all();
    }

    // Stops the threads once their ready work is done (delayed work is dropped)
    // and joins them; a thread that does not finish within `patience` (or the
    // calling thread itself) is detached: it holds the pool alive on its own.
    void shutdown(std::chrono::milliseconds patience) {
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(work_.mutex);
            stopping_ = true;
            threads.swap(threads_);
        }
        work_.cv.notify_all();
        std::unique_lock lock(work_.mutex);
        const bool finished = work_.cv.wait_for(lock, patience, [&] { return running_ == 0 || onOwnThread(threads); });
        lock.unlock();
        for (auto& t : threads) {
            if (finished && t.get_id() != std::this_thread::get_id()) {
                t.join();
            } else {
                t.detach();
            }
        }
    }

private:
    static bool onOwnThread(const std::vector<std::thread>& threads) {
        return std::any_of(threads.begin(), threads.end(),
                           [](const std::thread& t) { return t.get_id() == std::this_thread::get_id(); });
    }

    void loop() {
        CurrentQueueScope scope(owner_);
        std::unique_lock lock(work_.mutex);
        for (;;) {
            const auto nextDue = work_.promoteLocked(clock().uptime());
            if (!work_.ready.empty()) {
                Task task = std::move(work_.ready.front());
                work_.ready.pop_front();
                lock.unlock();
                task();
                task = nullptr;  // released outside the lock
                lock.lock();
                continue;
            }
            if (stopping_) break;
            if (nextDue) {
                waitSeconds(work_.cv, lock, *nextDue - clock().uptime());
            } else {
                work_.cv.wait(lock);
            }
        }
        auto dropped = std::move(work_.delayed);
        work_.delayed.clear();
        --running_;
        lock.unlock();
        work_.cv.notify_all();
    }

    const DispatchQueue* const owner_;
    const std::size_t size_;
    WorkQueue work_;
    std::vector<std::thread> threads_;  // guarded by work_.mutex
    std::size_t running_ = 0;           // guarded by work_.mutex
    bool stopping_ = false;             // guarded by work_.mutex
};

// Posts to a pool and waits for the task (exceptions come back to the caller).
void syncOnPool(WorkerPool& pool, Task& task) {
    auto [wrapper, finished] = wrapForSync(task);
    pool.post(std::move(wrapper), 0);
    finished.get();
}

// A queue backed by worker threads: one thread makes a serial queue, a few make
// the global concurrent queue. The global queue lives for the whole process.
class PoolQueue final : public DispatchQueue {
public:
    PoolQueue(std::string label, std::size_t threads)
        : label_(std::move(label)), pool_(std::make_shared<WorkerPool>(this, threads)) {}
    ~PoolQueue() override { pool_->shutdown(std::chrono::seconds(5)); }
    void async(Task task) override { after(0, std::move(task)); }
    void after(TimeInterval delay, Task task) override {
        if (auto executor = currentExecutor()) {
            executor->post(this, delay, std::move(task));
        } else {
            pool_->post(std::move(task), delay);
        }
    }
    void sync(Task task) override {
        if (isCurrent() || currentExecutor()) {
            CurrentQueueScope scope(this);
            task();
            return;
        }
        syncOnPool(*pool_, task);
    }
    bool isCurrent() const override { return tCurrentQueue == this; }
    const std::string& label() const override { return label_; }

private:
    const std::string label_;
    std::shared_ptr<WorkerPool> pool_;
};

}  // namespace

namespace detail {

const DispatchQueue* mainQueuePtr() { return DispatchQueue::main().get(); }

// --- main run loop, continued ---------------------------------------------------------

void MainRunLoop::wakeAll() {
    { std::lock_guard lock(work_.mutex); }
    polls_.wake();
    if (auto executor = currentExecutor()) executor->wake();
}

void MainRunLoop::runLoop(std::optional<TimeInterval> seconds) {
    auto executor = currentExecutor();
    if (!executor) {
        runProduction(seconds);
        return;
    }
    // Under the executor the run loop runs virtual time on the calling thread.
    const double limit = seconds ? clock().uptime() + *seconds : std::numeric_limits<double>::infinity();
    for (;;) {
        if (takeStop()) return;
        if (!executor->runOne(limit)) break;
    }
    if (seconds) executor->advance(std::max(0.0, limit - clock().uptime()));
}

void MainRunLoop::runProduction(std::optional<TimeInterval> seconds) {
    MainThreadScope mainThread;
    const DispatchQueue* mainQueue = mainQueuePtr();
    const std::optional<double> deadline = seconds ? std::optional<double>(clock().uptime() + *seconds) : std::nullopt;
    // Sources are looked at (without waiting) at least this often while work
    // keeps coming, so a busy queue cannot starve the display connection.
    constexpr int kWorkBetweenLooks = 64;
    int workSinceLook = 0;
    bool hooksRan = false;  // since the last work: the hooks run once before each wait
    std::vector<std::shared_ptr<TimerImpl>> pruned;
    std::unique_lock lock(work_.mutex);
    for (;;) {
        if (takeStop()) break;
        const double now = clock().uptime();
        if (deadline && now >= *deadline) break;
        if (workSinceLook >= kWorkBetweenLooks) {
            workSinceLook = 0;
            lock.unlock();
            {
                CurrentQueueScope scope(mainQueue);
                polls_.waitAndDispatch(0.0);
            }
            lock.lock();
            continue;
        }
        const auto nextDelayed = work_.promoteLocked(now);
        std::optional<double> nextTimer;
        auto timer = pickTimerLocked(timers_, currentMode(), now, pruned, &nextTimer);
        if (timer) {
            prepareFiringLocked(*timer, now, work_.sequence++);
            lock.unlock();
            pruned.clear();
            fireScheduled(timer, mainQueue);
            timer.reset();
            ++workSinceLook;
            hooksRan = false;
            lock.lock();
            continue;
        }
        if (!work_.ready.empty()) {
            Task task = std::move(work_.ready.front());
            work_.ready.pop_front();
            lock.unlock();
            pruned.clear();
            {
                CurrentQueueScope scope(mainQueue);
                task();
            }
            task = nullptr;
            ++workSinceLook;
            hooksRan = false;
            lock.lock();
            continue;
        }
        if (!pruned.empty()) {
            lock.unlock();
            pruned.clear();
            lock.lock();
            continue;
        }
        if (!hooksRan) {
            // Hooks may post work or read events that do: look at the queue again before waiting.
            hooksRan = true;
            lock.unlock();
            {
                CurrentQueueScope scope(mainQueue);
                polls_.runHooks();
            }
            lock.lock();
            continue;
        }
        std::optional<double> wake = nextDelayed;
        for (const auto& candidate : {nextTimer, deadline}) {
            if (candidate && (!wake || *candidate < *wake)) wake = candidate;
        }
        waiting_ = true;
        lock.unlock();
        {
            // Cleared even when a source's callback throws out of the loop.
            struct NotWaiting {
                MainRunLoop& loop;
                ~NotWaiting() {
                    std::lock_guard guard(loop.work_.mutex);
                    loop.waiting_ = false;
                }
            } notWaiting{*this};
            CurrentQueueScope scope(mainQueue);
            polls_.waitAndDispatch(wake ? std::optional<double>(*wake - now) : std::nullopt);
        }
        lock.lock();
        workSinceLook = 0;
        hooksRan = false;
    }
}

}  // namespace detail

// --- public entry points ------------------------------------------------------------------

Clock& clock() {
    Clock* current = clockState().current.load(std::memory_order_acquire);
    return current ? *current : systemClock();
}

void setClock(std::shared_ptr<Clock> replacement) {
    auto& state = clockState();
    std::lock_guard lock(state.mutex);
    if (replacement) {
        state.retained.push_back(replacement);
        state.current.store(replacement.get(), std::memory_order_release);
    } else {
        state.current.store(nullptr, std::memory_order_release);
    }
}

std::shared_ptr<DispatchQueue> DispatchQueue::main() {
    static auto* queue = new std::shared_ptr<DispatchQueue>(std::make_shared<MainQueue>());
    return *queue;
}

std::shared_ptr<DispatchQueue> DispatchQueue::global() {
    static auto* queue = new std::shared_ptr<DispatchQueue>(std::make_shared<PoolQueue>(
        "com.apple.root.default-qos", std::clamp<std::size_t>(std::thread::hardware_concurrency(), 2, 4)));
    return *queue;
}

std::shared_ptr<DispatchQueue> DispatchQueue::makeSerial(const std::string& label) {
    return std::make_shared<PoolQueue>(label, 1);
}

bool DispatchQueue::isMainThread() {
    return onMainThreadRaw() && (tCurrentQueue == nullptr || tCurrentQueue == mainQueuePtr());
}

void runOnMain(Task fn) {
    if (DispatchQueue::isMainThread()) {
        fn();
    } else {
        DispatchQueue::main()->async(std::move(fn));
    }
}

std::shared_ptr<Timer> Timer::scheduled(TimeInterval interval, bool repeats, Callback callback,
                                        std::vector<RunLoopMode> modes) {
    if (modes.empty()) modes.push_back(RunLoopMode::Default);
    auto timer = std::make_shared<TimerImpl>(interval, repeats, std::move(callback), std::move(modes));
    if (auto executor = currentExecutor()) {
        executor->addTimer(timer);
    } else {
        mainLoop().addTimer(timer);
    }
    return timer;
}

RunLoop& RunLoop::main() { return mainLoop(); }

}  // namespace Foundation
