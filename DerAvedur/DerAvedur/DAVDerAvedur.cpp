#include "DerAvedur/DerAvedur/DAVDerAvedur.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>

#include "DerAvedur/DerAvedur/DAVCustomProperties.h"
#include "DerAvedur/DerAvedur/DAVDerAvedurConfiguration.h"
#include "DerAvedur/DerAvedur/Internals/Channel/DAVChannelGroupDefault.h"
#include "DerAvedur/DerAvedur/Shared/Context/DAVDeviceTracker.h"
#include "DerAvedur/DerAvedur/Shared/Context/DAVSessionContext.h"
#include "DerAvedur/DerAvedur/Shared/Context/DAVUserIdContext.h"
#include "DerAvedur/DerAvedur/Internals/DelegateForwarder/DAVDelegateForwarder.h"
#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVDependencyConfiguration.h"
#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVHttpClient.h"
#include "DerAvedur/DerAvedur/Internals/Model/DAVStartServiceLog.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVDerAvedurUserDefaults.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "Platform/Foundation/Diagnostics.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/SharedInstance.h"
#include "Platform/Foundation/Text.h"

namespace {

constexpr const char* kTag = DAVDerAvedur::kLogTag;

// Tab and the Unicode space separators (category Zs); line breaks are not
// white space here. A malformed UTF-8 sequence is kept as it is.
bool isBlank(UChar32 c) { return c == 0x09 || (c >= 0 && u_charType(c) == U_SPACE_SEPARATOR); }

std::string trimmed(const std::string& text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t start = 0, end = 0;
    for (std::int32_t at = 0; at < length;) {
        const std::int32_t from = at;
        UChar32 c;
        U8_NEXT(bytes, at, length, c);
        if (!isBlank(c)) {
            if (end == 0) start = from;
            end = at;
        }
    }
    return end == 0 ? std::string() : text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

std::string joined(const std::vector<std::string>& names, const char* separator) {
    std::string text;
    for (const auto& name : names) text += (text.empty() ? "" : separator) + name;
    return text;
}

}  // namespace

// --- class methods -----------------------------------------------------------------

std::shared_ptr<DAVDerAvedur> DAVDerAvedur::sharedInstance() {
    return Foundation::SharedInstance<DAVDerAvedur>::process().get();
}

// The old instance (and the pipeline it owns) goes away outside the holder's lock.
void DAVDerAvedur::resetSharedInstance() { Foundation::SharedInstance<DAVDerAvedur>::process().reset(); }

void DAVDerAvedur::configureWithAppSecret(const std::optional<std::string>& appSecret) {
    sharedInstance()->configureWithAppSecret(DAVUtility::appSecretFrom(appSecret),
                                             DAVUtility::transmissionTargetTokenFrom(appSecret), true);
}

void DAVDerAvedur::configure() { sharedInstance()->configureWithAppSecret(std::nullopt, std::nullopt, true); }

void DAVDerAvedur::start(const std::optional<std::string>& appSecret,
                         const std::optional<std::vector<DAVServiceClass>>& services) {
    sharedInstance()->start(appSecret, services, true);
}

void DAVDerAvedur::startWithServices(const std::optional<std::vector<DAVServiceClass>>& services) {
    sharedInstance()->start(std::nullopt, services, true);
}

void DAVDerAvedur::startFromLibraryWithServices(const std::optional<std::vector<DAVServiceClass>>& services) {
    sharedInstance()->start(std::nullopt, services, false);
}

void DAVDerAvedur::startService(const DAVServiceClass& service) {
    if (service.isNil()) return;
    auto sdk = sharedInstance();
    sdk->startServices(std::vector<DAVServiceClass>{service}, sdk->appSecret(), sdk->defaultTransmissionTargetToken(),
                       true);
}

bool DAVDerAvedur::isConfigured() {
    auto sdk = sharedInstance();
    return sdk->sdkConfigured() && sdk->configuredFromApplication();
}

bool DAVDerAvedur::isRunningInDerAvedurTestCloud() {
    const char* value = std::getenv(kTestCloudVariable);
    return value && std::string(value) == "1";
}

void DAVDerAvedur::setLogUrl(const std::string& logUrl) { sharedInstance()->setInstanceLogUrl(logUrl); }

std::optional<std::string> DAVDerAvedur::logUrl() { return sharedInstance()->instanceLogUrl(); }

void DAVDerAvedur::setEnabled(bool isEnabled) { sharedInstance()->setInstanceEnabled(isEnabled); }

bool DAVDerAvedur::isEnabled() {
    auto sdk = sharedInstance();
    std::lock_guard<std::recursive_mutex> guard(sdk->lock_);
    return sdk->canBeUsed() && sdk->isInstanceEnabled();
}

bool DAVDerAvedur::isAppDelegateForwarderEnabled() { return DAVAppDelegateForwarder::sharedInstance().isEnabled(); }

std::string DAVDerAvedur::installId() { return sharedInstance()->instanceInstallId(); }

DAVLogLevel DAVDerAvedur::logLevel() { return DAVLogger::currentLogLevel(); }

void DAVDerAvedur::setLogLevel(DAVLogLevel logLevel) {
    DAVLogger::setCurrentLogLevel(logLevel);
    DAVDelegateForwarder::flushTraceBuffer();
}

void DAVDerAvedur::setLogHandler(DAVLogHandler handler) { DAVLogger::setLogHandler(std::move(handler)); }

DAVLogHandler DAVDerAvedur::logHandler() { return DAVLogger::logHandler(); }

void DAVDerAvedur::setWrapperSdk(std::shared_ptr<DAVWrapperSdk> wrapperSdk) {
    DAVDeviceTracker::sharedInstance()->setWrapperSdk(std::move(wrapperSdk));
}

std::shared_ptr<DAVWrapperSdk> DAVDerAvedur::wrapperSdk() { return DAVDeviceTracker::sharedInstance()->wrapperSdk(); }

void DAVDerAvedur::setCountryCode(const std::optional<std::string>& countryCode) {
    DAVDeviceTracker::sharedInstance()->setCountryCode(countryCode);
}

std::optional<std::string> DAVDerAvedur::countryCode() { return DAVDeviceTracker::sharedInstance()->countryCode(); }

std::optional<std::string> DAVDerAvedur::userId() { return DAVUserIdContext::sharedInstance()->userId(); }

void DAVDerAvedur::setUserId(const std::optional<std::string>& userId) { sharedInstance()->setInstanceUserId(userId); }

void DAVDerAvedur::setCustomProperties(const std::shared_ptr<DAVCustomProperties>& customProperties) {
    sharedInstance()->setInstanceCustomProperties(customProperties);
}

void DAVDerAvedur::setMaxStorageSize(std::int64_t sizeInBytes, std::function<void(bool success)> completionHandler) {
    sharedInstance()->setInstanceMaxStorageSize(sizeInBytes, std::move(completionHandler));
}

bool DAVDerAvedur::isDebuggerAttached() {
    static Foundation::OnceFlag flag;
    static bool attached = false;
    Foundation::once(flag, [] {
        // The tracing process, if any, is named in the process's status.
        std::ifstream status("/proc/self/status");
        std::string line;
        bool read = false;
        while (status && std::getline(status, line)) {
            if (line.rfind("TracerPid:", 0) != 0) continue;
            read = true;
            attached = std::strtol(line.c_str() + 10, nullptr, 10) != 0;
            break;
        }
        if (!read) Foundation::systemLog("[DAVCrashes] ERROR: Checking for a running debugger via sysctl() failed.");
    });
    return attached;
}

std::string DAVDerAvedur::sdkVersion() { return DAVUtility::sdkVersion(); }

// --- instance ------------------------------------------------------------------------

DAVDerAvedur::DAVDerAvedur() {
    DAVDerAvedurUserDefaults::shared().migrateKeys(
        {
            {"DAVDerAvedurChannelStartTimer", "DAVChannelStartTimer", true},
            {"DAVDerAvedurPastDevices", "pastDevicesKey"},
            {"DAVDerAvedurInstallId", "DAVInstallId"},
            {"DAVDerAvedurDerAvedurIsEnabled", "DAVDerAvedurIsEnabled"},
            {"DAVDerAvedurEncryptionKeyMetadata", "DAVEncryptionKeyMetadata"},
            {"DAVDerAvedurSessionIdHistory", "SessionIdHistory"},
            {"DAVDerAvedurUserIdHistory", "UserIdHistory"},
        },
        kGroupId);
    DAVUtility::addMigrationClasses({
        {"DAVDeviceHistoryInfo", "DAVDeviceHistoryInfo"},
        {"DAVDevice", "DAVDevice"},
        {"DAVStartServiceLog", "DAVStartServiceLog"},
        {"DAVSessionHistoryInfo", "DAVSessionHistoryInfo"},
        {"DAVUserIdHistoryInfo", "DAVUserIdHistoryInfo"},
        {"DAVLogWithProperties", "DAVLogWithProperties"},
        {"DAVLogContainer", "DAVLogContainer"},
        {"DAVWrapperSdk", "DAVWrapperSdk"},
        {"DAVAbstractLog", "DAVAbstractLog"},
    });
    DAVUtility::addMigrationClasses({{"DAVCustomProperties", "DAVCustomProperties"}});
    DAVCustomPropertiesLog::registerCodingClass();
}

bool DAVDerAvedur::configureWithAppSecret(const std::optional<std::string>& appSecret,
                                          const std::optional<std::string>& transmissionTargetToken,
                                          bool fromApplication) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (fromApplication && configuredFromApplication_) {
        DAVLogAssert(kTag, "Der Avedur SDK has already been configured.");
        DAVLogAssert(kTag, "Der Avedur SDK configuration %sfailed.", fromApplication ? "" : "from a library ");
        return false;
    }
    if (!appSecret_) {
        appSecret_ = appSecret;
        DAVSessionContext::sharedInstance()->setSessionId(std::nullopt);
    }
    if (!defaultTransmissionTargetToken_) defaultTransmissionTargetToken_ = transmissionTargetToken;
    DAVUserIdContext::sharedInstance();
    initializeChannelGroup();
    applyPipelineEnabledState(isInstanceEnabled());
    sdkConfigured_ = true;
    configuredFromApplication_ = configuredFromApplication_ || fromApplication;
    if (!DAVLogger::isUserDefinedLogLevel() && DAVUtility::currentAppEnvironment() == 99)
        setLogLevel(DAVLogLevelWarning);
    DAVLogInfo(kTag, "Der Avedur SDK configured %ssuccessfully.", fromApplication ? "" : "from a library ");
    return true;
}

