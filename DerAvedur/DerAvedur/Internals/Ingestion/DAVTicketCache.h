#pragma once
#include <map>
#include <mutex>
#include <optional>
#include <string>

// Collector authentication tickets by ticket key, filled by the application's
// authentication providers and read when a batch is sent. Thread-safe.
class DAVTicketCache {
public:
    static DAVTicketCache& sharedInstance();

    std::optional<std::string> ticketFor(const std::string& key) const;
    void setTicket(const std::string& ticket, const std::string& key);
    void clearCache();

private:
    mutable std::mutex lock_;
    std::map<std::string, std::string> tickets_;
};
