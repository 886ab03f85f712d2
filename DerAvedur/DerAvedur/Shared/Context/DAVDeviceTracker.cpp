#include "DerAvedur/DerAvedur/Shared/Context/DAVDeviceTracker.h"

#include <sys/utsname.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

#include "DerAvedur/DerAvedur/Internals/Context/DAVContextHistory.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/SharedInstance.h"

namespace {

constexpr const char* kHistoryKey = "PastDevices";

std::string trimmed(const std::string& text) {
    const char* blanks = " \t\r\n";
    std::size_t start = text.find_first_not_of(blanks);
    if (start == std::string::npos) return {};
    return text.substr(start, text.find_last_not_of(blanks) - start + 1);
}

std::string joinPath(const std::string& root, const std::string& path) {
    if (root.empty() || root == "/") return "/" + path;
    return root + (root.back() == '/' ? "" : "/") + path;
}

// The first line of a small system file, trimmed; nothing when unreadable or empty.
std::optional<std::string> readLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    line = trimmed(line);
    if (line.empty()) return std::nullopt;
    return line;
}

std::optional<std::string> osReleaseValue(const std::string& root, const std::string& wanted) {
    for (const char* file : {"etc/os-release", "usr/lib/os-release"}) {
        std::ifstream in(joinPath(root, file));
        if (!in) continue;
        std::string line;
        while (std::getline(in, line)) {
            std::size_t equals = line.find('=');
            if (equals == std::string::npos || trimmed(line.substr(0, equals)) != wanted) continue;
            std::string value = trimmed(line.substr(equals + 1));
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
                value = value.substr(1, value.size() - 2);
            if (value.empty()) return std::nullopt;
            return value;
        }
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::string> infoString(const char* key) {
    Foundation::Value value = Foundation::Bundle::main().objectForInfoDictionaryKey(key);
    if (value.isString() && !value.asString().empty()) return value.asString();
    return std::nullopt;
}

}  // namespace

std::shared_ptr<DAVDeviceTracker> DAVDeviceTracker::sharedInstance() {
    return Foundation::SharedInstance<DAVDeviceTracker>::process().get();
}

void DAVDeviceTracker::resetSharedInstance() { Foundation::SharedInstance<DAVDeviceTracker>::process().reset(); }

DAVDeviceTracker::DAVDeviceTracker() : history_(DAVContextHistory::load<DAVDeviceHistoryInfo>(kHistoryKey)) {}

std::string DAVDeviceTracker::localeIdentifier() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (!value || !*value) continue;
        std::string text(value);
        text = text.substr(0, text.find_first_of(".@"));
        if (text.empty() || text == "C" || text == "POSIX") break;
        return text;
    }
    return "en_US";
}

std::int64_t DAVDeviceTracker::timeZoneOffsetMinutes() {
    std::time_t now = static_cast<std::time_t>(Foundation::clock().now());
    std::tm local{};
    if (!localtime_r(&now, &local)) return 0;
    return static_cast<std::int64_t>(local.tm_gmtoff / 60);
}

std::shared_ptr<DAVDevice> DAVDeviceTracker::makeDevice(const std::string& root,
                                                        const std::shared_ptr<DAVWrapperSdk>& wrapperSdk,
                                                        const std::optional<std::string>& countryCode) {
    auto device = std::make_shared<DAVDevice>();
    if (wrapperSdk) {
        device->wrapperSdkVersion = wrapperSdk->wrapperSdkVersion;
        device->wrapperSdkName = wrapperSdk->wrapperSdkName;
        device->wrapperRuntimeVersion = wrapperSdk->wrapperRuntimeVersion;
        device->liveUpdateReleaseLabel = wrapperSdk->liveUpdateReleaseLabel;
        device->liveUpdateDeploymentKey = wrapperSdk->liveUpdateDeploymentKey;
        device->liveUpdatePackageHash = wrapperSdk->liveUpdatePackageHash;
    }
    device->sdkName = DAVUtility::sdkName();
    device->sdkVersion = DAVUtility::sdkVersion();
    device->model = readLine(joinPath(root, "sys/class/dmi/id/product_name"));
    device->oemName = readLine(joinPath(root, "sys/class/dmi/id/sys_vendor"));

    struct utsname system {};
    const bool haveUname = ::uname(&system) == 0;
    device->osName = osReleaseValue(root, "NAME");
    if (!device->osName && haveUname) device->osName = std::string(system.sysname);
    device->osVersion = osReleaseValue(root, "VERSION_ID");
    if (haveUname) {
        device->osBuild = std::string(system.release);
        if (!device->osVersion) device->osVersion = std::string(system.release);
    }
    device->locale = localeIdentifier();
    device->timeZoneOffset = timeZoneOffsetMinutes();
    device->appVersion = infoString("CFBundleShortVersionString");
    device->appBuild = infoString("CFBundleVersion");
    device->appNamespace = Foundation::Bundle::main().bundleIdentifier();
    device->carrierCountry = countryCode;
    return device;
}

std::shared_ptr<DAVDevice> DAVDeviceTracker::refreshLocked() {
    device_ = makeDevice("/", wrapperSdk_, countryCode_);
    auto info = std::make_shared<DAVDeviceHistoryInfo>();
    info->timestamp = Foundation::Date{Foundation::clock().now()};
    info->device = device_;
    history_.push_back(info);
    DAVContextHistory::store(kHistoryKey, history_);
    return device_;
}

std::shared_ptr<DAVDevice> DAVDeviceTracker::device() {
    std::lock_guard<std::mutex> guard(lock_);
    return device_ ? device_ : refreshLocked();
}

std::shared_ptr<DAVWrapperSdk> DAVDeviceTracker::wrapperSdk() {
    std::lock_guard<std::mutex> guard(lock_);
    return wrapperSdk_;
}

void DAVDeviceTracker::setWrapperSdk(std::shared_ptr<DAVWrapperSdk> wrapperSdk) {
    std::lock_guard<std::mutex> guard(lock_);
    wrapperSdk_ = std::move(wrapperSdk);
    refreshLocked();
}

std::optional<std::string> DAVDeviceTracker::countryCode() {
    std::lock_guard<std::mutex> guard(lock_);
    return countryCode_;
}

void DAVDeviceTracker::setCountryCode(std::optional<std::string> countryCode) {
    std::lock_guard<std::mutex> guard(lock_);
    countryCode_ = std::move(countryCode);
    refreshLocked();
}

std::shared_ptr<DAVDevice> DAVDeviceTracker::deviceForTimestamp(std::optional<Foundation::Date> timestamp) {
    std::lock_guard<std::mutex> guard(lock_);
    if (timestamp && !history_.empty()) {
        if (auto info = DAVContextHistory::entryAt(history_, *timestamp); info && info->device) return info->device;
        // Older than every record: the oldest is the best guess.
        if (history_.front()->device) return history_.front()->device;
    }
    return device_ ? device_ : refreshLocked();
}

void DAVDeviceTracker::clearDevices() {
    std::lock_guard<std::mutex> guard(lock_);
    history_.clear();
    if (device_) {
        auto info = std::make_shared<DAVDeviceHistoryInfo>();
        info->timestamp = Foundation::Date{Foundation::clock().now()};
        info->device = device_;
        history_.push_back(info);
    }
    DAVContextHistory::store(kHistoryKey, history_);
}

std::vector<std::shared_ptr<DAVDeviceHistoryInfo>> DAVDeviceTracker::pastDevices() {
    std::lock_guard<std::mutex> guard(lock_);
    return history_;
}
