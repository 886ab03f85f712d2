#include "Platform/Foundation/PollSet.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <vector>

namespace Foundation::detail {
namespace {

// Without an eventfd (descriptors exhausted) the loop still works, re-checking
// its queue this often instead of being woken.
constexpr double kFallbackSlice = 0.01;
// Waits are capped so a clock replaced meanwhile is read again.
constexpr double kLongestWait = 1.0;

}  // namespace

PollSet::PollSet() : wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

PollSet::~PollSet() {
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void PollSet::wake() {
    if (wakeFd_ < 0) return;
    const std::uint64_t one = 1;
    // EAGAIN means the counter is saturated: a wake is pending anyway.
    while (::write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {}
}

RunLoop::SourceId PollSet::addSource(int fd, short events, RunLoop::SourceCallback callback) {
    RunLoop::SourceId id;
    {
        std::lock_guard lock(mutex_);
        id = next_++;
        sources_.emplace(id, Source{fd, events, std::make_shared<RunLoop::SourceCallback>(std::move(callback))});
    }
    wake();  // a waiting loop polls the new descriptor from now on
    return id;
}

void PollSet::setSourceEvents(RunLoop::SourceId id, short events) {
    {
        std::lock_guard lock(mutex_);
        auto it = sources_.find(id);
        if (it == sources_.end()) return;
        it->second.events = events;
    }
    wake();
}

void PollSet::removeSource(RunLoop::SourceId id) {
    std::shared_ptr<RunLoop::SourceCallback> dropped;
    {
        std::lock_guard lock(mutex_);
        auto it = sources_.find(id);
        if (it == sources_.end()) return;
        dropped = std::move(it->second.callback);
        sources_.erase(it);
    }
    wake();
    // `dropped` (and what the callback captured) is released here, unlocked.
}

RunLoop::SourceId PollSet::addHook(Task hook) {
    RunLoop::SourceId id;
    {
        std::lock_guard lock(mutex_);
        id = next_++;
        hooks_.emplace(id, std::make_shared<Task>(std::move(hook)));
    }
    wake();
    return id;
}

void PollSet::removeHook(RunLoop::SourceId id) {
    std::shared_ptr<Task> dropped;
    std::lock_guard lock(mutex_);
    auto it = hooks_.find(id);
    if (it == hooks_.end()) return;
    dropped = std::move(it->second);
    hooks_.erase(it);
}

void PollSet::runHooks() {
    std::vector<std::pair<RunLoop::SourceId, std::shared_ptr<Task>>> hooks;
    {
        std::lock_guard lock(mutex_);
        hooks.assign(hooks_.begin(), hooks_.end());
    }
    for (auto& [id, hook] : hooks) {
        bool live;
        {
            std::lock_guard lock(mutex_);
            live = hooks_.count(id) != 0;
        }
        if (live && *hook) (*hook)();
    }
}

void PollSet::waitAndDispatch(std::optional<double> seconds) {
    std::vector<pollfd> fds;
    std::vector<RunLoop::SourceId> ids;
    {
        std::lock_guard lock(mutex_);
        fds.reserve(sources_.size() + 1);
        ids.reserve(sources_.size());
        fds.push_back({wakeFd_, POLLIN, 0});  // a negative descriptor is skipped by poll()
        for (const auto& [id, source] : sources_) {
            fds.push_back({source.fd, source.events, 0});
            ids.push_back(id);
        }
    }
    if (wakeFd_ < 0) seconds = std::min(seconds.value_or(kFallbackSlice), kFallbackSlice);
    timespec timeout{};
    timespec* timeoutPtr = nullptr;
    if (seconds) {
        const double s = std::isnan(*seconds) ? 0.0 : std::clamp(*seconds, 0.0, kLongestWait);
        timeout.tv_sec = static_cast<time_t>(s);
        timeout.tv_nsec = static_cast<long>(std::ceil((s - static_cast<double>(timeout.tv_sec)) * 1e9));
        if (timeout.tv_nsec >= 1'000'000'000L) {
            ++timeout.tv_sec;
            timeout.tv_nsec -= 1'000'000'000L;
        }
        timeoutPtr = &timeout;
    }
    const int ready = ::ppoll(fds.data(), fds.size(), timeoutPtr, nullptr);
    if (ready <= 0) return;  // timed out or interrupted: the loop looks again
    if (fds[0].revents & POLLIN) {
        std::uint64_t count;
        while (::read(wakeFd_, &count, sizeof count) < 0 && errno == EINTR) {}
    }
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const short revents = fds[i + 1].revents;
        if (revents == 0) continue;
        std::shared_ptr<RunLoop::SourceCallback> callback;
        {
            std::lock_guard lock(mutex_);
            auto it = sources_.find(ids[i]);
            if (it == sources_.end()) continue;  // removed earlier in this round
            callback = it->second.callback;
        }
        if (callback && *callback) (*callback)(revents);
        // Error, hang-up and a closed descriptor would be reported again at once, for ever: the
        // source has been told, and goes.
        if (revents & (POLLERR | POLLHUP | POLLNVAL)) removeSource(ids[i]);
    }
}

}  // namespace Foundation::detail
