#include "DerAvedur/DerAvedur/Internals/Channel/DAVChannelGroupDefault.h"

#include <algorithm>

#include "DerAvedur/DerAvedur/Internals/Channel/DAVChannelUnitDefault.h"
#include "DerAvedur/DerAvedur/Internals/Storage/DAVLogDBStorage.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"

DAVChannelGroupDefault::DAVChannelGroupDefault(std::shared_ptr<DAVHttpClientProtocol> httpClient,
                                               const std::string& installId, const std::string& logUrl,
                                               DAVChannelUnitDependencies unitDependencies)
    : DAVChannelGroupDefault(std::make_shared<DAVDerAvedurIngestion>(std::move(httpClient), logUrl, installId), nullptr,
                             std::move(unitDependencies)) {}

DAVChannelGroupDefault::DAVChannelGroupDefault(std::shared_ptr<DAVDerAvedurIngestion> ingestion,
                                               std::shared_ptr<DAVStorage> storage,
                                               DAVChannelUnitDependencies unitDependencies)
    : ingestion_(std::move(ingestion)),
      storage_(storage ? std::move(storage) : std::make_shared<DAVLogDBStorage>()),
      logsDispatchQueue_(Foundation::DispatchQueue::makeSerial(kLogsDispatchQueueLabel)),
      unitDependencies_(std::move(unitDependencies)) {}

std::shared_ptr<DAVChannelUnitProtocol> DAVChannelGroupDefault::addChannelUnitWithConfiguration(
    const std::shared_ptr<DAVChannelUnitConfiguration>& configuration) {
    return addChannelUnitWithConfiguration(configuration, nullptr);
}

std::shared_ptr<DAVChannelUnitProtocol> DAVChannelGroupDefault::addChannelUnitWithConfiguration(
    const std::shared_ptr<DAVChannelUnitConfiguration>& configuration,
    const std::shared_ptr<DAVIngestionProtocol>& ingestion) {
    if (!configuration) return nullptr;
    if (!configuration->isValid()) {
        DAVLogError(kDAVDerAvedurLogTag,
                    "Cannot add channel unit %s: its batch size limit and pending batches limit must be above 0.",
                    configuration->groupId().c_str());
        return nullptr;
    }
    std::shared_ptr<DAVIngestionProtocol> unitIngestion = ingestion;
    if (!unitIngestion) unitIngestion = ingestion_;
    auto unit = std::make_shared<DAVChannelUnitDefault>(unitIngestion, storage_, configuration, logsDispatchQueue_,
                                                        unitDependencies_);
    unit->addDelegate(shared_from_this());
    // Logs an earlier run left in the store are sent as if just stored.
    logsDispatchQueue_->async([unit] { unit->checkStoredLogs(); });
    {
        std::lock_guard<std::mutex> guard(lock_);
        channels_.push_back(unit);
    }
    auto self = shared_from_this();
    enumerateDelegatesWithBlock(
        [&](DAVChannelDelegate& delegate) { delegate.channelGroupDidAddChannelUnit(self, unit); });
    return unit;
}

std::shared_ptr<DAVChannelUnitProtocol> DAVChannelGroupDefault::channelUnitForGroupId(const std::string& groupId) {
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto& unit : channels_)
        if (unit->configuration()->groupId() == groupId) return unit;
    return nullptr;
}

std::vector<std::shared_ptr<DAVChannelUnitProtocol>> DAVChannelGroupDefault::channels() const {
    std::lock_guard<std::mutex> guard(lock_);
    return channels_;
}

void DAVChannelGroupDefault::setMaxStorageSize(std::int64_t sizeInBytes,
                                               std::function<void(bool success)> completionHandler) {
    auto storage = storage_;
    logsDispatchQueue_->async([storage, sizeInBytes, completionHandler] {
        storage->setMaxStorageSize(sizeInBytes, [completionHandler](bool success) {
            if (completionHandler) completionHandler(success);
        });
    });
}

std::optional<std::string> DAVChannelGroupDefault::logUrl() const {
    if (!ingestion_) return std::nullopt;
    return ingestion_->baseURL();
}

void DAVChannelGroupDefault::setLogUrl(const std::string& logUrl) {
    if (ingestion_) ingestion_->setBaseURL(logUrl);
}

std::optional<std::string> DAVChannelGroupDefault::appSecret() const {
    if (!ingestion_) return std::nullopt;
    return ingestion_->appSecret();
}

void DAVChannelGroupDefault::setAppSecret(const std::optional<std::string>& appSecret) {
    if (ingestion_) ingestion_->setAppSecret(appSecret);
}

// --- delegates -------------------------------------------------------------------

void DAVChannelGroupDefault::addDelegate(const std::shared_ptr<DAVChannelDelegate>& delegate) {
    delegates_.add(delegate);
}

void DAVChannelGroupDefault::removeDelegate(const std::shared_ptr<DAVChannelDelegate>& delegate) {
    delegates_.remove(delegate);
}

