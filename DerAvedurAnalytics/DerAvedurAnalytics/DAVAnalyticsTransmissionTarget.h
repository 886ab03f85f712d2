#pragma once
// A transmission target: events addressed by its token go to the collector
// in the Common Schema form (the collector delegate of the core mirrors
// them), without the ingestion service's property limits. Targets form a
// tree: a child is enabled only while its parents are.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "DerAvedur/DerAvedur/DAVConstants.h"
#include "DerAvedur/DerAvedur/Shared/Channel/DAVChannelGroupProtocol.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/DAVEventProperties.h"
#include "Platform/Foundation/Value.h"

class DAVAnalyticsTransmissionTarget : public std::enable_shared_from_this<DAVAnalyticsTransmissionTarget> {
public:
    // initWithTransmissionTargetToken:parentTarget:channelGroup:
    DAVAnalyticsTransmissionTarget(std::string token,
                                   const std::shared_ptr<DAVAnalyticsTransmissionTarget>& parentTarget,
                                   std::shared_ptr<DAVChannelGroupProtocol> channelGroup);

    const std::string& transmissionTargetToken() const { return token_; }
    // The text before the first "-" of the token.
    std::optional<std::string> targetKey() const;
    std::shared_ptr<DAVAnalyticsTransmissionTarget> parentTarget() const { return parent_.lock(); }

    void trackEvent(const std::string& eventName);
    void trackEvent(const std::string& eventName, const std::optional<Foundation::Dictionary>& properties,
                    DAVFlags flags = DAVFlagsNormal);
    void trackEventWithTypedProperties(const std::string& eventName,
                                       const std::shared_ptr<DAVEventProperties>& properties,
                                       DAVFlags flags = DAVFlagsNormal);

    // A child target, made on first request; nullptr (with an error) for an empty token.
    std::shared_ptr<DAVAnalyticsTransmissionTarget> transmissionTargetForToken(const std::string& token);

    // Its own persisted switch (absent: on) and every parent's.
    bool isEnabled() const;
    void setEnabled(bool isEnabled);
    // Holds back (or lets go) the collector's logs of this token.
    void pause();
    void resume();

    // "AnalyticsIsEnabled/<target key>" in the SDK's user defaults.
    std::string isEnabledKey() const;

private:
    const std::string token_;
    const std::weak_ptr<DAVAnalyticsTransmissionTarget> parent_;
    const std::shared_ptr<DAVChannelGroupProtocol> channelGroup_;
    mutable std::mutex lock_;
    std::map<std::string, std::shared_ptr<DAVAnalyticsTransmissionTarget>> childTransmissionTargets_;
};
