#include "Platform/Foundation/Dispatch.h"
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

class ManualClock final : public Clock {
public:
    explicit ManualClock(TimeInterval start) : start_(start) {}
    TimeInterval now() const override { return start_ + elapsed_.load(std::memory_order_acquire); }
    TimeInterval uptime() const override { return elapsed_.load(std::memory_order_acquire); }
    // Moves forward only.
    void advanceTo(TimeInterval uptime) {
        double current = elapsed_.load(std::memory_order_acquire);
        while (uptime > current && !elapsed_.compare_exchange_weak(current, uptime, std::memory_order_acq_rel)) {
        }
    }

private:
    const TimeInterval start_;
    std::atomic<double> elapsed_{0.0};
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

// The queue whose task this thread is running (nullptr: none).
thread_local const DispatchQueue* tCurrentQueue = nullptr;

class CurrentQueueScope {
public:
    explicit CurrentQueueScope(const DispatchQueue* queue) : saved_(tCurrentQueue) { tCurrentQueue = queue; }
    ~CurrentQueueScope() { tCurrentQueue = saved_; }
    CurrentQueueScope(const CurrentQueueScope&) = delete;
    CurrentQueueScope& operator=(const CurrentQueueScope&) = delete;

private:
    const DispatchQueue* saved_;
};

// The thread that runs the main run loop (or the executor's thread). A default
// id means "the process's initial thread".
std::atomic<std::thread::id>& mainThreadId() {
    static auto* id = new std::atomic<std::thread::id>{};
    return *id;
}

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

// --- production work queue ------------------------------------------------------

// Ready tasks in order, and delayed tasks by due time (clock uptime) then order.
struct WorkQueue {
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<Task> ready;
    std::map<std::pair<double, std::uint64_t>, Task> delayed;
    std::uint64_t sequence = 0;

    // Caller holds `mutex`.
    void pushLocked(Task task, TimeInterval delay) {
        if (!(delay > 0)) {
            ready.push_back(std::move(task));
        } else {
            delayed.emplace(std::make_pair(clock().uptime() + delay, sequence++), std::move(task));
        }
    }
    // Caller holds `mutex`. Moves due delayed tasks to `ready`; returns the next
    // delayed due time.
    std::optional<double> promoteLocked(double now) {
        while (!delayed.empty() && delayed.begin()->first.first <= now) {
            ready.push_back(std::move(delayed.begin()->second));
            delayed.erase(delayed.begin());
        }
        if (delayed.empty()) return std::nullopt;
        return delayed.begin()->first.first;
    }
};

// --- timers -------------------------------------------------------------------

constexpr double kMinimumTimerInterval = 0.0001;  // as the platform: 0.1 ms

class TimerImpl final : public Timer {
public:
    TimerImpl(TimeInterval interval, bool repeats, Callback callback, std::vector<RunLoopMode> modes)
        : interval_(interval > 0 ? interval : kMinimumTimerInterval),
          repeats_(repeats),
          modes_(std::move(modes)),
          callback_(std::make_shared<Callback>(std::move(callback))) {}

    void invalidate() override {
        valid_.store(false, std::memory_order_release);
        std::shared_ptr<Callback> dropped;
        {
            std::lock_guard lock(callbackMutex_);
            dropped = std::move(callback_);
        }
        // `dropped` (and what the callback captured) is released outside the lock.
    }
    bool isValid() const override { return valid_.load(std::memory_order_acquire); }
    void fire() override {
        invoke();
        if (!repeats_) invalidate();
    }
    TimeInterval interval() const override { return interval_; }

    bool repeats() const { return repeats_; }
    bool runsIn(RunLoopMode mode) const { return std::find(modes_.begin(), modes_.end(), mode) != modes_.end(); }
    void invoke() {
        std::shared_ptr<Callback> callback;
        {
            std::lock_guard lock(callbackMutex_);
            callback = callback_;
        }
        if (callback && *callback) (*callback)(*this);
    }
    void markFired() { valid_.store(false, std::memory_order_release); }

