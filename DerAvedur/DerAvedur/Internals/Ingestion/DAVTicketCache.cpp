#include "DerAvedur/DerAvedur/Internals/Ingestion/DAVTicketCache.h"

#include "Platform/Foundation/SharedInstance.h"

DAVTicketCache& DAVTicketCache::sharedInstance() {
    return *Foundation::SharedInstance<DAVTicketCache>::process().get();
}

std::optional<std::string> DAVTicketCache::ticketFor(const std::string& key) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = tickets_.find(key);
    if (it == tickets_.end()) return std::nullopt;
    return it->second;
}

void DAVTicketCache::setTicket(const std::string& ticket, const std::string& key) {
    std::lock_guard<std::mutex> guard(lock_);
    tickets_[key] = ticket;
}

void DAVTicketCache::clearCache() {
    std::lock_guard<std::mutex> guard(lock_);
    tickets_.clear();
}