void DAVChannelGroupDefault::enumerateDelegatesWithBlock(const std::function<void(DAVChannelDelegate&)>& block) {
    delegates_.forEach(block);
}

// --- enabling and pausing ----------------------------------------------------------

void DAVChannelGroupDefault::setEnabled(bool isEnabled, bool deleteDataOnDisabled) {
    if (ingestion_) ingestion_->setEnabled(isEnabled, deleteDataOnDisabled);
    for (const auto& unit : channels()) unit->setEnabled(isEnabled, deleteDataOnDisabled);
    auto self = shared_from_this();
    enumerateDelegatesWithBlock(
        [&](DAVChannelDelegate& delegate) { delegate.channelDidSetEnabled(self, isEnabled, deleteDataOnDisabled); });
}

void DAVChannelGroupDefault::pauseWithIdentifyingObject(const DAVIdentifyingObject& identifyingObject) {
    if (ingestion_) ingestion_->setEnabled(false, false);
    for (const auto& unit : channels()) unit->pauseWithIdentifyingObject(identifyingObject);
}

void DAVChannelGroupDefault::resumeWithIdentifyingObject(const DAVIdentifyingObject& identifyingObject) {
    if (ingestion_) ingestion_->setEnabled(true, false);
    for (const auto& unit : channels()) unit->resumeWithIdentifyingObject(identifyingObject);
}

// --- forwarding ----------------------------------------------------------------------

void DAVChannelGroupDefault::channelPrepareLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                                               const std::shared_ptr<DAVLog>& log) {
    enumerateDelegatesWithBlock([&](DAVChannelDelegate& delegate) { delegate.channelPrepareLog(channel, log); });
}

void DAVChannelGroupDefault::channelDidPrepareLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                                                  const std::shared_ptr<DAVLog>& log, const std::string& internalId,
                                                  DAVFlags flags) {
    enumerateDelegatesWithBlock(
        [&](DAVChannelDelegate& delegate) { delegate.channelDidPrepareLog(channel, log, internalId, flags); });
}

void DAVChannelGroupDefault::channelDidCompleteEnqueueingLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                                                             const std::shared_ptr<DAVLog>& log,
                                                             const std::string& internalId) {
    enumerateDelegatesWithBlock(
        [&](DAVChannelDelegate& delegate) { delegate.channelDidCompleteEnqueueingLog(channel, log, internalId); });
}

void DAVChannelGroupDefault::channelWillSendLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                                                const std::shared_ptr<DAVLog>& log) {
    enumerateDelegatesWithBlock([&](DAVChannelDelegate& delegate) { delegate.channelWillSendLog(channel, log); });
}

void DAVChannelGroupDefault::channelDidSucceedSendingLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                                                         const std::shared_ptr<DAVLog>& log) {
    enumerateDelegatesWithBlock(
        [&](DAVChannelDelegate& delegate) { delegate.channelDidSucceedSendingLog(channel, log); });
}

void DAVChannelGroupDefault::channelDidSetEnabled(const std::shared_ptr<DAVChannelProtocol>& channel, bool isEnabled,
                                                  bool deletedData) {
    enumerateDelegatesWithBlock(
        [&](DAVChannelDelegate& delegate) { delegate.channelDidSetEnabled(channel, isEnabled, deletedData); });
}

void DAVChannelGroupDefault::channelDidFailSendingLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                                                      const std::shared_ptr<DAVLog>& log,
                                                      const std::optional<Foundation::Error>& error) {
    enumerateDelegatesWithBlock(
        [&](DAVChannelDelegate& delegate) { delegate.channelDidFailSendingLog(channel, log, error); });
}

void DAVChannelGroupDefault::channelDidPauseWithIdentifyingObject(const std::shared_ptr<DAVChannelProtocol>& channel,
                                                                  const DAVIdentifyingObject& identifyingObject) {
    enumerateDelegatesWithBlock([&](DAVChannelDelegate& delegate) {
        delegate.channelDidPauseWithIdentifyingObject(channel, identifyingObject);
    });
}

void DAVChannelGroupDefault::channelDidResumeWithIdentifyingObject(const std::shared_ptr<DAVChannelProtocol>& channel,
                                                                   const DAVIdentifyingObject& identifyingObject) {
    enumerateDelegatesWithBlock([&](DAVChannelDelegate& delegate) {
        delegate.channelDidResumeWithIdentifyingObject(channel, identifyingObject);
    });
}

bool DAVChannelGroupDefault::channelUnitShouldFilterLog(const std::shared_ptr<DAVChannelUnitProtocol>& channelUnit,
                                                        const std::shared_ptr<DAVLog>& log) {
    bool filtered = false;
    enumerateDelegatesWithBlock([&](DAVChannelDelegate& delegate) {
        if (!filtered) filtered = delegate.channelUnitShouldFilterLog(channelUnit, log);
    });
    return filtered;
}