    // Schedule, guarded by the owning scheduler's lock: the k-th next firing is
    // base + (k + 1) * interval (computed, so repeats do not drift).
    void startLocked(double now, std::uint64_t sequence) {
        base_ = now;
        fired_ = 0;
        sequence_ = sequence;
    }
    double dueLocked() const { return base_ + static_cast<double>(fired_ + 1) * interval_; }
    std::uint64_t sequenceLocked() const { return sequence_; }
    // After firing at `now`: the next firing lies after `now` (missed ones are skipped).
    void rescheduleLocked(double now, std::uint64_t sequence) {
        ++fired_;
        if (dueLocked() <= now) {
            fired_ = static_cast<std::uint64_t>(std::max(0.0, std::floor((now - base_) / interval_)));
            while (dueLocked() <= now) ++fired_;
        }
        sequence_ = sequence;
    }

private:
    const TimeInterval interval_;
    const bool repeats_;
    const std::vector<RunLoopMode> modes_;
    std::atomic<bool> valid_{true};
    std::mutex callbackMutex_;
    std::shared_ptr<Callback> callback_;
    double base_ = 0;
    std::uint64_t fired_ = 0;
    std::uint64_t sequence_ = 0;
};

// Among `timers` (pruning invalid ones into `pruned`), the eligible one in
// `mode` due at or before `limit` that comes first by (due, sequence).
std::shared_ptr<TimerImpl> pickTimerLocked(std::vector<std::shared_ptr<TimerImpl>>& timers, RunLoopMode mode,
                                           double limit, std::vector<std::shared_ptr<TimerImpl>>& pruned,
                                           std::optional<double>* nextDue = nullptr) {
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

// --- test executor core ---------------------------------------------------------

class ExecutorCore {
public:
    explicit ExecutorCore(TimeInterval start) : clock_(std::make_shared<ManualClock>(start)) {}

    std::shared_ptr<ManualClock> manualClock() const { return clock_; }

    void post(const DispatchQueue* queue, TimeInterval delay, Task task) {
        {
            std::lock_guard lock(mutex_);
            if (!closed_) {
                const double due = clock_->uptime() + std::max(0.0, delay);
                items_.emplace(std::make_pair(due, sequence_++), Item{queue, std::move(task)});
            }
        }
        cv_.notify_all();
        // When closed, `task` is released here, outside the lock.
    }

    void addTimer(const std::shared_ptr<TimerImpl>& timer) {
        {
            std::lock_guard lock(mutex_);
            if (closed_) return;
            timer->startLocked(clock_->uptime(), sequence_++);
            timers_.push_back(timer);
        }
        cv_.notify_all();
    }

    void wake() { cv_.notify_all(); }

    // Runs the first item due at or before `limit` (clock uptime); false when none.
    bool runOne(double limit);

    std::size_t drain() {
        std::size_t count = 0;
        while (runOne(clock_->uptime())) {
            if (++count > kRunaway) throw std::runtime_error("TestExecutor::drain: runaway rescheduling");
        }
        return count;
    }

    void advance(TimeInterval seconds) {
        const double target = clock_->uptime() + std::max(0.0, seconds);
        std::size_t count = 0;
        while (runOne(target)) {
            if (++count > kRunaway) throw std::runtime_error("TestExecutor::advance: runaway rescheduling");
        }
        clock_->advanceTo(target);
    }

    bool runUntil(const std::function<bool()>& done, double realTimeoutSeconds) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                   std::chrono::duration<double>(std::max(0.0, realTimeoutSeconds)));
        for (;;) {
            drain();
            if (done()) return true;
            std::unique_lock lock(mutex_);
            // Woken by posted work; the slice only re-checks `done()` for
            // conditions that change without posting anything.
            const auto slice = std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(20));
            cv_.wait_until(lock, slice, [&] { return hasDueWorkLocked(); });
            if (std::chrono::steady_clock::now() >= deadline && !hasDueWorkLocked()) {
                lock.unlock();
                return done();
            }
        }
    }

    std::optional<TimeInterval> nextDueIn() const;

    std::size_t pendingCount() const {
        std::lock_guard lock(mutex_);
        std::size_t count = items_.size();
        for (const auto& t : timers_) count += t->isValid() ? 1 : 0;
        return count;
    }

    // Uninstalls: drops pending work and invalidates the executor's timers.
    void close() {
        std::map<std::pair<double, std::uint64_t>, Item> items;
        std::vector<std::shared_ptr<TimerImpl>> timers;
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
            items.swap(items_);
            timers.swap(timers_);
        }
        for (auto& t : timers) t->invalidate();
        cv_.notify_all();
    }

