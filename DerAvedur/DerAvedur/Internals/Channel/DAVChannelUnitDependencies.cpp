#include "DerAvedur/DerAvedur/Internals/Channel/DAVChannelUnitDependencies.h"

#include "DerAvedur/DerAvedur/Internals/Context/DAVDeviceTracker.h"
#include "DerAvedur/DerAvedur/Internals/Util/DAVDerAvedurUserDefaults.h"

DAVChannelUnitDependencies DAVChannelUnitDependencies::shared() {
    return {DAVDeviceTracker::sharedInstance(), DAVDerAvedurUserDefaults::sharedInstance()};
}
