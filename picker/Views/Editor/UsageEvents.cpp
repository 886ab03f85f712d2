#include "picker/Views/Editor/UsageEvents.h"

#include "DerAvedurAnalytics/DerAvedurAnalytics/DAVAnalytics.h"

namespace {
std::function<void(const std::string&)>& observer() {
    static std::function<void(const std::string&)> o;
    return o;
}
}  // namespace

void trackUsageEvent(const std::string& name) {
    DAVAnalytics::trackEvent(name);
    if (auto& o = observer()) o(name);
}

void setUsageEventObserver(std::function<void(const std::string&)> o) { observer() = std::move(o); }