void DAVDerAvedur::start(const std::optional<std::string>& secretString,
                         const std::optional<std::vector<DAVServiceClass>>& services, bool fromApplication) {
    const std::optional<std::string> appSecret = DAVUtility::appSecretFrom(secretString);
    const std::optional<std::string> token = DAVUtility::transmissionTargetTokenFrom(secretString);
    if (configureWithAppSecret(appSecret, token, fromApplication) && services)
        startServices(services, appSecret, token, fromApplication);
}

std::vector<DAVServiceClass> DAVDerAvedur::sortServices(const std::vector<DAVServiceClass>& services) {
    struct Entry {
        DAVServiceClass service;
        int priority;
    };
    std::vector<Entry> entries;
    for (const auto& service : services) {
        auto instance = service.sharedInstance();
        entries.push_back({service, instance ? instance->initializationPriority() : 0});
    }
    // Stable: services of equal priority start in the order given.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.priority > b.priority; });
    std::vector<DAVServiceClass> sorted;
    for (auto& entry : entries) sorted.push_back(std::move(entry.service));
    return sorted;
}

void DAVDerAvedur::startServices(const std::optional<std::vector<DAVServiceClass>>& services,
                                 const std::optional<std::string>& appSecret,
                                 const std::optional<std::string>& transmissionTargetToken, bool fromApplication) {
    if (!services) return;
    if (!sdkConfigured()) {
        DAVLogError(kTag, "Der Avedur has not been configured so it couldn't start the service.");
        return;
    }
    const std::vector<DAVServiceClass> sorted = sortServices(*services);
    std::vector<std::string> classNames;
    for (const auto& service : sorted) classNames.push_back(service.isNil() ? "(null)" : service.name());
    DAVLogVerbose(kTag, "Start services %s from %s", joined(classNames, ", ").c_str(),
                  fromApplication ? "an application" : "a library");
    std::vector<std::string> started;
    for (const auto& service : sorted) {
        if (startService(service, appSecret, transmissionTargetToken, fromApplication))
            started.push_back(service.sharedInstance()->serviceName());
    }
    if (started.empty()) {
        DAVLogDebug(kTag, "No services have been started.");
    } else if (fromApplication) {
        sendStartServiceLog(started);
    }
}

