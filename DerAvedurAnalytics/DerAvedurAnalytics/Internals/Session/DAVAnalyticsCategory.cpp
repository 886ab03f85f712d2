#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Session/DAVAnalyticsCategory.h"

#include <mutex>

namespace {
std::mutex& nameLock() {
    static std::mutex lock;
    return lock;
}
std::string& storedName() {
    static std::string name;
    return name;
}
}  // namespace

std::string DAVAnalyticsCategory::missedPageViewName() {
    std::lock_guard<std::mutex> guard(nameLock());
    return storedName();
}

void DAVAnalyticsCategory::setMissedPageViewName(std::string name) {
    std::lock_guard<std::mutex> guard(nameLock());
    storedName() = std::move(name);
}
