#include "DerAvedurAnalytics/DerAvedurAnalytics/DAVAnalytics.h"

#include "DerAvedur/DerAvedur/Shared/Channel/DAVChannelUnitConfiguration.h"
#include "DerAvedur/DerAvedur/Shared/Context/DAVSessionContext.h"
#include "DerAvedur/DerAvedur/Shared/Context/DAVUserIdContext.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVDerAvedurUserDefaults.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/DAVAnalyticsConstants.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVAnalyticsCodingClasses.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVEventLog.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVPageLog.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Session/DAVAnalyticsCategory.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Validation/DAVAnalyticsValidation.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/SharedInstance.h"
#include "Platform/Foundation/Text.h"

namespace {

constexpr const char* kTag = DAVAnalytics::kLogTag;

std::string criticalGroupId() { return Foundation::format("%s_%s", kDAVAnalyticsGroupId, kDAVCriticalChannelSuffix); }

}  // namespace

// --- class methods ---------------------------------------------------------------------

std::shared_ptr<DAVAnalytics> DAVAnalytics::sharedInstance() {
    return Foundation::SharedInstance<DAVAnalytics>::process().get();
}

void DAVAnalytics::resetSharedInstance() {
    if (auto previous = Foundation::SharedInstance<DAVAnalytics>::process().reset()) previous->sessionTracker_->stop();
}

DAVServiceClass DAVAnalytics::serviceClass() { return DAVServiceClass::of<DAVAnalytics>("DAVAnalytics"); }

void DAVAnalytics::trackEvent(const std::string& eventName) { trackEvent(eventName, std::nullopt, DAVFlagsNormal); }

void DAVAnalytics::trackEvent(const std::string& eventName, const std::optional<Foundation::Dictionary>& properties,
                              DAVFlags flags) {
    trackEvent(eventName, properties, nullptr, flags);
}

void DAVAnalytics::trackEvent(const std::string& eventName, const std::optional<Foundation::Dictionary>& properties,
                              const std::shared_ptr<DAVAnalyticsTransmissionTarget>& transmissionTarget,
                              DAVFlags flags) {
    sharedInstance()->instanceTrackEvent(eventName, properties, transmissionTarget, flags);
}

void DAVAnalytics::trackEventWithTypedProperties(const std::string& eventName,
                                                 const std::shared_ptr<DAVEventProperties>& properties,
                                                 DAVFlags flags) {
    trackEventWithTypedProperties(eventName, properties, nullptr, flags);
}

void DAVAnalytics::trackEventWithTypedProperties(
    const std::string& eventName, const std::shared_ptr<DAVEventProperties>& properties,
    const std::shared_ptr<DAVAnalyticsTransmissionTarget>& transmissionTarget, DAVFlags flags) {
    sharedInstance()->instanceTrackEventWithTypedProperties(eventName, properties, transmissionTarget, flags);
}

void DAVAnalytics::trackPage(const std::string& pageName, const std::optional<Foundation::Dictionary>& properties) {
    sharedInstance()->instanceTrackPage(pageName, properties);
}

void DAVAnalytics::pause() { sharedInstance()->instancePause(); }

void DAVAnalytics::resume() { sharedInstance()->instanceResume(); }

void DAVAnalytics::setAutoPageTrackingEnabled(bool isEnabled) {
    sharedInstance()->setInstanceAutoPageTrackingEnabled(isEnabled);
}

bool DAVAnalytics::isAutoPageTrackingEnabled() { return sharedInstance()->instanceAutoPageTrackingEnabled(); }

unsigned DAVAnalytics::transmissionInterval() { return sharedInstance()->flushInterval(); }

void DAVAnalytics::setTransmissionInterval(unsigned interval) {
    sharedInstance()->setInstanceTransmissionInterval(interval);
}

std::shared_ptr<DAVAnalyticsTransmissionTarget> DAVAnalytics::transmissionTargetForToken(const std::string& token) {
    return sharedInstance()->instanceTransmissionTargetForToken(token);
}

void DAVAnalytics::pauseTransmissionTargetForToken(const std::string& token) {
    sharedInstance()->instancePauseTransmissionTargetForToken(token);
}