bool DAVDerAvedur::startService(const DAVServiceClass& serviceClass, const std::optional<std::string>& appSecret,
                                const std::optional<std::string>& transmissionTargetToken, bool fromApplication) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    auto service = serviceClass.sharedInstance();
    const std::string className = serviceClass.isNil() ? "(null)" : serviceClass.name();
    if (!service) {
        DAVLogError(kTag, "Cannot start service %s. Provided value is nil or invalid.", className.c_str());
        return false;
    }
    if (!sdkConfigured_ || (fromApplication && !configuredFromApplication_)) {
        DAVLogError(kTag, "Der Avedur has not been configured so it couldn't start the service.");
        return false;
    }
    if (fromApplication && service->isAvailable() && service->isStartedFromApplication()) return false;
    if (service->isAppSecretRequired() && (!appSecret || appSecret->empty())) {
        DAVLogError(kTag,
                    "Cannot start service %s. Der Avedur was started without app secret, but the service requires it.",
                    className.c_str());
        return false;
    }
    if (shouldDisable(service->serviceName())) {
        DAVLogDebug(kTag, "Environment variable to disable service has been set; not starting service %s",
                    className.c_str());
        return false;
    }
    if (!service->isAvailable()) {
        services_.push_back(service);
        service->startWithChannelGroup(channelGroup_, appSecret, transmissionTargetToken, fromApplication);
        if (service->isServiceEnabled() && !isInstanceEnabled()) {
            enabledStateUpdating_ = true;
            service->setServiceEnabled(false);
            enabledStateUpdating_ = false;
        }
    } else if (fromApplication) {
        service->updateConfigurationWithAppSecret(appSecret, transmissionTargetToken);
    }
    return true;
}

