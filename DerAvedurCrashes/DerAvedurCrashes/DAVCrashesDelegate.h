#pragma once
// What the application may learn and decide about crash reports. Every method
// is optional: the defaults behave as an absent method.

#include <memory>
#include <optional>
#include <vector>

#include "DerAvedurCrashes/DerAvedurCrashes/DAVErrorAttachmentLog.h"
#include "DerAvedurCrashes/DerAvedurCrashes/DAVErrorReport.h"
#include "Platform/Foundation/Error.h"

class DAVCrashes;

class DAVCrashesDelegate {
public:
    virtual ~DAVCrashesDelegate() = default;

    // crashes:shouldProcessErrorReport: (false discards the report).
    virtual bool crashesShouldProcessErrorReport(DAVCrashes& /*crashes*/,
                                                 const std::shared_ptr<DAVErrorReport>& /*errorReport*/) {
        return true;
    }
    // attachmentsWithCrashes:forErrorReport: (nothing: not implemented).
    virtual std::optional<std::vector<std::shared_ptr<DAVErrorAttachmentLog>>> attachmentsWithCrashes(
        DAVCrashes& /*crashes*/, const std::shared_ptr<DAVErrorReport>& /*errorReport*/) {
        return std::nullopt;
    }
    // The three send callbacks arrive on the main thread.
    virtual void crashesWillSendErrorReport(DAVCrashes& /*crashes*/,
                                            const std::shared_ptr<DAVErrorReport>& /*errorReport*/) {}
    virtual void crashesDidSucceedSendingErrorReport(DAVCrashes& /*crashes*/,
                                                     const std::shared_ptr<DAVErrorReport>& /*errorReport*/) {}
    virtual void crashesDidFailSendingErrorReport(DAVCrashes& /*crashes*/,
                                                  const std::shared_ptr<DAVErrorReport>& /*errorReport*/,
                                                  const std::optional<Foundation::Error>& /*error*/) {}
};