private:
    static constexpr std::size_t kRunaway = 50'000'000;

    struct Item {
        const DispatchQueue* queue;
        Task task;
    };

    bool hasDueWorkLocked() const;

    const std::shared_ptr<ManualClock> clock_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::map<std::pair<double, std::uint64_t>, Item> items_;
    mutable std::vector<std::shared_ptr<TimerImpl>> timers_;
    std::uint64_t sequence_ = 0;
    bool closed_ = false;
};

struct ExecutorState {
    std::mutex mutex;
    std::shared_ptr<ExecutorCore> core;
};

ExecutorState& executorState() {
    static auto* state = new ExecutorState;
    return *state;
}

std::shared_ptr<ExecutorCore> currentExecutor() {
    auto& state = executorState();
    std::lock_guard lock(state.mutex);
    return state.core;
}

// --- the main run loop ----------------------------------------------------------

class MainRunLoop final : public RunLoop {
public:
    RunLoopMode currentMode() const override { return mode_.load(std::memory_order_acquire); }
    void setCurrentMode(RunLoopMode mode) override {
        mode_.store(mode, std::memory_order_release);
        wakeAll();
    }
    void run() override { runLoop(std::nullopt); }
    void runFor(TimeInterval seconds) override { runLoop(std::max(0.0, seconds)); }
    void stop() override {
        stopRequested_.store(true, std::memory_order_release);
        wakeAll();
    }
    SourceId addSource(int fd, short events, SourceCallback callback) override {
        return polls_.addSource(fd, events, std::move(callback));
    }
    void setSourceEvents(SourceId id, short events) override { polls_.setSourceEvents(id, events); }
    void removeSource(SourceId id) override { polls_.removeSource(id); }
    SourceId addBeforeWaitHook(Task hook) override { return polls_.addHook(std::move(hook)); }
    void removeBeforeWaitHook(SourceId id) override { polls_.removeHook(id); }

    // Production main queue.
    void post(Task task, TimeInterval delay) {
        bool waiting;
        {
            std::lock_guard lock(work_.mutex);
            work_.pushLocked(std::move(task), delay);
            waiting = waiting_;
        }
        // The loop decides to wait under the lock: a post that finds it not
        // waiting is seen by its next look at the queue.
        if (waiting) polls_.wake();
    }
    void addTimer(const std::shared_ptr<TimerImpl>& timer) {
        bool waiting;
        {
            std::lock_guard lock(work_.mutex);
            timer->startLocked(clock().uptime(), work_.sequence++);
            timers_.push_back(timer);
            waiting = waiting_;
        }
        if (waiting) polls_.wake();
    }
    bool takeStop() { return stopRequested_.exchange(false, std::memory_order_acq_rel); }
    void resetForExecutor() {
        mode_.store(RunLoopMode::Default, std::memory_order_release);
        stopRequested_.store(false, std::memory_order_release);
    }

private:
    void wakeAll();
    void runLoop(std::optional<TimeInterval> seconds);
    void runProduction(std::optional<TimeInterval> seconds);

    WorkQueue work_;
    std::vector<std::shared_ptr<TimerImpl>> timers_;  // guarded by work_.mutex
    bool waiting_ = false;                            // guarded by work_.mutex: the loop is in (or entering) poll()
    detail::PollSet polls_;
    std::atomic<RunLoopMode> mode_{RunLoopMode::Default};
    std::atomic<bool> stopRequested_{false};
};

MainRunLoop& mainLoop() {
    static auto* loop = new MainRunLoop;
    return *loop;
}

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
    bool isCurrent() const override {
        return tCurrentQueue == this || (tCurrentQueue == nullptr && onMainThreadRaw());
    }
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

const DispatchQueue* mainQueuePtr() { return DispatchQueue::main().get(); }

// --- executor core, continued -------------------------------------------------------