bool DAVDerAvedur::shouldDisable(const std::string& serviceName) const {
    const char* value = std::getenv(kDisableVariable);
    if (!value) return false;
    const std::string text = value;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string piece =
            trimmed(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (piece == serviceName || piece == "All") return true;
        if (comma == std::string::npos) return false;
        start = comma + 1;
    }
}

void DAVDerAvedur::initializeChannelGroup() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    const std::string installId = instanceInstallId();
    if (!rirIvovovozuChannelDelegate_) {
        rirIvovovozuChannelDelegate_ = std::make_shared<DAVRirIvovovozuChannelDelegate>(
            std::make_shared<DAVHttpClient>(), installId, appSecret_ ? std::nullopt : logUrl_);
    }
    if (!channelGroup_) {
        std::shared_ptr<DAVHttpClientProtocol> httpClient = DAVDependencyConfiguration::httpClient();
        if (!httpClient) httpClient = std::make_shared<DAVHttpClient>();
        channelGroup_ = std::make_shared<DAVChannelGroupDefault>(
            httpClient, installId, logUrl_.value_or(DAVDerAvedurConfiguration::defaultLogUrl()),
            DAVChannelUnitDependencies::shared());
        channelGroup_->addDelegate(rirIvovovozuChannelDelegate_);
        if (requestedMaxStorageSizeInBytes_)
            channelGroup_->setMaxStorageSize(*requestedMaxStorageSizeInBytes_, maxStorageSizeCompletionHandler_);
    }
    channelGroup_->setAppSecret(appSecret_);
    if (!channelUnit_) {
        channelUnit_ = channelGroup_->addChannelUnitWithConfiguration(
            DAVChannelUnitConfiguration::initDefaultConfigurationWithGroupId(kGroupId));
    }
}

