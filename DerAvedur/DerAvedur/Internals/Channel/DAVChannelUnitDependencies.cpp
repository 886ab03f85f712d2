#include "DerAvedur/DerAvedur/Internals/Channel/DAVChannelUnitDependencies.h"

#include "DerAvedur/DerAvedur/Shared/Context/DAVDeviceTracker.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVDerAvedurUserDefaults.h"

DAVChannelUnitDependencies DAVChannelUnitDependencies::shared() {
    return {DAVDeviceTracker::sharedInstance(), DAVDerAvedurUserDefaults::sharedInstance()};
}