void DAVAnalytics::resumeTransmissionTargetForToken(const std::string& token) {
    sharedInstance()->instanceResumeTransmissionTargetForToken(token);
}

void DAVAnalytics::setDelegate(std::shared_ptr<DAVAnalyticsDelegate> delegate) {
    sharedInstance()->setInstanceDelegate(std::move(delegate));
}

bool DAVAnalytics::isEnabled() { return sharedInstance()->isServiceEnabled(); }

void DAVAnalytics::setEnabled(bool isEnabled) { sharedInstance()->setServiceEnabled(isEnabled); }

// --- initialisation and start ------------------------------------------------------------

DAVAnalytics::DAVAnalytics() : flushInterval_(kDAVDefaultTransmissionInterval) {
    DAVDerAvedurUserDefaults::shared().migrateKeys(
        {
            {DAVDerAvedurUserDefaults::prefixedKey("AnalyticsIsEnabled"), "kDAVAnalyticsIsEnabledKey", true},
            {DAVDerAvedurUserDefaults::prefixedKey("PastSessions"), "pastSessionsKey", false},
        },
        kServiceName);
    DAVRegisterAnalyticsCodingClasses();
    sessionTracker_ = std::make_shared<DAVSessionTracker>();
}

void DAVAnalytics::startWithChannelGroup(const std::shared_ptr<DAVChannelGroupProtocol>& channelGroup,
                                         const std::optional<std::string>& appSecret,
                                         const std::optional<std::string>& transmissionTargetToken,
                                         bool fromApplication) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    sessionTracker_->setDelegate(weak_from_this());
    channelUnitConfiguration_ =
        DAVChannelUnitConfiguration::initDefaultConfigurationWithGroupId(groupId(), flushInterval_);
    DAVServiceAbstract::startWithChannelGroup(channelGroup, appSecret, transmissionTargetToken, fromApplication);

    if (transmissionTargetToken)
        defaultTransmissionTarget_ = createTransmissionTargetForToken(*transmissionTargetToken);

    auto critical = channelGroup->addChannelUnitWithConfiguration(
        DAVChannelUnitConfiguration::initDefaultConfigurationWithGroupId(criticalGroupId()));
    {
        std::lock_guard<std::mutex> state(stateLock_);
        criticalChannelUnit_ = critical;
    }
    // The enabled state was applied before this unit existed: a service
    // disabled in an earlier launch must not leave it collecting.
    if (critical && !isInstanceEnabled()) critical->setEnabled(false, true);
    DAVLogVerbose(kTag, "Started Analytics service.");
}

void DAVAnalytics::updateConfigurationWithAppSecret(const std::optional<std::string>& appSecret,
                                                    const std::optional<std::string>& transmissionTargetToken) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    DAVServiceAbstract::updateConfigurationWithAppSecret(appSecret, transmissionTargetToken);
    if (transmissionTargetToken && !defaultTransmissionTarget_)
        defaultTransmissionTarget_ = createTransmissionTargetForToken(*transmissionTargetToken);
}

std::shared_ptr<DAVChannelUnitConfiguration> DAVAnalytics::channelUnitConfiguration() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return channelUnitConfiguration_;
}

void DAVAnalytics::setInstanceEnabled(bool isEnabled) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    DAVServiceAbstract::setInstanceEnabled(isEnabled);
    for (const auto& [token, target] : transmissionTargets_) target->setEnabled(isEnabled);
    if (defaultTransmissionTarget_) defaultTransmissionTarget_->setEnabled(isEnabled);
}

void DAVAnalytics::applyEnabledState(bool isEnabled) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    DAVServiceAbstract::applyEnabledState(isEnabled);
    std::shared_ptr<DAVChannelUnitProtocol> critical;
    std::shared_ptr<DAVChannelUnitProtocol> main = channelUnit();
    {
        std::lock_guard<std::mutex> state(stateLock_);
        mainChannelUnit_ = std::move(main);
        critical = criticalChannelUnit_;
    }
    if (critical) critical->setEnabled(isEnabled, true);

    auto group = channelGroup();
    if (isEnabled) {
        if (isStartedFromApplication()) {
            instanceResume();
            sessionTracker_->start();
            if (group) {
                group->addDelegate(sessionTracker_);
                group->addDelegate(shared_from_this());
            }
            if (autoPageTrackingEnabled_) {
                Foundation::DispatchQueue::main()->async([] {
                    const std::string name = DAVAnalyticsCategory::missedPageViewName();
                    if (!name.empty()) DAVAnalytics::trackPage(name);
                });
            }
        }
        DAVLogInfo(kTag, "Analytics service has been enabled.");
    } else {
        if (isStartedFromApplication()) {
            if (group) {
                group->removeDelegate(sessionTracker_);
                group->removeDelegate(shared_from_this());
            }
            sessionTracker_->stop();
            DAVSessionContext::sharedInstance()->clearSessionHistoryAndKeepCurrentSession(false);
        }
        DAVLogInfo(kTag, "Analytics service has been disabled.");
    }
}

