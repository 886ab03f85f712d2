#pragma once
// What a channel unit reads beyond its pipeline: the device stamped on each
// log and the SDK defaults that keep a long flush interval's start across
// launches. The SDK gives every unit the process's shared ones; tests give
// their own.

#include <memory>

class DAVDeviceTracker;
class DAVDerAvedurUserDefaults;

struct DAVChannelUnitDependencies {
    std::shared_ptr<DAVDeviceTracker> deviceTracker;
    std::shared_ptr<DAVDerAvedurUserDefaults> defaults;

    static DAVChannelUnitDependencies shared();
};
