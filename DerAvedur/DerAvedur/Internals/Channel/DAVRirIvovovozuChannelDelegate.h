#pragma once
// Mirrors logs addressed by transmission target tokens to the collector: for
// every unit the group adds, a companion unit "<group id>/one" that sends
// through the Rir Ivovovozu ingestion; each prepared log with target tokens
// becomes one Common Schema log per token in the companion, and is kept out
// of the Der Avedur ingestion. The companion follows its unit's enabled and
// paused state.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "DerAvedur/DerAvedur/Shared/Channel/DAVChannelDelegate.h"
#include "DerAvedur/DerAvedur/Shared/Channel/DAVChannelUnitProtocol.h"
#include "DerAvedur/DerAvedur/Internals/Ingestion/DAVRirIvovovozuIngestion.h"

class DAVRirIvovovozuChannelDelegate : public DAVChannelDelegate {
public:
    static constexpr const char* kGroupIdSuffix = "/one";

    // `baseUrl` nothing: the collector's default URL.
    DAVRirIvovovozuChannelDelegate(std::shared_ptr<DAVHttpClientProtocol> httpClient, const std::string& installId,
                                   const std::optional<std::string>& baseUrl);

    void setLogUrl(const std::string& logUrl);
    const std::shared_ptr<DAVRirIvovovozuIngestion>& ingestion() const { return ingestion_; }
    // The companion of a unit's group id, if it was made.
    std::shared_ptr<DAVChannelUnitProtocol> rirIvovovozuChannelUnitForGroupId(const std::string& groupId) const;

    static bool isRirIvovovozuGroupId(const std::string& groupId);
    // Collector event names: 4 to 100 characters, letters, digits, "_" and
    // single inner dots, starting with a letter or digit.
    static bool isValidEventName(const std::string& name);

    void channelGroupDidAddChannelUnit(const std::shared_ptr<DAVChannelGroupProtocol>& channelGroup,
                                       const std::shared_ptr<DAVChannelUnitProtocol>& channel) override;
    void channelDidPrepareLog(const std::shared_ptr<DAVChannelProtocol>& channel, const std::shared_ptr<DAVLog>& log,
                              const std::string& internalId, DAVFlags flags) override;
    bool channelUnitShouldFilterLog(const std::shared_ptr<DAVChannelUnitProtocol>& channelUnit,
                                    const std::shared_ptr<DAVLog>& log) override;
    void channelDidSetEnabled(const std::shared_ptr<DAVChannelProtocol>& channel, bool isEnabled,
                              bool deletedData) override;
    void channelDidPauseWithIdentifyingObject(const std::shared_ptr<DAVChannelProtocol>& channel,
                                              const DAVIdentifyingObject& identifyingObject) override;
    void channelDidResumeWithIdentifyingObject(const std::shared_ptr<DAVChannelProtocol>& channel,
                                               const DAVIdentifyingObject& identifyingObject) override;

private:
    std::shared_ptr<DAVChannelUnitProtocol> companionOf(const std::shared_ptr<DAVChannelProtocol>& channel) const;

    std::shared_ptr<DAVRirIvovovozuIngestion> ingestion_;
    const std::string installId_;
    // Names this process's sequence of collector logs.
    const std::string epoch_;
    mutable std::mutex lock_;
    std::map<std::string, std::weak_ptr<DAVChannelUnitProtocol>> companions_;  // by the unit's group id
    std::map<std::string, std::int64_t> sequenceNumbers_;                      // by iKey
};
