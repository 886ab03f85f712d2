#include "DerAvedur/DerAvedur/Shared/Channel/DAVChannelUnitConfiguration.h"

DAVChannelUnitConfiguration::DAVChannelUnitConfiguration(std::string groupId, long priority,
                                                         unsigned long flushInterval, std::size_t batchSizeLimit,
                                                         std::size_t pendingBatchesLimit)
    : groupId_(std::move(groupId)),
      priority_(priority),
      flushInterval_(flushInterval),
      batchSizeLimit_(batchSizeLimit),
      pendingBatchesLimit_(pendingBatchesLimit) {}

std::shared_ptr<DAVChannelUnitConfiguration> DAVChannelUnitConfiguration::initDefaultConfigurationWithGroupId(
    const std::string& groupId, unsigned long flushInterval) {
    return std::make_shared<DAVChannelUnitConfiguration>(groupId, 1, flushInterval, kDefaultBatchSizeLimit,
                                                         kDefaultPendingBatchesLimit);
}