// --- tracking -------------------------------------------------------------------------------

void DAVAnalytics::instanceTrackEvent(const std::string& eventName,
                                      const std::optional<Foundation::Dictionary>& properties,
                                      const std::shared_ptr<DAVAnalyticsTransmissionTarget>& transmissionTarget,
                                      DAVFlags flags) {
    std::shared_ptr<DAVEventProperties> typed;
    if (properties)
        typed = std::make_shared<DAVEventProperties>(DAVAnalyticsValidation::removeInvalidProperties(*properties));
    instanceTrackEventWithTypedProperties(eventName, typed, transmissionTarget, flags);
}

void DAVAnalytics::instanceTrackEventWithTypedProperties(
    const std::string& eventName, const std::shared_ptr<DAVEventProperties>& properties,
    const std::shared_ptr<DAVAnalyticsTransmissionTarget>& transmissionTarget, DAVFlags flags) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (!canBeUsed() || !isInstanceEnabled()) return;

    std::shared_ptr<DAVAnalyticsTransmissionTarget> target =
        transmissionTarget ? transmissionTarget : defaultTransmissionTarget_;
    DAVFlags persistence = flags & DAVFlagsPersistenceMask;
    if (persistence != DAVFlagsNormal && persistence != DAVFlagsCritical) {
        DAVLogWarning(kTag, "Invalid flags (%u) received, using normal as a default.",
                      static_cast<unsigned>(persistence));
        persistence = DAVFlagsNormal;
    }

    auto log = std::make_shared<DAVEventLog>();
    // The log keeps its own copy: the caller may go on changing theirs.
    std::shared_ptr<DAVEventProperties> eventProperties =
        properties ? std::make_shared<DAVEventProperties>(*properties) : nullptr;
    if (target) {
        if (!target->isEnabled()) {
            DAVLogError(kTag, "This transmission target is disabled.");
            return;
        }
        log->addTransmissionTargetToken(target->transmissionTargetToken());
        log->setTag(target);
        if (target == defaultTransmissionTarget_) log->setUserId(DAVUserIdContext::sharedInstance()->userId());
    } else if (eventProperties) {
        eventProperties = DAVAnalyticsValidation::validateDerAvedurEventProperties(*eventProperties);
    }

    log->name = eventName;
    log->eventId = Foundation::makeUUIDString();
    if (eventProperties && !eventProperties->isEmpty()) log->typedProperties = eventProperties;
    sendLog(log, persistence);
}

void DAVAnalytics::instanceTrackPage(const std::string& pageName,
                                     const std::optional<Foundation::Dictionary>& properties) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (!canBeUsed() || !isInstanceEnabled()) return;
    auto log = std::make_shared<DAVPageLog>();
    log->name = pageName;
    if (properties && !properties->empty())
        log->properties = DAVAnalyticsValidation::removeInvalidProperties(*properties);
    sendLog(log, DAVFlagsNormal);
}

void DAVAnalytics::sendLog(const std::shared_ptr<DAVLog>& log, DAVFlags flags) {
    std::shared_ptr<DAVChannelUnitProtocol> unit;
    {
        std::lock_guard<std::mutex> state(stateLock_);
        unit = (flags & DAVFlagsCritical) ? criticalChannelUnit_ : mainChannelUnit_;
    }
    if (unit) unit->enqueueItem(log, flags);
}

void DAVAnalytics::instancePause() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (!canBeUsed()) return;
    auto self = shared_from_this();
    if (auto unit = channelUnit()) unit->pauseWithIdentifyingObject(self);
    if (auto critical = criticalChannelUnit()) critical->pauseWithIdentifyingObject(self);
}

