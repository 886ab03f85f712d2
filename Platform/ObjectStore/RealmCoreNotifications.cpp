// Change notifications of a store instance: its notifiers and their delivery
// on the threads and queues they were added on.

#include <algorithm>

#include "Platform/ObjectStore/detail/Core.h"

namespace ObjectStore {
namespace detail {

// --- notifications ----------------------------------------------------------------------

void RealmCore::addNotifier(const std::shared_ptr<Notifier>& notifier) {
    requireThread();
    notifiers_.add(notifier);
}

bool RealmCore::deliverableHere(const Notifier& n) const {
    if (n.queue == Foundation::DispatchQueue::main()) return Foundation::DispatchQueue::isMainThread();
    return n.queue->isCurrent();
}

void RealmCore::markChanged(const std::unordered_map<std::string, std::unordered_set<std::int64_t>>& modified,
                            const std::vector<NotificationTokenRef>& skip) {
    for (const auto& n : notifiers_.snapshot()) {
        if (n->dead || !n->initialDelivered) continue;
        bool skipped = std::any_of(skip.begin(), skip.end(), [&](auto& t) { return t && t->notifier() == n; });
        if (skipped) {
            n->baseline = n->currentKeys();
            n->modified.clear();
            n->dirty = false;
            continue;
        }
        n->dirty = true;
        if (auto it = modified.find(n->results->className()); it != modified.end())
            n->modified.insert(it->second.begin(), it->second.end());
        scheduleDelivery(n->queue);
    }
}

void RealmCore::scheduleDelivery(const std::shared_ptr<Foundation::DispatchQueue>& queue) {
    if (std::find(scheduled_.begin(), scheduled_.end(), queue) != scheduled_.end()) return;
    scheduled_.push_back(queue);
    std::weak_ptr<RealmCore> weak = std::static_pointer_cast<RealmCore>(shared_from_this());
    queue->async([weak, queue] {
        if (auto core = weak.lock()) {
            core->scheduled_.erase(std::remove(core->scheduled_.begin(), core->scheduled_.end(), queue),
                                   core->scheduled_.end());
            core->deliverPendingOn(queue);
        }
    });
}

void RealmCore::deliverPendingOn(const std::shared_ptr<Foundation::DispatchQueue>& queue) {
    for (const auto& n : notifiers_.snapshot())
        if (n->queue == queue) n->deliverUpdate();
}

void RealmCore::deliverPending() {
    for (const auto& n : notifiers_.snapshot())
        if (deliverableHere(*n)) n->deliverUpdate();
}

}  // namespace detail
}  // namespace ObjectStore
