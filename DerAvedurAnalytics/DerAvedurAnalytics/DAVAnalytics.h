#pragma once
// The analytics service: named usage events and pages, validated and sent
// through the "Analytics" channel unit, or "Analytics_critical" for critical
// flags; the session tracker; the registry of transmission targets; and an
// optional application delegate that hears of each send.
//
// Class-level calls are static members working on the shared instance; the
// instance methods they reach carry "Instance" where the names would
// otherwise be the same.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "DerAvedur/DerAvedur/DAVServiceAbstract.h"
#include "DerAvedur/DerAvedur/Shared/Channel/DAVChannelDelegate.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/DAVAnalyticsDelegate.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/DAVAnalyticsTransmissionTarget.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/DAVEventProperties.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Session/DAVSessionTracker.h"
#include "Platform/Foundation/Value.h"

class DAVAnalytics : public DAVServiceAbstract,
                     public DAVSessionTrackerDelegate,
                     public DAVChannelDelegate,
                     public std::enable_shared_from_this<DAVAnalytics> {
public:
    static constexpr const char* kServiceName = "Analytics";
    static constexpr const char* kLogTag = "DerAvedurAnalytics";
    static constexpr const char* kGroupId = "Analytics";

    // --- class methods ----------------------------------------------------------
    static std::shared_ptr<DAVAnalytics> sharedInstance();
    // Stops the session tracker; the next sharedInstance() makes a new instance.
    static void resetSharedInstance();
    // What DAVDerAvedur::startService is given.
    static DAVServiceClass serviceClass();

    static void trackEvent(const std::string& eventName);
    static void trackEvent(const std::string& eventName, const std::optional<Foundation::Dictionary>& properties,
                           DAVFlags flags = DAVFlagsNormal);
    static void trackEvent(const std::string& eventName, const std::optional<Foundation::Dictionary>& properties,
                           const std::shared_ptr<DAVAnalyticsTransmissionTarget>& transmissionTarget, DAVFlags flags);
    static void trackEventWithTypedProperties(const std::string& eventName,
                                              const std::shared_ptr<DAVEventProperties>& properties,
                                              DAVFlags flags = DAVFlagsNormal);
    static void trackEventWithTypedProperties(const std::string& eventName,
                                              const std::shared_ptr<DAVEventProperties>& properties,
                                              const std::shared_ptr<DAVAnalyticsTransmissionTarget>& transmissionTarget,
                                              DAVFlags flags);
    static void trackPage(const std::string& pageName,
                          const std::optional<Foundation::Dictionary>& properties = std::nullopt);
    static void pause();
    static void resume();
    static void setAutoPageTrackingEnabled(bool isEnabled);
    static bool isAutoPageTrackingEnabled();
    static unsigned transmissionInterval();
    static void setTransmissionInterval(unsigned interval);
    static std::shared_ptr<DAVAnalyticsTransmissionTarget> transmissionTargetForToken(const std::string& token);
    static void pauseTransmissionTargetForToken(const std::string& token);
    static void resumeTransmissionTargetForToken(const std::string& token);
    static void setDelegate(std::shared_ptr<DAVAnalyticsDelegate> delegate);
    static bool isEnabled();
    static void setEnabled(bool isEnabled);

    // --- instance ----------------------------------------------------------------
    DAVAnalytics();
    DAVAnalytics(const DAVAnalytics&) = delete;
    DAVAnalytics& operator=(const DAVAnalytics&) = delete;

    std::string serviceName() const override { return kServiceName; }
    std::string logTag() const override { return kLogTag; }
    std::string groupId() const override { return kGroupId; }
    // The service may start with only a transmission target token.
    bool isAppSecretRequired() const override { return false; }
    void startWithChannelGroup(const std::shared_ptr<DAVChannelGroupProtocol>& channelGroup,
                               const std::optional<std::string>& appSecret,
                               const std::optional<std::string>& transmissionTargetToken,
                               bool fromApplication) override;
    void updateConfigurationWithAppSecret(const std::optional<std::string>& appSecret,
                                          const std::optional<std::string>& transmissionTargetToken) override;
    // Also every transmission target, then the default one.
    void setInstanceEnabled(bool isEnabled) override;
    void applyEnabledState(bool isEnabled) override;
    std::shared_ptr<DAVChannelUnitConfiguration> channelUnitConfiguration() const override;

    void instanceTrackEvent(const std::string& eventName, const std::optional<Foundation::Dictionary>& properties,
                            const std::shared_ptr<DAVAnalyticsTransmissionTarget>& transmissionTarget, DAVFlags flags);
    void instanceTrackEventWithTypedProperties(
        const std::string& eventName, const std::shared_ptr<DAVEventProperties>& properties,
        const std::shared_ptr<DAVAnalyticsTransmissionTarget>& transmissionTarget, DAVFlags flags);
    void instanceTrackPage(const std::string& pageName, const std::optional<Foundation::Dictionary>& properties);
    void instancePause();
    void instanceResume();
    bool instanceAutoPageTrackingEnabled() const;
    void setInstanceAutoPageTrackingEnabled(bool isEnabled);
    unsigned flushInterval() const;
    void setInstanceTransmissionInterval(unsigned interval);

    std::shared_ptr<DAVAnalyticsTransmissionTarget> instanceTransmissionTargetForToken(const std::string& token);
    // Not registered: the default target lives only in defaultTransmissionTarget().
    std::shared_ptr<DAVAnalyticsTransmissionTarget> createTransmissionTargetForToken(const std::string& token);
    void instancePauseTransmissionTargetForToken(const std::string& token);
    void instanceResumeTransmissionTargetForToken(const std::string& token);

    // Critical flags go to the critical unit, everything else to the main one.
    void sendLog(const std::shared_ptr<DAVLog>& log, DAVFlags flags);
    std::shared_ptr<DAVChannelUnitProtocol> criticalChannelUnit() const;
    // The collector companions of the two units, found once they exist.
    std::shared_ptr<DAVChannelUnitProtocol> rirIvovovozuChannelUnit();
    std::shared_ptr<DAVChannelUnitProtocol> rirIvovovozuCriticalChannelUnit();
    std::shared_ptr<DAVAnalyticsTransmissionTarget> defaultTransmissionTarget() const;
    std::map<std::string, std::shared_ptr<DAVAnalyticsTransmissionTarget>> transmissionTargets() const;
    const std::shared_ptr<DAVSessionTracker>& sessionTracker() const { return sessionTracker_; }
    std::shared_ptr<DAVAnalyticsDelegate> delegate() const;
    void setInstanceDelegate(std::shared_ptr<DAVAnalyticsDelegate> delegate);

    // --- DAVSessionTrackerDelegate ---------------------------------------------------
    void sessionTracker(DAVSessionTracker& tracker, const std::shared_ptr<DAVAbstractLog>& log) override;

    // --- DAVChannelDelegate: validation and the application delegate -------------------
    // Events and pages whose name fails validation are not stored.
    // Cuts long names and properties as the log is enqueued, before it is
    // archived; the filter on the queue then only drops invalid logs.
    void channelPrepareLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                           const std::shared_ptr<DAVLog>& log) override;
    bool channelUnitShouldFilterLog(const std::shared_ptr<DAVChannelUnitProtocol>& channelUnit,
                                    const std::shared_ptr<DAVLog>& log) override;
    void channelWillSendLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                            const std::shared_ptr<DAVLog>& log) override;
    void channelDidSucceedSendingLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                                     const std::shared_ptr<DAVLog>& log) override;
    void channelDidFailSendingLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                                  const std::shared_ptr<DAVLog>& log,
                                  const std::optional<Foundation::Error>& error) override;