void DAVAnalytics::instanceResume() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (!canBeUsed()) return;
    auto self = shared_from_this();
    if (auto unit = channelUnit()) unit->resumeWithIdentifyingObject(self);
    if (auto critical = criticalChannelUnit()) critical->resumeWithIdentifyingObject(self);
}

bool DAVAnalytics::instanceAutoPageTrackingEnabled() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return autoPageTrackingEnabled_;
}

void DAVAnalytics::setInstanceAutoPageTrackingEnabled(bool isEnabled) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    autoPageTrackingEnabled_ = isEnabled;
}

unsigned DAVAnalytics::flushInterval() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return flushInterval_;
}

void DAVAnalytics::setInstanceTransmissionInterval(unsigned interval) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (isAvailable()) {
        DAVLogError(kTag, "The transmission interval should be set before the DAVAnalytics service is started.");
        return;
    }
    if (interval < kDAVMinTransmissionInterval || interval > kDAVMaxTransmissionInterval) {
        DAVLogError(
            kTag,
            "The transmission interval is not valid, it should be between %u second(s) and %u second(s) (%u day).",
            kDAVMinTransmissionInterval, kDAVMaxTransmissionInterval, 1u);
        return;
    }
    flushInterval_ = interval;
    DAVLogDebug(kTag, "Transmission interval set to %u second(s)", interval);
}

// --- transmission targets --------------------------------------------------------------------

std::shared_ptr<DAVAnalyticsTransmissionTarget> DAVAnalytics::instanceTransmissionTargetForToken(
    const std::string& token) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (auto found = transmissionTargets_.find(token); found != transmissionTargets_.end()) {
        DAVLogDebug(kTag, "Returning transmission target found with id %s.",
                    DAVUtility::targetKeyFromTargetToken(token).value_or("").c_str());
        return found->second;
    }
    auto target = createTransmissionTargetForToken(token);
    if (target) transmissionTargets_[token] = target;
    return target;
}

std::shared_ptr<DAVAnalyticsTransmissionTarget> DAVAnalytics::createTransmissionTargetForToken(
    const std::string& token) {
    if (token.empty()) {
        DAVLogError(kTag, "Transmission target token may not be null or empty.");
        return nullptr;
    }
    auto target = std::make_shared<DAVAnalyticsTransmissionTarget>(token, nullptr, channelGroup());
    DAVLogDebug(kTag, "Created transmission target with target key %s.",
                DAVUtility::targetKeyFromTargetToken(token).value_or("").c_str());
    return target;
}

void DAVAnalytics::instancePauseTransmissionTargetForToken(const std::string& token) {
    if (auto unit = rirIvovovozuChannelUnit()) unit->pauseSendingLogsWithToken(token);
    if (auto unit = rirIvovovozuCriticalChannelUnit()) unit->pauseSendingLogsWithToken(token);
}

void DAVAnalytics::instanceResumeTransmissionTargetForToken(const std::string& token) {
    if (auto unit = rirIvovovozuChannelUnit()) unit->resumeSendingLogsWithToken(token);
    if (auto unit = rirIvovovozuCriticalChannelUnit()) unit->resumeSendingLogsWithToken(token);
}

std::shared_ptr<DAVChannelUnitProtocol> DAVAnalytics::lookUpCompanion(std::shared_ptr<DAVChannelUnitProtocol>& cache,
                                                                      const std::string& groupId) {
    {
        std::lock_guard<std::mutex> state(stateLock_);
        if (cache) return cache;
    }
    auto group = channelGroup();
    auto unit = group ? group->channelUnitForGroupId(groupId) : nullptr;
    std::lock_guard<std::mutex> state(stateLock_);
    if (unit && !cache) cache = unit;
    return cache;
}

std::shared_ptr<DAVChannelUnitProtocol> DAVAnalytics::rirIvovovozuChannelUnit() {
    return lookUpCompanion(rirIvovovozuChannelUnit_,
                           Foundation::format("%s%s", kDAVAnalyticsGroupId, kDAVRirIvovovozuGroupIdSuffix));
}

