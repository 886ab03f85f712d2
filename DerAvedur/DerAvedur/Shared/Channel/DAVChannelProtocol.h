#pragma once
#include <memory>

class DAVChannelDelegate;

// An object that holds a channel paused: compared by identity, held weakly,
// so a pauser that is released no longer counts.
using DAVIdentifyingObject = std::shared_ptr<void>;

class DAVEnable {
public:
    virtual ~DAVEnable() = default;
    // setEnabled:andDeleteDataOnDisabled:
    virtual void setEnabled(bool isEnabled, bool deleteDataOnDisabled) = 0;
};

class DAVChannelProtocol : public DAVEnable {
public:
    // Delegates are held weakly.
    virtual void addDelegate(const std::shared_ptr<DAVChannelDelegate>& delegate) = 0;
    virtual void removeDelegate(const std::shared_ptr<DAVChannelDelegate>& delegate) = 0;
    virtual void pauseWithIdentifyingObject(const DAVIdentifyingObject& identifyingObject) = 0;
    virtual void resumeWithIdentifyingObject(const DAVIdentifyingObject& identifyingObject) = 0;
};