std::optional<std::string> DAVDerAvedur::instanceLogUrl() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return logUrl_;
}

void DAVDerAvedur::setInstanceLogUrl(const std::string& logUrl) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    logUrl_ = logUrl;
    if (!channelGroup_) return;
    if (appSecret_) {
        DAVLogInfo(kTag, "The log url of Der Avedur endpoint was changed to %s", logUrl_->c_str());
        channelGroup_->setLogUrl(logUrl);
    } else {
        DAVLogInfo(kTag, "The log url of Rir Ivovovozu endpoint was changed to %s", logUrl_->c_str());
        rirIvovovozuChannelDelegate_->setLogUrl(logUrl);
    }
}

void DAVDerAvedur::setInstanceMaxStorageSize(std::int64_t sizeInBytes,
                                             std::function<void(bool success)> completionHandler) {
    if (sizeInBytes < kMinimumStorageSize) {
        if (completionHandler) completionHandler(false);
        DAVLogWarning(kTag, "Cannot set storage size to %lld bytes, minimum value is %lld bytes",
                      static_cast<long long>(sizeInBytes), static_cast<long long>(kMinimumStorageSize));
        return;
    }
    bool refused = false;
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        if (setMaxStorageSizeHasBeenCalled_) {
            DAVLogWarning(kTag, "setMaxStorageSize:completionHandler: may only be called once per app launch");
            refused = true;
        } else {
            setMaxStorageSizeHasBeenCalled_ = true;
            if (configuredFromApplication_) {
                DAVLogWarning(kTag, "Unable to set storage size after the application has configured Der Avedur");
                refused = true;
            } else {
                requestedMaxStorageSizeInBytes_ = sizeInBytes;
                maxStorageSizeCompletionHandler_ = completionHandler;
                if (channelGroup_) channelGroup_->setMaxStorageSize(sizeInBytes, completionHandler);
            }
        }
    }
    if (refused && completionHandler) completionHandler(false);
}

void DAVDerAvedur::setInstanceUserId(const std::optional<std::string>& userId) {
    std::optional<std::string> appSecret;
    std::optional<std::string> token;
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        if (!configuredFromApplication_) {
            DAVLogError(kTag, "DerAvedur must be configured from application, libraries cannot call setUserId.");
            return;
        }
        appSecret = appSecret_;
        token = defaultTransmissionTargetToken_;
    }
    if (!appSecret && !token) {
        DAVLogError(kTag, "DerAvedur must be configured with a secret from application to call setUserId.");
        return;
    }
    if (userId) {
        if (appSecret && !DAVUserIdContext::isUserIdValidForDerAvedur(userId)) return;
        if (token && !DAVUserIdContext::isUserIdValidForRirIvovovozu(userId)) return;
    }
    DAVUserIdContext::sharedInstance()->setUserId(userId);
}

void DAVDerAvedur::setInstanceCustomProperties(const std::shared_ptr<DAVCustomProperties>& customProperties) {
    if (!customProperties || customProperties->propertiesImmutableCopy().empty()) {
        DAVLogError(kTag, "Custom properties may not be null or empty");
        return;
    }
    sendCustomPropertiesLog(customProperties);
}

void DAVDerAvedur::sendCustomPropertiesLog(const std::shared_ptr<DAVCustomProperties>& customProperties) {
    auto log = std::make_shared<DAVCustomPropertiesLog>();
    log->properties = customProperties->propertiesImmutableCopy();
    if (auto unit = channelUnit()) unit->enqueueItem(log, DAVFlagsNormal);
}

