#pragma once
// What the production main run loop waits on: poll() over an eventfd that
// posted work and stop() write, plus the registered descriptor sources, and
// the hooks that run before each wait. Internal to Dispatch.cpp.

#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "Platform/Foundation/Dispatch.h"

namespace Foundation::detail {

class PollSet {
public:
    PollSet();
    ~PollSet();
    PollSet(const PollSet&) = delete;
    PollSet& operator=(const PollSet&) = delete;

    // Any thread: ends the current or the next wait.
    void wake();

    RunLoop::SourceId addSource(int fd, short events, RunLoop::SourceCallback callback);
    void setSourceEvents(RunLoop::SourceId id, short events);
    void removeSource(RunLoop::SourceId id);
    RunLoop::SourceId addHook(Task hook);
    void removeHook(RunLoop::SourceId id);

    // Loop thread: the hooks, in the order they were added.
    void runHooks();
    // Loop thread: waits at most `seconds` (none: until woken or a source is
    // ready; 0: only looks), then calls back the sources that are ready.
    void waitAndDispatch(std::optional<double> seconds);

private:
    struct Source {
        int fd;
        short events;
        std::shared_ptr<RunLoop::SourceCallback> callback;
    };

    std::mutex mutex_;
    std::map<RunLoop::SourceId, Source> sources_;
    std::map<RunLoop::SourceId, std::shared_ptr<Task>> hooks_;
    RunLoop::SourceId next_ = 1;
    int wakeFd_ = -1;
};

}  // namespace Foundation::detail
