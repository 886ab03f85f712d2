#pragma once
// Notifications by name, with an object and a userInfo dictionary. Block
// observers run synchronously on the poster's thread, in order of
// registration. Adding, removing and posting are safe from any thread; a post
// calls its observers outside the center's lock, so blocks may add, remove
// and post themselves. Once removeObserver returns, the observer is not called
// again (a call already running on another thread may still finish).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Platform/Foundation/Value.h"

namespace Foundation {

struct Notification {
    std::string name;
    std::shared_ptr<void> object;  // the sender, may be null
    Dictionary userInfo;
};

class NotificationCenter {
public:
    using ObserverToken = std::uint64_t;
    using Block = std::function<void(const Notification&)>;

    static NotificationCenter& defaultCenter();

    // `name` empty: every name. `object` non-null: only notifications from
    // that sender (held weakly, compared by identity).
    ObserverToken addObserver(const std::string& name, Block block, std::shared_ptr<void> object = nullptr);
    void removeObserver(ObserverToken token);
    void post(const std::string& name, std::shared_ptr<void> object = nullptr, Dictionary userInfo = {});
    void post(const Notification& notification);

private:
    struct Impl;
    std::shared_ptr<Impl> impl_ = nullptr;

public:
    NotificationCenter();
    ~NotificationCenter();
};

}  // namespace Foundation
