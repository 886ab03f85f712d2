// The test executor: a manual clock and virtual queues that run posted work,
// delayed work and timers on the test's own thread, in due order, when the
// test drains or advances time. Production dispatch is in Dispatch.cpp; the
// executor's core and what it shares with it are in DispatchInternal.h.
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/DispatchInternal.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <thread>

namespace Foundation {
using namespace detail;

namespace {

// --- test executor state --------------------------------------------------------

struct ExecutorState {
    std::mutex mutex;
    std::shared_ptr<ExecutorCore> core;
};

ExecutorState& executorState() {
    static auto* state = new ExecutorState;
    return *state;
}

}  // namespace

namespace detail {

std::shared_ptr<ExecutorCore> currentExecutor() {
    auto& state = executorState();
    std::lock_guard lock(state.mutex);
    return state.core;
}

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

}  // namespace detail

namespace {

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
