#pragma once
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DerAvedur/DerAvedur/Shared/Context/DAVHistoryInfo.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVDevice.h"

// The current device record, built from the running system and the main
// bundle, with a history of past devices ("PastDevices") for logs of an
// earlier launch (crashes).
class DAVDeviceTracker {
public:
    static std::shared_ptr<DAVDeviceTracker> sharedInstance();
    static void resetSharedInstance();

    DAVDeviceTracker();

    // Built on first use and again after the wrapper SDK or country changes.
    std::shared_ptr<DAVDevice> device();
    std::shared_ptr<DAVWrapperSdk> wrapperSdk();
    void setWrapperSdk(std::shared_ptr<DAVWrapperSdk> wrapperSdk);
    std::optional<std::string> countryCode();
    void setCountryCode(std::optional<std::string> countryCode);

    // The device in use at `timestamp`; the current one when unknown.
    std::shared_ptr<DAVDevice> deviceForTimestamp(std::optional<Foundation::Date> timestamp);
    // Forgets the past devices but the current one.
    void clearDevices();
    std::vector<std::shared_ptr<DAVDeviceHistoryInfo>> pastDevices();

    // A fresh record from the system below `root` ("/" normally): uname,
    // <root>/etc/os-release (or usr/lib/os-release), the DMI files of
    // <root>/sys/class/dmi/id; a missing source leaves its fields unset.
    static std::shared_ptr<DAVDevice> makeDevice(const std::string& root = "/",
                                                 const std::shared_ptr<DAVWrapperSdk>& wrapperSdk = nullptr,
                                                 const std::optional<std::string>& countryCode = std::nullopt);
    // "en_US" from LC_ALL / LC_MESSAGES / LANG ("en_US.UTF-8"); "en_US" for C and POSIX.
    static std::string localeIdentifier();
    // Minutes east of UTC now.
    static std::int64_t timeZoneOffsetMinutes();

private:
    std::shared_ptr<DAVDevice> refreshLocked();

    std::mutex lock_;
    std::shared_ptr<DAVDevice> device_;
    std::shared_ptr<DAVWrapperSdk> wrapperSdk_;
    std::optional<std::string> countryCode_;
    std::vector<std::shared_ptr<DAVDeviceHistoryInfo>> history_;
};
