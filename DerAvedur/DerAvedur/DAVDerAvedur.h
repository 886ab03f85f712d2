#pragma once
// The SDK's single entry. The application configures it once with its app
// secret and starts services by class; the entry builds the log pipeline (one
// channel group, the Rir Ivovovozu delegate, the core unit "DerAvedur"),
// keeps the install id and the SDK-wide enabled state, and sends the
// start-service log.
//
// Class-level calls are static members; the instance methods they reach
// carry "Instance" where the names would otherwise be the same.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DerAvedur/DerAvedur/DAVServiceAbstract.h"
#include "DerAvedur/DerAvedur/Shared/Channel/DAVChannelGroupProtocol.h"
#include "DerAvedur/DerAvedur/Internals/Channel/DAVRirIvovovozuChannelDelegate.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVWrapperSdk.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"

class DAVCustomProperties;

class DAVDerAvedur {
public:
    static constexpr const char* kLogTag = "DerAvedur";
    static constexpr const char* kGroupId = "DerAvedur";
    static constexpr std::int64_t kMinimumStorageSize = 24576;
    static constexpr const char* kEnabledKey = "DerAvedurIsEnabled";
    static constexpr const char* kInstallIdKey = "InstallId";
    static constexpr const char* kDisableVariable = "DER_AVEDUR_DISABLE";
    static constexpr const char* kTestCloudVariable = "RUNNING_IN_DER_AVEDUR";

    // --- class methods ----------------------------------------------------------
    static std::shared_ptr<DAVDerAvedur> sharedInstance();
    // The next sharedInstance() makes a new one.
    static void resetSharedInstance();

    // The configuration string: "appsecret=…;target=…", "macos=…" or a bare secret.
    static void configureWithAppSecret(const std::optional<std::string>& appSecret);
    static void configure();
    static void start(const std::optional<std::string>& appSecret,
                      const std::optional<std::vector<DAVServiceClass>>& services);
    static void startWithServices(const std::optional<std::vector<DAVServiceClass>>& services);
    static void startFromLibraryWithServices(const std::optional<std::vector<DAVServiceClass>>& services);
    static void startService(const DAVServiceClass& service);
    static bool isConfigured();
    static bool isRunningInDerAvedurTestCloud();
    static void setLogUrl(const std::string& logUrl);
    static std::optional<std::string> logUrl();
    static void setEnabled(bool isEnabled);
    static bool isEnabled();
    static bool isAppDelegateForwarderEnabled();
    static std::string installId();
    static DAVLogLevel logLevel();
    static void setLogLevel(DAVLogLevel logLevel);
    static void setLogHandler(DAVLogHandler handler);
    static DAVLogHandler logHandler();
    static void setWrapperSdk(std::shared_ptr<DAVWrapperSdk> wrapperSdk);
    static std::shared_ptr<DAVWrapperSdk> wrapperSdk();
    static void setCountryCode(const std::optional<std::string>& countryCode);
    static std::optional<std::string> countryCode();
    static std::optional<std::string> userId();
    static void setUserId(const std::optional<std::string>& userId);
    static void setCustomProperties(const std::shared_ptr<DAVCustomProperties>& customProperties);
    static void setMaxStorageSize(std::int64_t sizeInBytes, std::function<void(bool success)> completionHandler);
    static bool isDebuggerAttached();
    static std::string sdkVersion();
    static std::string logTag() { return kLogTag; }
    static std::string groupId() { return kGroupId; }

    // --- instance ----------------------------------------------------------------
    DAVDerAvedur();
    DAVDerAvedur(const DAVDerAvedur&) = delete;
    DAVDerAvedur& operator=(const DAVDerAvedur&) = delete;

    bool configureWithAppSecret(const std::optional<std::string>& appSecret,
                                const std::optional<std::string>& transmissionTargetToken, bool fromApplication);
    void start(const std::optional<std::string>& secretString,
               const std::optional<std::vector<DAVServiceClass>>& services, bool fromApplication);
    void startServices(const std::optional<std::vector<DAVServiceClass>>& services,
                       const std::optional<std::string>& appSecret,
                       const std::optional<std::string>& transmissionTargetToken, bool fromApplication);
    // Higher initialization priority first; equal priorities keep their order.
    std::vector<DAVServiceClass> sortServices(const std::vector<DAVServiceClass>& services);
    bool startService(const DAVServiceClass& service, const std::optional<std::string>& appSecret,
                      const std::optional<std::string>& transmissionTargetToken, bool fromApplication);
    std::optional<std::string> instanceLogUrl() const;
    void setInstanceLogUrl(const std::string& logUrl);
    void setInstanceMaxStorageSize(std::int64_t sizeInBytes, std::function<void(bool success)> completionHandler);
    void setInstanceUserId(const std::optional<std::string>& userId);
    void setInstanceCustomProperties(const std::shared_ptr<DAVCustomProperties>& customProperties);
    void setInstanceEnabled(bool isEnabled);
    bool isInstanceEnabled() const;
    void applyPipelineEnabledState(bool isEnabled);
    void initializeChannelGroup();
    std::optional<std::string> appSecret() const;
    // The install id's UUID text, loaded or made on first use.
    std::string instanceInstallId();
    // Configured; logs an error otherwise.
    bool canBeUsed() const;
    void sendStartServiceLog(const std::vector<std::string>& servicesNames);
    void sendCustomPropertiesLog(const std::shared_ptr<DAVCustomProperties>& customProperties);
    // "DER_AVEDUR_DISABLE" names the service, or "All".
    bool shouldDisable(const std::string& serviceName) const;

    bool sdkConfigured() const;
    bool configuredFromApplication() const;
    bool enabledStateUpdating() const;
    std::shared_ptr<DAVChannelGroupProtocol> channelGroup() const;
    std::shared_ptr<DAVChannelUnitProtocol> channelUnit() const;
    std::shared_ptr<DAVRirIvovovozuChannelDelegate> rirIvovovozuChannelDelegate() const;
    std::vector<std::shared_ptr<DAVServiceCommon>> services() const;
    std::optional<std::vector<std::string>> startedServiceNames() const;
    std::optional<std::string> defaultTransmissionTargetToken() const;

private:
    // Recursive: the services started and switched under it ask the SDK's
    // state back on the same thread (setServiceEnabled reads isEnabled and
    // enabledStateUpdating).
    mutable std::recursive_mutex lock_;
    bool sdkConfigured_ = false;
    bool configuredFromApplication_ = false;
    bool enabledStateUpdating_ = false;
    bool setMaxStorageSizeHasBeenCalled_ = false;
    std::optional<std::string> installId_;
    std::optional<std::string> logUrl_;
    std::shared_ptr<DAVChannelUnitProtocol> channelUnit_;
    std::shared_ptr<DAVRirIvovovozuChannelDelegate> rirIvovovozuChannelDelegate_;
    std::shared_ptr<DAVChannelGroupProtocol> channelGroup_;
    std::vector<std::shared_ptr<DAVServiceCommon>> services_;
    std::optional<std::vector<std::string>> startedServiceNames_;
    std::optional<std::string> appSecret_;
    std::optional<std::string> defaultTransmissionTargetToken_;
    std::optional<std::int64_t> requestedMaxStorageSizeInBytes_;
    std::function<void(bool)> maxStorageSizeCompletionHandler_;
};