private:
    std::shared_ptr<DAVChannelUnitProtocol> lookUpCompanion(std::shared_ptr<DAVChannelUnitProtocol>& cache,
                                                            const std::string& groupId);

    // The service's lock (lock_, recursive) guards tracking, pausing and the
    // registry. The units, the delegate and the collector companions are also
    // read by sendLog and the queue's callbacks, which must never wait for
    // it: the session tracker sends from inside its own lock.
    mutable std::mutex stateLock_;
    std::shared_ptr<DAVChannelUnitProtocol> mainChannelUnit_;
    std::shared_ptr<DAVChannelUnitProtocol> criticalChannelUnit_;
    std::shared_ptr<DAVChannelUnitProtocol> rirIvovovozuChannelUnit_;
    std::shared_ptr<DAVChannelUnitProtocol> rirIvovovozuCriticalChannelUnit_;
    std::shared_ptr<DAVAnalyticsDelegate> delegate_;

    bool autoPageTrackingEnabled_ = false;
    unsigned flushInterval_;
    std::shared_ptr<DAVChannelUnitConfiguration> channelUnitConfiguration_;
    std::shared_ptr<DAVSessionTracker> sessionTracker_;
    std::map<std::string, std::shared_ptr<DAVAnalyticsTransmissionTarget>> transmissionTargets_;
    std::shared_ptr<DAVAnalyticsTransmissionTarget> defaultTransmissionTarget_;
};
