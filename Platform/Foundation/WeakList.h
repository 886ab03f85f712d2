#pragma once
// Observers held without owning them: a list of weak pointers that any thread
// may add to, remove from and walk. A walk works on a snapshot of the live
// entries taken under the lock, so a callback may add or remove entries.

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

namespace Foundation {

template <typename T>
class WeakList {
public:
    // Null and an entry already held are ignored; entries whose object is gone
    // are dropped here too, so a list that only grows stays small.
    void add(const std::shared_ptr<T>& entry) {
        if (!entry) return;
        std::lock_guard<std::mutex> guard(mutex_);
        bool held = false;
        entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                      [&](const std::weak_ptr<T>& existing) {
                                          auto live = existing.lock();
                                          if (live == entry) held = true;
                                          return !live;
                                      }),
                       entries_.end());
        if (!held) entries_.push_back(entry);
    }
    // Also drops entries whose object is gone.
    void remove(const std::shared_ptr<T>& entry) {
        std::lock_guard<std::mutex> guard(mutex_);
        entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                      [&](const std::weak_ptr<T>& existing) {
                                          auto live = existing.lock();
                                          return !live || live == entry;
                                      }),
                       entries_.end());
    }
    std::vector<std::shared_ptr<T>> snapshot() const {
        std::vector<std::shared_ptr<T>> live;
        std::lock_guard<std::mutex> guard(mutex_);
        for (const auto& entry : entries_)
            if (auto object = entry.lock()) live.push_back(std::move(object));
        return live;
    }
    template <typename Block>
    void forEach(Block&& block) const {
        for (const auto& entry : snapshot()) block(*entry);
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::weak_ptr<T>> entries_;
};

}  // namespace Foundation
