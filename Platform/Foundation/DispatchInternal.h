// Dispatch internals shared by the production queues (Dispatch.cpp) and the
// test executor (DispatchTestExecutor.cpp): the manual clock, the current-queue
// marker, the work queue, timers, the executor's core and the main run loop.
// Private to this folder; not part of the Foundation interface.
#pragma once

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/PollSet.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace Foundation::detail {

// --- clock -------------------------------------------------------------------

class ManualClock final : public Clock {
public:
    explicit ManualClock(TimeInterval start) : start_(start) {}
    TimeInterval now() const override { return start_ + elapsed_.load(std::memory_order_acquire); }
    TimeInterval uptime() const override { return elapsed_.load(std::memory_order_acquire); }
    // Moves forward only.
    void advanceTo(TimeInterval uptime) {
        double current = elapsed_.load(std::memory_order_acquire);
        while (uptime > current && !elapsed_.compare_exchange_weak(current, uptime, std::memory_order_acq_rel)) {}
    }

private:
    const TimeInterval start_;
    std::atomic<double> elapsed_{0.0};
};

// --- threads ------------------------------------------------------------------

// The queue whose task this thread is running (nullptr: none).
inline thread_local const DispatchQueue* tCurrentQueue = nullptr;

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
std::atomic<std::thread::id>& mainThreadId();

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
                                           std::optional<double>* nextDue = nullptr);

// Updates a picked timer's schedule (caller holds the scheduler's lock).
void prepareFiringLocked(TimerImpl& timer, double now, std::uint64_t sequence);

// Fires a picked timer outside every lock.
void fireScheduled(const std::shared_ptr<TimerImpl>& timer, const DispatchQueue* mainQueue);

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

std::shared_ptr<ExecutorCore> currentExecutor();

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

MainRunLoop& mainLoop();

const DispatchQueue* mainQueuePtr();

}  // namespace Foundation::detail