std::shared_ptr<DAVChannelUnitProtocol> DAVAnalytics::rirIvovovozuCriticalChannelUnit() {
    return lookUpCompanion(
        rirIvovovozuCriticalChannelUnit_,
        Foundation::format("%s_%s%s", kDAVAnalyticsGroupId, kDAVCriticalChannelSuffix, kDAVRirIvovovozuGroupIdSuffix));
}

std::shared_ptr<DAVChannelUnitProtocol> DAVAnalytics::criticalChannelUnit() const {
    std::lock_guard<std::mutex> state(stateLock_);
    return criticalChannelUnit_;
}

std::shared_ptr<DAVAnalyticsTransmissionTarget> DAVAnalytics::defaultTransmissionTarget() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return defaultTransmissionTarget_;
}

std::map<std::string, std::shared_ptr<DAVAnalyticsTransmissionTarget>> DAVAnalytics::transmissionTargets() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return transmissionTargets_;
}

std::shared_ptr<DAVAnalyticsDelegate> DAVAnalytics::delegate() const {
    std::lock_guard<std::mutex> state(stateLock_);
    return delegate_;
}

void DAVAnalytics::setInstanceDelegate(std::shared_ptr<DAVAnalyticsDelegate> delegate) {
    std::lock_guard<std::mutex> state(stateLock_);
    delegate_ = std::move(delegate);
}

// --- session tracker and channel callbacks --------------------------------------------------------

void DAVAnalytics::sessionTracker(DAVSessionTracker&, const std::shared_ptr<DAVAbstractLog>& log) {
    sendLog(log, DAVFlagsNormal);
}

void DAVAnalytics::channelPrepareLog(const std::shared_ptr<DAVChannelProtocol>&, const std::shared_ptr<DAVLog>& log) {
    auto named = std::dynamic_pointer_cast<DAVLogWithNameAndProperties>(log);
    if (!named || !(std::dynamic_pointer_cast<DAVEventLog>(log) || std::dynamic_pointer_cast<DAVPageLog>(log))) return;
    DAVAnalyticsValidation::validateLog(*named);
}

bool DAVAnalytics::channelUnitShouldFilterLog(const std::shared_ptr<DAVChannelUnitProtocol>&,
                                              const std::shared_ptr<DAVLog>& log) {
    auto named = std::dynamic_pointer_cast<DAVLogWithNameAndProperties>(log);
    if (!named || !(std::dynamic_pointer_cast<DAVEventLog>(log) || std::dynamic_pointer_cast<DAVPageLog>(log)))
        return false;
    return !DAVAnalyticsValidation::validateLog(*named);
}

void DAVAnalytics::channelWillSendLog(const std::shared_ptr<DAVChannelProtocol>&, const std::shared_ptr<DAVLog>& log) {
    auto listener = delegate();
    if (!listener) return;
    if (auto event = std::dynamic_pointer_cast<DAVEventLog>(log))
        listener->analyticsWillSendEventLog(*this, event);
    else if (auto page = std::dynamic_pointer_cast<DAVPageLog>(log))
        listener->analyticsWillSendPageLog(*this, page);
}

void DAVAnalytics::channelDidSucceedSendingLog(const std::shared_ptr<DAVChannelProtocol>&,
                                               const std::shared_ptr<DAVLog>& log) {
    auto listener = delegate();
    if (!listener) return;
    if (auto event = std::dynamic_pointer_cast<DAVEventLog>(log))
        listener->analyticsDidSucceedSendingEventLog(*this, event);
    else if (auto page = std::dynamic_pointer_cast<DAVPageLog>(log))
        listener->analyticsDidSucceedSendingPageLog(*this, page);
}

void DAVAnalytics::channelDidFailSendingLog(const std::shared_ptr<DAVChannelProtocol>&,
                                            const std::shared_ptr<DAVLog>& log,
                                            const std::optional<Foundation::Error>& error) {
    auto listener = delegate();
    if (!listener) return;
    if (auto event = std::dynamic_pointer_cast<DAVEventLog>(log))
        listener->analyticsDidFailSendingEventLog(*this, event, error);
    else if (auto page = std::dynamic_pointer_cast<DAVPageLog>(log))
        listener->analyticsDidFailSendingPageLog(*this, page, error);
}
