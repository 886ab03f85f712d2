#pragma once
// What the application hears of its events and pages as they are sent. Every
// method is optional; calls come on the channel group's queue.

#include <memory>
#include <optional>

#include "Platform/Foundation/Error.h"

class DAVAnalytics;
class DAVEventLog;
class DAVPageLog;

class DAVAnalyticsDelegate {
public:
    virtual ~DAVAnalyticsDelegate() = default;

    virtual void analyticsWillSendEventLog(DAVAnalytics& /*analytics*/, const std::shared_ptr<DAVEventLog>& /*log*/) {}
    virtual void analyticsWillSendPageLog(DAVAnalytics& /*analytics*/, const std::shared_ptr<DAVPageLog>& /*log*/) {}
    virtual void analyticsDidSucceedSendingEventLog(DAVAnalytics& /*analytics*/,
                                                    const std::shared_ptr<DAVEventLog>& /*log*/) {}
    virtual void analyticsDidSucceedSendingPageLog(DAVAnalytics& /*analytics*/,
                                                   const std::shared_ptr<DAVPageLog>& /*log*/) {}
    virtual void analyticsDidFailSendingEventLog(DAVAnalytics& /*analytics*/,
                                                 const std::shared_ptr<DAVEventLog>& /*log*/,
                                                 const std::optional<Foundation::Error>& /*error*/) {}
    virtual void analyticsDidFailSendingPageLog(DAVAnalytics& /*analytics*/, const std::shared_ptr<DAVPageLog>& /*log*/,
                                                const std::optional<Foundation::Error>& /*error*/) {}
};
