#include "Platform/AppKit/NSHost.h"

#include <unistd.h>

#include <fstream>
#include <mutex>

namespace AppKit {

namespace {
std::mutex gMutex;
bool gOverridden = false;
std::optional<std::string> gOverride;

std::optional<std::string> machineName() {
    std::ifstream info("/etc/machine-info");
    std::string line;
    while (std::getline(info, line)) {
        if (line.rfind("PRETTY_HOSTNAME=", 0) != 0) continue;
        std::string value = line.substr(16);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        if (!value.empty()) return value;
    }
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return std::nullopt;
    return std::string(name);
}
}  // namespace

std::shared_ptr<NSHost> NSHost::currentHost() {
    static auto host = std::make_shared<NSHost>();
    return host;
}

std::optional<std::string> NSHost::localizedName() const {
    {
        std::lock_guard lock(gMutex);
        if (gOverridden) return gOverride;
    }
    return machineName();
}

void NSHost::setLocalizedName(std::optional<std::string> name) {
    std::lock_guard lock(gMutex);
    gOverridden = true;
    gOverride = std::move(name);
}

void NSHost::resetLocalizedName() {
    std::lock_guard lock(gMutex);
    gOverridden = false;
    gOverride.reset();
}

}  // namespace AppKit
