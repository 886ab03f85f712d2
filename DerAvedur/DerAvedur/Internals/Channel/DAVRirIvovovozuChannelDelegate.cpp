#include "DerAvedur/DerAvedur/Internals/Channel/DAVRirIvovovozuChannelDelegate.h"

#include <regex>

#include "DerAvedur/DerAvedur/DAVDerAvedurConfiguration.h"
#include "DerAvedur/DerAvedur/Shared/Channel/DAVChannelGroupProtocol.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVCommonSchemaLog.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "Platform/Foundation/Text.h"

namespace {

constexpr const char* kTag = kDAVDerAvedurLogTag;

// The same object, however its pointer was converted.
bool sameObject(const std::shared_ptr<void>& a, const std::shared_ptr<void>& b) {
    return !a.owner_before(b) && !b.owner_before(a);
}

std::string groupIdOf(const std::shared_ptr<DAVChannelProtocol>& channel) {
    auto unit = std::dynamic_pointer_cast<DAVChannelUnitProtocol>(channel);
    return unit ? unit->configuration()->groupId() : std::string();
}

}  // namespace

DAVRirIvovovozuChannelDelegate::DAVRirIvovovozuChannelDelegate(std::shared_ptr<DAVHttpClientProtocol> httpClient,
                                                               const std::string& installId,
                                                               const std::optional<std::string>& baseUrl)
    : ingestion_(std::make_shared<DAVRirIvovovozuIngestion>(
          std::move(httpClient), baseUrl.value_or(DAVDerAvedurConfiguration::defaultRirIvovovozuUrl()))),
      installId_(installId),
      epoch_(Foundation::makeUUIDString()) {}

void DAVRirIvovovozuChannelDelegate::setLogUrl(const std::string& logUrl) { ingestion_->setBaseURL(logUrl); }

bool DAVRirIvovovozuChannelDelegate::isRirIvovovozuGroupId(const std::string& groupId) {
    const std::string suffix = kGroupIdSuffix;
    return groupId.size() >= suffix.size() &&
           groupId.compare(groupId.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool DAVRirIvovovozuChannelDelegate::isValidEventName(const std::string& name) {
    static const std::regex pattern("^[a-zA-Z0-9]((\\.(?!(\\.|$)))|[_a-zA-Z0-9]){3,99}$");
    return std::regex_match(name, pattern);
}

std::shared_ptr<DAVChannelUnitProtocol> DAVRirIvovovozuChannelDelegate::rirIvovovozuChannelUnitForGroupId(
    const std::string& groupId) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = companions_.find(groupId);
    return it == companions_.end() ? nullptr : it->second.lock();
}

std::shared_ptr<DAVChannelUnitProtocol> DAVRirIvovovozuChannelDelegate::companionOf(
    const std::shared_ptr<DAVChannelProtocol>& channel) const {
    const std::string groupId = groupIdOf(channel);
    if (groupId.empty() || isRirIvovovozuGroupId(groupId)) return nullptr;
    return rirIvovovozuChannelUnitForGroupId(groupId);
}

void DAVRirIvovovozuChannelDelegate::channelGroupDidAddChannelUnit(
    const std::shared_ptr<DAVChannelGroupProtocol>& channelGroup,
    const std::shared_ptr<DAVChannelUnitProtocol>& channel) {
    if (!channelGroup || !channel) return;
    auto configuration = channel->configuration();
    if (isRirIvovovozuGroupId(configuration->groupId())) return;
    auto companionConfiguration = std::make_shared<DAVChannelUnitConfiguration>(
        configuration->groupId() + kGroupIdSuffix, configuration->priority(), configuration->flushInterval(),
        configuration->batchSizeLimit(), configuration->pendingBatchesLimit());
    auto companion = channelGroup->addChannelUnitWithConfiguration(companionConfiguration, ingestion_);
    if (!companion) return;
    std::lock_guard<std::mutex> guard(lock_);
    companions_[configuration->groupId()] = companion;
}

void DAVRirIvovovozuChannelDelegate::channelDidPrepareLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                                                          const std::shared_ptr<DAVLog>& log, const std::string&,
                                                          DAVFlags flags) {
    if (!log || std::dynamic_pointer_cast<DAVCommonSchemaLog>(log)) return;
    if (log->transmissionTargetTokens().empty()) return;
    auto companion = companionOf(channel);
    if (!companion) return;
    auto conversion = std::dynamic_pointer_cast<DAVLogConversion>(log);
    if (!conversion) return;
    for (const auto& csLog : conversion->toCommonSchemaLogsWithFlags(flags)) {
        if (!csLog->ext) csLog->ext = std::make_shared<DAVCSExtensions>();
        if (!csLog->ext->sdkExt) csLog->ext->sdkExt = std::make_shared<DAVSDKExtension>();
        {
            std::lock_guard<std::mutex> guard(lock_);
            csLog->ext->sdkExt->installId = installId_;
            csLog->ext->sdkExt->epoch = epoch_;
            csLog->ext->sdkExt->seq = ++sequenceNumbers_[csLog->iKey.value_or("")];
        }
        companion->enqueueItem(csLog, flags);
    }
}

bool DAVRirIvovovozuChannelDelegate::channelUnitShouldFilterLog(
    const std::shared_ptr<DAVChannelUnitProtocol>& channelUnit, const std::shared_ptr<DAVLog>& log) {
    if (!channelUnit || !log) return false;
    if (!isRirIvovovozuGroupId(channelUnit->configuration()->groupId())) {
        // Addressed to the collector: its copy travels in the companion unit.
        return !log->transmissionTargetTokens().empty();
    }
    auto csLog = std::dynamic_pointer_cast<DAVCommonSchemaLog>(log);
    if (!csLog || !csLog->name || !isValidEventName(*csLog->name)) {
        DAVLogError(kTag, "Log of type '%s' is not a valid Common Schema log and will not be sent to the collector.",
                    log->type().value_or("").c_str());
        return true;
    }
    return false;
}

void DAVRirIvovovozuChannelDelegate::channelDidSetEnabled(const std::shared_ptr<DAVChannelProtocol>& channel,
                                                          bool isEnabled, bool deletedData) {
    if (auto companion = companionOf(channel)) companion->setEnabled(isEnabled, deletedData);
}

void DAVRirIvovovozuChannelDelegate::channelDidPauseWithIdentifyingObject(
    const std::shared_ptr<DAVChannelProtocol>& channel, const DAVIdentifyingObject& identifyingObject) {
    // A unit disabled is paused by itself: that pauser is not the companion's.
    if (sameObject(identifyingObject, channel)) return;
    if (auto companion = companionOf(channel)) companion->pauseWithIdentifyingObject(identifyingObject);
}

void DAVRirIvovovozuChannelDelegate::channelDidResumeWithIdentifyingObject(
    const std::shared_ptr<DAVChannelProtocol>& channel, const DAVIdentifyingObject& identifyingObject) {
    if (sameObject(identifyingObject, channel)) return;
    if (auto companion = companionOf(channel)) companion->resumeWithIdentifyingObject(identifyingObject);
}