bool ExecutorCore::runOne(double limit) {
    std::vector<std::shared_ptr<TimerImpl>> pruned;
    std::unique_lock lock(mutex_);
    auto timer = pickTimerLocked(timers_, mainLoop().currentMode(), limit, pruned);
    const bool taskDue = !items_.empty() && items_.begin()->first.first <= limit;
    if (timer && (!taskDue || std::make_pair(timer->dueLocked(), timer->sequenceLocked()) < items_.begin()->first)) {
        clock_->advanceTo(timer->dueLocked());
        prepareFiringLocked(*timer, clock_->uptime(), sequence_++);
        lock.unlock();
        fireScheduled(timer, mainQueuePtr());
        return true;
    }
    if (!taskDue) return false;
    auto node = items_.extract(items_.begin());
    clock_->advanceTo(node.key().first);
    lock.unlock();
    {
        CurrentQueueScope scope(node.mapped().queue);
        node.mapped().task();
    }
    return true;  // `node` (the task and what it captured) is released here, unlocked
}

bool ExecutorCore::hasDueWorkLocked() const {
    const double now = clock_->uptime();
    if (!items_.empty() && items_.begin()->first.first <= now) return true;
    const RunLoopMode mode = mainLoop().currentMode();
    return std::any_of(timers_.begin(), timers_.end(), [&](const std::shared_ptr<TimerImpl>& t) {
        return t->isValid() && t->runsIn(mode) && t->dueLocked() <= now;
    });
}

std::optional<TimeInterval> ExecutorCore::nextDueIn() const {
    std::lock_guard lock(mutex_);
    std::optional<double> next;
    if (!items_.empty()) next = items_.begin()->first.first;
    const RunLoopMode mode = mainLoop().currentMode();
    for (const auto& t : timers_) {
        if (!t->isValid() || !t->runsIn(mode)) continue;
        if (!next || t->dueLocked() < *next) next = t->dueLocked();
    }
    if (!next) return std::nullopt;
    return std::max(0.0, *next - clock_->uptime());
}

// --- main run loop, continued ---------------------------------------------------------

void MainRunLoop::wakeAll() {
    {
        std::lock_guard lock(work_.mutex);
    }
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
    const std::optional<double> deadline =
        seconds ? std::optional<double>(clock().uptime() + *seconds) : std::nullopt;
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

// --- the installed executor's handle -----------------------------------------------------

class ExecutorHandle final : public TestExecutor {
public:
    ExecutorHandle(std::shared_ptr<ExecutorCore> core, std::thread::id previousMain)
        : core_(std::move(core)), previousMain_(previousMain) {}
    ~ExecutorHandle() override {
        {
            auto& state = executorState();
            std::lock_guard lock(state.mutex);
            if (state.core == core_) state.core.reset();
        }
        core_->close();
        setClock(nullptr);
        mainLoop().resetForExecutor();
        mainThreadId().store(previousMain_);
    }
    std::size_t drain() override { return core_->drain(); }
    void advance(TimeInterval seconds) override { core_->advance(seconds); }
    bool runNext() override { return core_->runOne(std::numeric_limits<double>::infinity()); }
    bool runUntil(const std::function<bool()>& done, double realTimeoutSeconds) override {
        return core_->runUntil(done, realTimeoutSeconds);
    }
    std::optional<TimeInterval> nextDueIn() const override { return core_->nextDueIn(); }
    TimeInterval now() const override { return core_->manualClock()->now(); }
    std::size_t pendingCount() const override { return core_->pendingCount(); }
    void wake() override { core_->wake(); }

private:
    std::shared_ptr<ExecutorCore> core_;
    std::thread::id previousMain_;
};

}  // namespace

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

std::unique_ptr<TestExecutor> TestExecutor::install(TimeInterval startTime) {
    auto& state = executorState();
    std::lock_guard lock(state.mutex);
    if (state.core) throw std::logic_error("TestExecutor::install: an executor is already installed");
    auto core = std::make_shared<ExecutorCore>(startTime);
    const std::thread::id previousMain = mainThreadId().exchange(std::this_thread::get_id());
    setClock(core->manualClock());
    mainLoop().resetForExecutor();
    state.core = core;
    return std::make_unique<ExecutorHandle>(std::move(core), previousMain);
}

}  // namespace Foundation
