#pragma once
// A process-wide instance made on first use, the one way singletons are kept.
//
//   std::shared_ptr<Cache> Cache::sharedInstance() { return Foundation::SharedInstance<Cache>::process().get(); }
//
// `get` makes the instance once however many threads ask at the same time.
// `reset` (tests) forgets it: the next `get` makes a fresh one, while whoever
// still holds the old one keeps it alive. The old one is handed back so its
// owner can stop it; it is released outside the holder's lock, so its
// destructor may reach shared instances again.

#include <memory>
#include <mutex>

namespace Foundation {

template <class T>
class SharedInstance {
public:
    // The process's holder for T. Never destroyed: queues may still reach the
    // instance while the process exits.
    static SharedInstance& process() {
        static auto* holder = new SharedInstance;
        return *holder;
    }

    SharedInstance() = default;
    SharedInstance(const SharedInstance&) = delete;
    SharedInstance& operator=(const SharedInstance&) = delete;

    std::shared_ptr<T> get() {
        std::lock_guard<std::mutex> guard(lock_);
        if (!instance_) instance_ = std::make_shared<T>();
        return instance_;
    }

    // The instance forgotten, or null when none was made.
    std::shared_ptr<T> reset() {
        std::shared_ptr<T> previous;
        std::lock_guard<std::mutex> guard(lock_);
        previous.swap(instance_);
        return previous;
    }

private:
    std::mutex lock_;
    std::shared_ptr<T> instance_;
};

}  // namespace Foundation
