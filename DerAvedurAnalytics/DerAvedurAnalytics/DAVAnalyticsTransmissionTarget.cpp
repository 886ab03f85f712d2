#include "DerAvedurAnalytics/DerAvedurAnalytics/DAVAnalyticsTransmissionTarget.h"

#include "DerAvedur/DerAvedur/Shared/Util/DAVDerAvedurUserDefaults.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/DAVAnalytics.h"

DAVAnalyticsTransmissionTarget::DAVAnalyticsTransmissionTarget(
    std::string token, const std::shared_ptr<DAVAnalyticsTransmissionTarget>& parentTarget,
    std::shared_ptr<DAVChannelGroupProtocol> channelGroup)
    : token_(std::move(token)), parent_(parentTarget), channelGroup_(std::move(channelGroup)) {}

std::optional<std::string> DAVAnalyticsTransmissionTarget::targetKey() const {
    return DAVUtility::targetKeyFromTargetToken(token_);
}

void DAVAnalyticsTransmissionTarget::trackEvent(const std::string& eventName) {
    trackEvent(eventName, std::nullopt, DAVFlagsNormal);
}

void DAVAnalyticsTransmissionTarget::trackEvent(const std::string& eventName,
                                                const std::optional<Foundation::Dictionary>& properties,
                                                DAVFlags flags) {
    DAVAnalytics::trackEvent(eventName, properties, shared_from_this(), flags);
}

void DAVAnalyticsTransmissionTarget::trackEventWithTypedProperties(
    const std::string& eventName, const std::shared_ptr<DAVEventProperties>& properties, DAVFlags flags) {
    DAVAnalytics::trackEventWithTypedProperties(eventName, properties, shared_from_this(), flags);
}

std::shared_ptr<DAVAnalyticsTransmissionTarget> DAVAnalyticsTransmissionTarget::transmissionTargetForToken(
    const std::string& token) {
    if (token.empty()) {
        DAVLogError(DAVAnalytics::kLogTag, "Transmission target token may not be null or empty.");
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(lock_);
    auto& child = childTransmissionTargets_[token];
    if (!child) child = std::make_shared<DAVAnalyticsTransmissionTarget>(token, shared_from_this(), channelGroup_);
    return child;
}

std::string DAVAnalyticsTransmissionTarget::isEnabledKey() const {
    return std::string(DAVAnalytics::kGroupId) + "IsEnabled/" + targetKey().value_or(token_);
}

bool DAVAnalyticsTransmissionTarget::isEnabled() const {
    if (auto parent = parentTarget(); parent && !parent->isEnabled()) return false;
    Foundation::Value stored = DAVDerAvedurUserDefaults::shared().objectForKey(isEnabledKey());
    if (auto number = stored.integerValue()) return *number != 0;
    return true;
}

void DAVAnalyticsTransmissionTarget::setEnabled(bool isEnabled) {
    DAVDerAvedurUserDefaults::shared().setObject(Foundation::Value(isEnabled), isEnabledKey());
}

void DAVAnalyticsTransmissionTarget::pause() { DAVAnalytics::pauseTransmissionTargetForToken(token_); }

void DAVAnalyticsTransmissionTarget::resume() { DAVAnalytics::resumeTransmissionTargetForToken(token_); }
