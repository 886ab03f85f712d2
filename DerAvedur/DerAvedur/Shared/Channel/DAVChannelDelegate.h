#pragma once
// What units and groups tell their delegates. Every method is optional: the
// defaults do nothing (and filter nothing). "Channel" is the unit that
// reports; the group passes unit calls on unchanged.

#include <memory>
#include <optional>
#include <string>

#include "DerAvedur/DerAvedur/DAVConstants.h"
#include "DerAvedur/DerAvedur/Shared/Channel/DAVChannelProtocol.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVLog.h"
#include "Platform/Foundation/Error.h"

class DAVChannelGroupProtocol;
class DAVChannelUnitProtocol;

class DAVChannelDelegate {
public:
    virtual ~DAVChannelDelegate() = default;

    // channelGroup:didAddChannelUnit: (sent by the group, on the caller's thread).
    virtual void channelGroupDidAddChannelUnit(const std::shared_ptr<DAVChannelGroupProtocol>& /*channelGroup*/,
                                               const std::shared_ptr<DAVChannelUnitProtocol>& /*channel*/) {}
    // channel:prepareLog: (caller's thread; the delegate may change the log).
    virtual void channelPrepareLog(const std::shared_ptr<DAVChannelProtocol>& /*channel*/,
                                   const std::shared_ptr<DAVLog>& /*log*/) {}
    // channel:didPrepareLog:internalId:flags: (caller's thread).
    virtual void channelDidPrepareLog(const std::shared_ptr<DAVChannelProtocol>& /*channel*/,
                                      const std::shared_ptr<DAVLog>& /*log*/, const std::string& /*internalId*/,
                                      DAVFlags /*flags*/) {}
    // channel:didCompleteEnqueueingLog:internalId: (queue).
    virtual void channelDidCompleteEnqueueingLog(const std::shared_ptr<DAVChannelProtocol>& /*channel*/,
                                                 const std::shared_ptr<DAVLog>& /*log*/,
                                                 const std::string& /*internalId*/) {}
    // channel:willSendLog:
    virtual void channelWillSendLog(const std::shared_ptr<DAVChannelProtocol>& /*channel*/,
                                    const std::shared_ptr<DAVLog>& /*log*/) {}
    // channel:didSucceedSendingLog:
    virtual void channelDidSucceedSendingLog(const std::shared_ptr<DAVChannelProtocol>& /*channel*/,
                                             const std::shared_ptr<DAVLog>& /*log*/) {}
    // channel:didSetEnabled:andDeleteDataOnDisabled:
    virtual void channelDidSetEnabled(const std::shared_ptr<DAVChannelProtocol>& /*channel*/, bool /*isEnabled*/,
                                      bool /*deletedData*/) {}
    // channel:didFailSendingLog:withError:
    virtual void channelDidFailSendingLog(const std::shared_ptr<DAVChannelProtocol>& /*channel*/,
                                          const std::shared_ptr<DAVLog>& /*log*/,
                                          const std::optional<Foundation::Error>& /*error*/) {}
    // channel:didPauseWithIdentifyingObject:
    virtual void channelDidPauseWithIdentifyingObject(const std::shared_ptr<DAVChannelProtocol>& /*channel*/,
                                                      const DAVIdentifyingObject& /*identifyingObject*/) {}
    // channel:didResumeWithIdentifyingObject:
    virtual void channelDidResumeWithIdentifyingObject(const std::shared_ptr<DAVChannelProtocol>& /*channel*/,
                                                       const DAVIdentifyingObject& /*identifyingObject*/) {}
    // channelUnit:shouldFilterLog: (queue); true drops the log.
    virtual bool channelUnitShouldFilterLog(const std::shared_ptr<DAVChannelUnitProtocol>& /*channelUnit*/,
                                            const std::shared_ptr<DAVLog>& /*log*/) {
        return false;
    }
};
