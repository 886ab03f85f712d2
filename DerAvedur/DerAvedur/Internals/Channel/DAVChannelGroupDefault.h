#pragma once
// What all channel units share: the serial queue
// "com.vaveruvav.deravedur.ChannelGroupQueue", the log store, the Der Avedur
// ingestion and the list of units. The group is the delegate of each unit and
// passes every unit callback on to its own delegates.

#include <memory>
#include <mutex>
#include <vector>

#include "DerAvedur/DerAvedur/Shared/Channel/DAVChannelDelegate.h"
#include "DerAvedur/DerAvedur/Shared/Channel/DAVChannelGroupProtocol.h"
#include "DerAvedur/DerAvedur/Internals/Channel/DAVChannelUnitDependencies.h"
#include "DerAvedur/DerAvedur/Internals/Ingestion/DAVDerAvedurIngestion.h"
#include "DerAvedur/DerAvedur/Internals/Storage/DAVStorage.h"
#include "Platform/Foundation/WeakList.h"

class DAVChannelGroupDefault : public DAVChannelGroupProtocol,
                               public DAVChannelDelegate,
                               public std::enable_shared_from_this<DAVChannelGroupDefault> {
public:
    static constexpr const char* kLogsDispatchQueueLabel = "com.vaveruvav.deravedur.ChannelGroupQueue";

    // initWithHttpClient:installId:logUrl:
    DAVChannelGroupDefault(std::shared_ptr<DAVHttpClientProtocol> httpClient, const std::string& installId,
                           const std::string& logUrl, DAVChannelUnitDependencies unitDependencies);
    // initWithIngestion:; the store is "Logs.sqlite" unless another is given.
    // Every unit added gets `unitDependencies`.
    DAVChannelGroupDefault(std::shared_ptr<DAVDerAvedurIngestion> ingestion, std::shared_ptr<DAVStorage> storage,
                           DAVChannelUnitDependencies unitDependencies);

    // --- DAVChannelGroupProtocol ---------------------------------------------
    std::shared_ptr<DAVChannelUnitProtocol> addChannelUnitWithConfiguration(
        const std::shared_ptr<DAVChannelUnitConfiguration>& configuration) override;
    std::shared_ptr<DAVChannelUnitProtocol> addChannelUnitWithConfiguration(
        const std::shared_ptr<DAVChannelUnitConfiguration>& configuration,
        const std::shared_ptr<DAVIngestionProtocol>& ingestion) override;
    void setMaxStorageSize(std::int64_t sizeInBytes, std::function<void(bool success)> completionHandler) override;
    std::shared_ptr<DAVChannelUnitProtocol> channelUnitForGroupId(const std::string& groupId) override;
    std::optional<std::string> logUrl() const override;
    void setLogUrl(const std::string& logUrl) override;
    std::optional<std::string> appSecret() const override;
    void setAppSecret(const std::optional<std::string>& appSecret) override;

    // --- DAVChannelProtocol ------------------------------------------------------
    void addDelegate(const std::shared_ptr<DAVChannelDelegate>& delegate) override;
    void removeDelegate(const std::shared_ptr<DAVChannelDelegate>& delegate) override;
    // The ingestion first, then every unit in the order added, then the
    // group's delegates hear of it with the group as the channel.
    void setEnabled(bool isEnabled, bool deleteDataOnDisabled) override;
    // The ingestion stops (or resumes) sending, then every unit pauses (resumes).
    void pauseWithIdentifyingObject(const DAVIdentifyingObject& identifyingObject) override;
    void resumeWithIdentifyingObject(const DAVIdentifyingObject& identifyingObject) override;

    void enumerateDelegatesWithBlock(const std::function<void(DAVChannelDelegate&)>& block);

    // --- DAVChannelDelegate: the units' callbacks, passed on -----------------------
    void channelPrepareLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                           const std::shared_ptr<DAVLog>& log) override;
    void channelDidPrepareLog(const std::shared_ptr<DAVChannelProtocol>& channel, const std::shared_ptr<DAVLog>& log,
                              const std::string& internalId, DAVFlags flags) override;
    void channelDidCompleteEnqueueingLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                                         const std::shared_ptr<DAVLog>& log, const std::string& internalId) override;
    void channelWillSendLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                            const std::shared_ptr<DAVLog>& log) override;
    void channelDidSucceedSendingLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                                     const std::shared_ptr<DAVLog>& log) override;
    void channelDidSetEnabled(const std::shared_ptr<DAVChannelProtocol>& channel, bool isEnabled,
                              bool deletedData) override;
    void channelDidFailSendingLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                                  const std::shared_ptr<DAVLog>& log,
                                  const std::optional<Foundation::Error>& error) override;
    void channelDidPauseWithIdentifyingObject(const std::shared_ptr<DAVChannelProtocol>& channel,
                                              const DAVIdentifyingObject& identifyingObject) override;
    void channelDidResumeWithIdentifyingObject(const std::shared_ptr<DAVChannelProtocol>& channel,
                                               const DAVIdentifyingObject& identifyingObject) override;
    // Asks the delegates in turn; the first that filters decides.
    bool channelUnitShouldFilterLog(const std::shared_ptr<DAVChannelUnitProtocol>& channelUnit,
                                    const std::shared_ptr<DAVLog>& log) override;

    const std::shared_ptr<DAVDerAvedurIngestion>& ingestion() const { return ingestion_; }
    const std::shared_ptr<DAVStorage>& storage() const { return storage_; }
    const std::shared_ptr<Foundation::DispatchQueue>& logsDispatchQueue() const { return logsDispatchQueue_; }
    std::vector<std::shared_ptr<DAVChannelUnitProtocol>> channels() const;

private:
    mutable std::mutex lock_;  // delegates and channels
    Foundation::WeakList<DAVChannelDelegate> delegates_;
    std::shared_ptr<DAVDerAvedurIngestion> ingestion_;
    std::shared_ptr<DAVStorage> storage_;
    std::shared_ptr<Foundation::DispatchQueue> logsDispatchQueue_;
    const DAVChannelUnitDependencies unitDependencies_;
    std::vector<std::shared_ptr<DAVChannelUnitProtocol>> channels_;
};
