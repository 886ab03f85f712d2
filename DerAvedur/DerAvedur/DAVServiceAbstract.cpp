#include "DerAvedur/DerAvedur/DAVServiceAbstract.h"

#include "DerAvedur/DerAvedur/DAVDerAvedur.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVDerAvedurUserDefaults.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"

bool DAVServiceAbstract::isAvailable() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return channelGroup_ != nullptr;
}

bool DAVServiceAbstract::isStartedFromApplication() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return startedFromApplication_;
}

void DAVServiceAbstract::startWithChannelGroup(const std::shared_ptr<DAVChannelGroupProtocol>& channelGroup,
                                               const std::optional<std::string>& appSecret,
                                               const std::optional<std::string>& transmissionTargetToken,
                                               bool fromApplication) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    startedFromApplication_ = fromApplication;
    channelGroup_ = channelGroup;
    appSecret_ = appSecret;
    defaultTransmissionTargetToken_ = transmissionTargetToken;
    if (auto configuration = channelUnitConfiguration(); configuration && channelGroup_)
        channelUnit_ = channelGroup_->addChannelUnitWithConfiguration(configuration);
    applyEnabledState(isInstanceEnabled());
}

void DAVServiceAbstract::updateConfigurationWithAppSecret(const std::optional<std::string>& appSecret,
                                                          const std::optional<std::string>& transmissionTargetToken) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    startedFromApplication_ = true;
    if (!appSecret_) appSecret_ = appSecret;
    if (!defaultTransmissionTargetToken_) defaultTransmissionTargetToken_ = transmissionTargetToken;
}

bool DAVServiceAbstract::isServiceEnabled() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return canBeUsed() && isInstanceEnabled();
}

void DAVServiceAbstract::setServiceEnabled(bool isEnabled) {
    if (!canBeUsed()) return;
    // Asked before taking our own lock: the SDK entry calls in holding its lock.
    auto sdk = DAVDerAvedur::sharedInstance();
    if (!sdk->enabledStateUpdating() && !DAVDerAvedur::isEnabled()) {
        DAVLogError(logTag(), "The SDK is disabled, set it enabled before changing the enabled state of %s.",
                    serviceName().c_str());
        return;
    }
    setInstanceEnabled(isEnabled);
}

std::string DAVServiceAbstract::isEnabledKey() const { return groupId() + "IsEnabled"; }

bool DAVServiceAbstract::isInstanceEnabled() const {
    Foundation::Value value = DAVDerAvedurUserDefaults::shared().objectForKey(isEnabledKey());
    if (value.isBool()) return value.asBool();
    if (auto number = value.integerValue()) return *number != 0;
    return true;
}

void DAVServiceAbstract::setInstanceEnabled(bool isEnabled) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (isInstanceEnabled() == isEnabled) return;
    DAVDerAvedurUserDefaults::shared().setObject(Foundation::Value(isEnabled), isEnabledKey());
    applyEnabledState(isEnabled);
    DAVLogInfo(logTag(), "%s service has been %s.", serviceName().c_str(), isEnabled ? "enabled" : "disabled");
}

void DAVServiceAbstract::applyEnabledState(bool isEnabled) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (channelUnit_) channelUnit_->setEnabled(isEnabled, true);
}

std::shared_ptr<DAVChannelUnitConfiguration> DAVServiceAbstract::channelUnitConfiguration() const { return nullptr; }

bool DAVServiceAbstract::canBeUsed() const {
    if (isAvailable()) return true;
    DAVLogError(logTag(),
                "%s service hasn't been started. You need to call [DAVDerAvedur start:YOUR_APP_SECRET "
                "withServices:LIST_OF_SERVICES] first.",
                serviceName().c_str());
    return false;
}

std::shared_ptr<DAVChannelGroupProtocol> DAVServiceAbstract::channelGroup() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return channelGroup_;
}

std::shared_ptr<DAVChannelUnitProtocol> DAVServiceAbstract::channelUnit() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return channelUnit_;
}

std::optional<std::string> DAVServiceAbstract::appSecret() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return appSecret_;
}

std::optional<std::string> DAVServiceAbstract::defaultTransmissionTargetToken() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return defaultTransmissionTargetToken_;
}