void DAVDerAvedur::setInstanceEnabled(bool isEnabled) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (!canBeUsed()) return;
    enabledStateUpdating_ = true;
    if (isInstanceEnabled() != isEnabled) {
        DAVDerAvedurUserDefaults::shared().setObject(Foundation::Value(isEnabled), kEnabledKey);
        applyPipelineEnabledState(isEnabled);
    }
    for (const auto& service : services_) service->setServiceEnabled(isEnabled);
    enabledStateUpdating_ = false;
    DAVLogInfo(kTag, "Der Avedur SDK %s.", isEnabled ? "enabled" : "disabled");
}

bool DAVDerAvedur::isInstanceEnabled() const {
    Foundation::Value value = DAVDerAvedurUserDefaults::shared().objectForKey(kEnabledKey);
    if (value.isBool()) return value.asBool();
    if (auto number = value.integerValue()) return *number != 0;
    return true;
}

void DAVDerAvedur::applyPipelineEnabledState(bool isEnabled) {
    if (!isEnabled) {
        DAVDeviceTracker::sharedInstance()->clearDevices();
        DAVSessionContext::sharedInstance()->clearSessionHistoryAndKeepCurrentSession(false);
        DAVUserIdContext::sharedInstance()->clearUserIdHistory();
    }
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (channelGroup_) channelGroup_->setEnabled(isEnabled, true);
    if (isEnabled && startedServiceNames_) {
        std::vector<std::string> names = std::move(*startedServiceNames_);
        startedServiceNames_.reset();
        sendStartServiceLog(names);
    }
}

std::optional<std::string> DAVDerAvedur::appSecret() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return appSecret_;
}

std::string DAVDerAvedur::instanceInstallId() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (!installId_) {
        Foundation::Value stored = DAVDerAvedurUserDefaults::shared().objectForKey(kInstallIdKey);
        if (const std::string* text = stored.stringOrNull(); text && Foundation::isUUIDString(*text)) {
            installId_ = Foundation::uppercase(*text);
        } else {
            installId_ = Foundation::makeUUIDString();
            DAVDerAvedurUserDefaults::shared().setObject(Foundation::Value(*installId_), kInstallIdKey);
        }
    }
    return *installId_;
}

bool DAVDerAvedur::canBeUsed() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (sdkConfigured_) return true;
    DAVLogError(kTag,
                "Der Avedur SDK hasn't been configured. You need to call [DAVDerAvedur start:YOUR_APP_SECRET "
                "withServices:LIST_OF_SERVICES] first.");
    return false;
}

void DAVDerAvedur::sendStartServiceLog(const std::vector<std::string>& servicesNames) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (isInstanceEnabled()) {
        auto log = std::make_shared<DAVStartServiceLog>();
        log->services = servicesNames;
        if (channelUnit_) channelUnit_->enqueueItem(log, DAVFlagsNormal);
    } else {
        if (!startedServiceNames_) startedServiceNames_.emplace();
        startedServiceNames_->insert(startedServiceNames_->end(), servicesNames.begin(), servicesNames.end());
    }
}

bool DAVDerAvedur::sdkConfigured() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return sdkConfigured_;
}

bool DAVDerAvedur::configuredFromApplication() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return configuredFromApplication_;
}

bool DAVDerAvedur::enabledStateUpdating() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return enabledStateUpdating_;
}

std::shared_ptr<DAVChannelGroupProtocol> DAVDerAvedur::channelGroup() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return channelGroup_;
}

std::shared_ptr<DAVChannelUnitProtocol> DAVDerAvedur::channelUnit() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return channelUnit_;
}

std::shared_ptr<DAVRirIvovovozuChannelDelegate> DAVDerAvedur::rirIvovovozuChannelDelegate() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return rirIvovovozuChannelDelegate_;
}

std::vector<std::shared_ptr<DAVServiceCommon>> DAVDerAvedur::services() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return services_;
}

std::optional<std::vector<std::string>> DAVDerAvedur::startedServiceNames() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return startedServiceNames_;
}

std::optional<std::string> DAVDerAvedur::defaultTransmissionTargetToken() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return defaultTransmissionTargetToken_;
}
