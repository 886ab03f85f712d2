#pragma once
// Shared fixtures of the telemetry SDK suites.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DerAvedur/DerAvedur/Shared/Model/DAVDevice.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "Platform/Foundation/Text.h"

namespace DAVTest {

struct LoggedMessage {
    DAVLogLevel level;
    std::string tag;
    std::string text;
};

// Records every SDK message (whatever the level) while alive, then puts the
// logger back as it was at start.
class MessageRecorder {
public:
    MessageRecorder() {
        DAVLogger::setLogHandler([this](const DAVLogMessageProvider& message, DAVLogLevel level, const std::string& tag,
                                        const char*, const char*, unsigned) {
            std::lock_guard<std::mutex> guard(lock_);
            messages_.push_back({level, tag, message ? message() : std::string()});
        });
    }
    ~MessageRecorder() { DAVLogger::resetForTesting(); }

    std::vector<LoggedMessage> messages() const {
        std::lock_guard<std::mutex> guard(lock_);
        return messages_;
    }
    bool contains(DAVLogLevel level, const std::string& text) const {
        for (const auto& m : messages())
            if (m.level == level && m.text == text) return true;
        return false;
    }
    bool containsPrefix(DAVLogLevel level, const std::string& prefix) const {
        for (const auto& m : messages())
            if (m.level == level && m.text.compare(0, prefix.size(), prefix) == 0) return true;
        return false;
    }
    std::size_t count(const std::string& text) const {
        std::size_t n = 0;
        for (const auto& m : messages()) n += m.text == text;
        return n;
    }
    void clear() {
        std::lock_guard<std::mutex> guard(lock_);
        messages_.clear();
    }

private:
    mutable std::mutex lock_;
    std::vector<LoggedMessage> messages_;
};

inline std::shared_ptr<DAVDevice> makeDevice() {
    auto device = std::make_shared<DAVDevice>();
    device->sdkName = "deravedur.macos";
    device->sdkVersion = "4.1.1";
    device->model = "ThinkPad X1";
    device->oemName = "LENOVO";
    device->osName = "Debian GNU/Linux";
    device->osVersion = "12";
    device->osBuild = "6.1.0-18-amd64";
    device->locale = "en_GB";
    device->timeZoneOffset = 60;
    device->appVersion = "1.0.0";
    device->appBuild = "42";
    device->appNamespace = "com.tarnwick.vexil";
    return device;
}

// A unique name for files of one test, so parallel test processes never share one.
inline std::string uniqueName(const std::string& stem) { return stem + "-" + Foundation::makeUUIDString(); }

}  // namespace DAVTest
