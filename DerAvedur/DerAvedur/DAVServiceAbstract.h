#pragma once
// The base of the SDK's services (analytics, crashes): a process-wide
// instance per service, started once by the SDK entry with the channel group,
// holding its own channel unit and its persisted enabled state.

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "DerAvedur/DerAvedur/Shared/Channel/DAVChannelGroupProtocol.h"

// What the SDK entry asks of a service.
class DAVServiceCommon {
public:
    virtual ~DAVServiceCommon() = default;

    virtual std::string serviceName() const = 0;
    virtual std::string logTag() const = 0;
    virtual std::string groupId() const = 0;
    virtual bool isAppSecretRequired() const = 0;
    // Services of higher priority start first.
    virtual int initializationPriority() const = 0;
    // Started (it has a channel group).
    virtual bool isAvailable() const = 0;
    virtual bool isStartedFromApplication() const = 0;
    virtual void startWithChannelGroup(const std::shared_ptr<DAVChannelGroupProtocol>& channelGroup,
                                       const std::optional<std::string>& appSecret,
                                       const std::optional<std::string>& transmissionTargetToken,
                                       bool fromApplication) = 0;
    virtual void updateConfigurationWithAppSecret(const std::optional<std::string>& appSecret,
                                                  const std::optional<std::string>& transmissionTargetToken) = 0;
    // The service's class-level switch: usable and enabled.
    virtual bool isServiceEnabled() = 0;
    // The class-level setter: refused while the SDK as a whole is disabled,
    // except while the SDK itself is pushing its state to the services.
    virtual void setServiceEnabled(bool isEnabled) = 0;
};

// A service "class" as the SDK entry is given it: the way to its shared
// instance and a name for messages. A default-made one is nil.
class DAVServiceClass {
public:
    using SharedInstanceFunction = std::shared_ptr<DAVServiceCommon> (*)();

    DAVServiceClass() = default;
    DAVServiceClass(std::string name, SharedInstanceFunction sharedInstance)
        : name_(std::move(name)), sharedInstance_(sharedInstance) {}

    // For a service type with `static std::shared_ptr<Service> sharedInstance()`.
    template <class Service>
    static DAVServiceClass of(std::string name) {
        return DAVServiceClass(
            std::move(name), +[]() -> std::shared_ptr<DAVServiceCommon> { return Service::sharedInstance(); });
    }

    bool isNil() const { return sharedInstance_ == nullptr; }
    const std::string& name() const { return name_; }
    std::shared_ptr<DAVServiceCommon> sharedInstance() const { return sharedInstance_ ? sharedInstance_() : nullptr; }

private:
    std::string name_;
    SharedInstanceFunction sharedInstance_ = nullptr;
};

class DAVServiceAbstract : public DAVServiceCommon {
public:
    static constexpr int kDefaultInitializationPriority = 500;

    // The service's group id by default.
    std::string groupId() const override { return serviceName(); }
    bool isAppSecretRequired() const override { return true; }
    int initializationPriority() const override { return kDefaultInitializationPriority; }
    bool isAvailable() const override;
    bool isStartedFromApplication() const override;
    // Keeps the group, secret and token, adds the service's unit (when it has
    // a configuration) and applies the persisted enabled state.
    void startWithChannelGroup(const std::shared_ptr<DAVChannelGroupProtocol>& channelGroup,
                               const std::optional<std::string>& appSecret,
                               const std::optional<std::string>& transmissionTargetToken,
                               bool fromApplication) override;
    // The application takes over a service a library started: its secret and
    // token fill what is missing.
    void updateConfigurationWithAppSecret(const std::optional<std::string>& appSecret,
                                          const std::optional<std::string>& transmissionTargetToken) override;
    bool isServiceEnabled() override;
    void setServiceEnabled(bool isEnabled) override;

    // "<group id>IsEnabled" in the SDK user defaults; absent means enabled.
    std::string isEnabledKey() const;
    bool isInstanceEnabled() const;
    // Persists a change and applies it.
    virtual void setInstanceEnabled(bool isEnabled);
    // Enables or disables the service's unit; disabling deletes its logs.
    virtual void applyEnabledState(bool isEnabled);
    // Nothing: the service has no unit of its own.
    virtual std::shared_ptr<DAVChannelUnitConfiguration> channelUnitConfiguration() const;
    // Started; logs an error otherwise.
    bool canBeUsed() const;

    std::shared_ptr<DAVChannelGroupProtocol> channelGroup() const;
    std::shared_ptr<DAVChannelUnitProtocol> channelUnit() const;
    std::optional<std::string> appSecret() const;
    std::optional<std::string> defaultTransmissionTargetToken() const;

protected:
    // Recursive: code outside the service runs under it (the crash handler
    // setup delegate of a wrapper SDK, from applyEnabledState) and may call
    // the service's public interface back on the same thread.
    mutable std::recursive_mutex lock_;

private:
    std::shared_ptr<DAVChannelGroupProtocol> channelGroup_;
    std::shared_ptr<DAVChannelUnitProtocol> channelUnit_;
    std::optional<std::string> appSecret_;
    std::optional<std::string> defaultTransmissionTargetToken_;
    bool startedFromApplication_ = false;
};
