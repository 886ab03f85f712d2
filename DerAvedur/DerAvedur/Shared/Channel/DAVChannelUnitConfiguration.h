#pragma once
#include <cstddef>
#include <memory>
#include <string>

// How one channel unit batches and sends; immutable once made.
class DAVChannelUnitConfiguration {
public:
    static constexpr unsigned long kDefaultFlushInterval = 3;
    static constexpr std::size_t kDefaultBatchSizeLimit = 50;
    static constexpr std::size_t kDefaultPendingBatchesLimit = 3;

    DAVChannelUnitConfiguration(std::string groupId, long priority, unsigned long flushInterval,
                                std::size_t batchSizeLimit, std::size_t pendingBatchesLimit);

    // Priority 1, batches of 50, 3 in flight.
    static std::shared_ptr<DAVChannelUnitConfiguration> initDefaultConfigurationWithGroupId(
        const std::string& groupId, unsigned long flushInterval = kDefaultFlushInterval);

    const std::string& groupId() const { return groupId_; }
    long priority() const { return priority_; }
    unsigned long flushInterval() const { return flushInterval_; }
    std::size_t batchSizeLimit() const { return batchSizeLimit_; }
    std::size_t pendingBatchesLimit() const { return pendingBatchesLimit_; }

    // A unit needs room for at least one log per batch and one batch in
    // flight: with either limit at 0 it would never send, or never stop trying.
    bool isValid() const { return batchSizeLimit_ > 0 && pendingBatchesLimit_ > 0; }

private:
    std::string groupId_;
    long priority_;
    unsigned long flushInterval_;
    std::size_t batchSizeLimit_;
    std::size_t pendingBatchesLimit_;
};
