#include "DerAvedur/DerAvedur/Shared/Util/DAVDispatcherUtil.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

void DAVDispatcherUtil::performBlockOnMainThread(std::function<void()> block) {
    if (!block) return;
    Foundation::DispatchQueue::main()->async(std::move(block));
}

void DAVDispatcherUtil::dispatchSyncWithTimeout(double timeout, const std::shared_ptr<Foundation::DispatchQueue>& queue,
                                                std::function<void()> block) {
    if (!queue || !block) return;
    // Shared with the queued task, which may outlive this wait.
    struct Signal {
        std::mutex lock;
        std::condition_variable done;
        bool finished = false;
    };
    auto signal = std::make_shared<Signal>();
    queue->async([signal, block = std::move(block)] {
        block();
        std::lock_guard<std::mutex> guard(signal->lock);
        signal->finished = true;
        signal->done.notify_all();
    });
    std::unique_lock<std::mutex> guard(signal->lock);
    signal->done.wait_for(guard, std::chrono::duration<double>(timeout < 0 ? 0 : timeout),
                          [&] { return signal->finished; });
}
