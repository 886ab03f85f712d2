#include "Platform/Foundation/NotificationCenter.h"

#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

namespace Foundation {

namespace {

struct Observer {
    NotificationCenter::ObserverToken token;
    std::string name;  // empty: every name
    // The sender filter is held weakly (the platform does not retain it); a
    // sender that is gone matches nothing, even if its address is reused.
    bool filtered = false;
    const void* object = nullptr;
    std::weak_ptr<void> objectRef;
    NotificationCenter::Block block;
    std::atomic<bool> removed{false};

    bool matches(const Notification& n) const {
        if (!name.empty() && name != n.name) return false;
        if (!filtered) return true;
        return n.object.get() == object && !objectRef.expired();
    }
};

}  // namespace

struct NotificationCenter::Impl {
    std::mutex mutex;
    std::vector<std::shared_ptr<Observer>> observers;  // in registration order
    ObserverToken nextToken = 1;
};

NotificationCenter::NotificationCenter() : impl_(std::make_shared<Impl>()) {}
NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
    static auto* center = new NotificationCenter;  // immortal: posted to from threads at exit
    return *center;
}

NotificationCenter::ObserverToken NotificationCenter::addObserver(const std::string& name, Block block,
                                                                  std::shared_ptr<void> object) {
    auto observer = std::make_shared<Observer>();
    observer->name = name;
    observer->filtered = object != nullptr;
    observer->object = object.get();
    observer->objectRef = object;
    observer->block = std::move(block);
    std::lock_guard lock(impl_->mutex);
    observer->token = impl_->nextToken++;
    impl_->observers.push_back(std::move(observer));
    return impl_->observers.back()->token;
}

void NotificationCenter::removeObserver(ObserverToken token) {
    std::shared_ptr<Observer> removed;
    {
        std::lock_guard lock(impl_->mutex);
        auto& list = impl_->observers;
        for (auto it = list.begin(); it != list.end(); ++it) {
            if ((*it)->token == token) {
                removed = std::move(*it);
                list.erase(it);
                break;
            }
        }
    }
    // A post in progress holds its own reference; the flag keeps it from
    // calling the block from now on. The block is released outside the lock.
    if (removed) removed->removed.store(true, std::memory_order_release);
}

void NotificationCenter::post(const std::string& name, std::shared_ptr<void> object, Dictionary userInfo) {
    post(Notification{name, std::move(object), std::move(userInfo)});
}

void NotificationCenter::post(const Notification& notification) {
    std::vector<std::shared_ptr<Observer>> targets;
    {
        std::lock_guard lock(impl_->mutex);
        for (const auto& observer : impl_->observers) {
            if (observer->matches(notification)) targets.push_back(observer);
        }
    }
    for (const auto& observer : targets) {
        if (observer->removed.load(std::memory_order_acquire)) continue;
        if (observer->block) observer->block(notification);
    }
}

}  // namespace Foundation
