// The crashes service as its channel's delegate: crash-time log buffering of
// what the channel prepares, and the crashes delegate told about error reports
// as they are sent. Apart from the service's life cycle and report processing
// in DAVCrashes.cpp because it runs on the channel's calls only.
#include "DerAvedurCrashes/DerAvedurCrashes/DAVCrashes.h"

#include "DerAvedur/DerAvedur/Shared/Util/DAVDispatcherUtil.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/DAVCrashesLogBuffer.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVAppleErrorLog.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Util/DAVErrorLogFormatter.h"

void DAVCrashes::channelDidPrepareLog(const std::shared_ptr<DAVChannelProtocol>&, const std::shared_ptr<DAVLog>& log,
                                      const std::string& internalId, DAVFlags) {
    if (!enabled_) return;
    if (auto abstractLog = std::dynamic_pointer_cast<DAVAbstractLog>(log))
        DAVCrashesLogBuffer::addLog(*abstractLog, internalId, targetTokenEncrypter_);
}

void DAVCrashes::channelDidCompleteEnqueueingLog(const std::shared_ptr<DAVChannelProtocol>&,
                                                 const std::shared_ptr<DAVLog>&, const std::string& internalId) {
    DAVCrashesLogBuffer::removeLog(internalId);
}

namespace {

// The delegate hears about crash logs only, on the main thread.
template <class Call>
void notifyDelegate(DAVCrashes& crashes, const std::shared_ptr<DAVCrashesDelegate>& delegate,
                    const std::shared_ptr<DAVLog>& log, Call call) {
    auto errorLog = std::dynamic_pointer_cast<DAVAppleErrorLog>(log);
    if (!delegate || !errorLog) return;
    auto report = DAVErrorLogFormatter::errorReportFromLog(*errorLog);
    auto self = crashes.shared_from_this();
    DAVDispatcherUtil::performBlockOnMainThread([self, delegate, report, call] { call(*delegate, *self, report); });
}

}  // namespace

void DAVCrashes::channelWillSendLog(const std::shared_ptr<DAVChannelProtocol>&, const std::shared_ptr<DAVLog>& log) {
    notifyDelegate(*this, currentDelegate(), log,
                   [](DAVCrashesDelegate& d, DAVCrashes& c, const std::shared_ptr<DAVErrorReport>& r) {
                       d.crashesWillSendErrorReport(c, r);
                   });
}

void DAVCrashes::channelDidSucceedSendingLog(const std::shared_ptr<DAVChannelProtocol>&,
                                             const std::shared_ptr<DAVLog>& log) {
    notifyDelegate(*this, currentDelegate(), log,
                   [](DAVCrashesDelegate& d, DAVCrashes& c, const std::shared_ptr<DAVErrorReport>& r) {
                       d.crashesDidSucceedSendingErrorReport(c, r);
                   });
}

void DAVCrashes::channelDidFailSendingLog(const std::shared_ptr<DAVChannelProtocol>&,
                                          const std::shared_ptr<DAVLog>& log,
                                          const std::optional<Foundation::Error>& error) {
    notifyDelegate(*this, currentDelegate(), log,
                   [error](DAVCrashesDelegate& d, DAVCrashes& c, const std::shared_ptr<DAVErrorReport>& r) {
                       d.crashesDidFailSendingErrorReport(c, r, error);
                   });
}
